#!/usr/bin/env bash
# Signs Windows programs in place: Authenticode with SHA-256 (osslsigncode), with the certificate
# and key of the PKCS#12 file PW_SIGN_PFX. Its password comes from the file PW_SIGN_PASSWORD_FILE,
# else from PW_SIGN_PASSWORD, else there is none. With PW_SIGN_TIMESTAMP_URL the signature is
# time-stamped by that RFC 3161 server. scripts/package.sh calls it for the programs and the
# installer, and makensis for the uninstaller before it packs it. See docs/releasing.md.
#
#   sign.sh FILE...    sign each file
#   sign.sh --check    only check that the settings are usable
set -euo pipefail

fail() {
    echo "sign: $*" >&2
    exit 1
}
[ -n "${PW_SIGN_PFX:-}" ] || fail "PW_SIGN_PFX names no certificate file"
[ -r "$PW_SIGN_PFX" ] || fail "cannot read the certificate file $PW_SIGN_PFX"
if [ -n "${PW_SIGN_PASSWORD_FILE:-}" ]; then
    [ -r "$PW_SIGN_PASSWORD_FILE" ] || fail "cannot read the password file $PW_SIGN_PASSWORD_FILE"
fi
command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/setup.sh installs it)"
[ "${1:-}" = --check ] && exit 0

# The password never goes on a command line, where other users could read it.
password() {
    if [ -n "${PW_SIGN_PASSWORD_FILE:-}" ]; then
        # One line: the line end is not part of the password.
        head -n 1 "$PW_SIGN_PASSWORD_FILE" | tr -d '\r\n'
    else
        printf '%s' "${PW_SIGN_PASSWORD:-}"
    fi
}
options=(-pkcs12 "$PW_SIGN_PFX" -readpass /dev/stdin -h sha256 -n pwagent)
if [ -n "${PW_SIGN_TIMESTAMP_URL:-}" ]; then
    options+=(-ts "$PW_SIGN_TIMESTAMP_URL")
fi
for file in "$@"; do
    rm -f "$file.signed"
    if ! password | osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" \
        >"$file.sign.log" 2>&1; then
        cat "$file.sign.log" >&2
        rm -f "$file.signed" "$file.sign.log"
        fail "could not sign $file"
    fi
    rm -f "$file.sign.log"
    mv "$file.signed" "$file"
    echo "sign: signed $file${PW_SIGN_TIMESTAMP_URL:+ (time stamp from $PW_SIGN_TIMESTAMP_URL)}"
done
