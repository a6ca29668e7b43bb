#!/usr/bin/env bash
# What a release needs beyond the artefact tests, after scripts/package.sh has made
# build/package: a second build from a copy of the sources in another folder, minutes later,
# gives the same bytes (SHA256SUMS, every artefact, the manifests); then the copy is packaged
# again signed, with a throw-away CA, a code-signing certificate and a time-stamp server made
# here, and every signature is verified against that CA; the manifests then carry the signed
# artefacts' hashes. Needs no display.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
source "$(dirname "$0")/common.sh"
work="$PW_BUILD/release-test"
copy="$work/src"
copy_out="$copy/build/package"
certs="$work/certs"
artefacts=(pwagent.exe pwctrl.exe "$uninstaller" "$(basename "$zip")" "$(basename "$setup")")

[ -n "$version" ] && [ -f "$out/SHA256SUMS" ] || {
    echo "FAILED: no artefacts in $out: run scripts/package.sh" >&2
    exit 1
}
tsa_pid=""
trap '[ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null || true' EXIT

pw_log "a second build from a copy of the sources ($copy)"
rm -rf "$work"
mkdir -p "$copy"
# The files of the checkout as they are now, committed or not, without the build folders.
(cd "$PW_ROOT" && git ls-files -z -co --exclude-standard |
    while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
    tar --null -T - -cf -) | tar -C "$copy" -xf -
# The copy is no git checkout: it gets the first build's time stamps as a release rebuild would.
SOURCE_DATE_EPOCH="$(git -C "$PW_ROOT" log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
unset PW_BUILD PW_SIGN_PFX PW_SIGN_PASSWORD PW_SIGN_PASSWORD_FILE PW_SIGN_TIMESTAMP_URL
bash "$copy/scripts/package.sh" >"$work/unsigned.log" 2>&1 || {
    cat "$work/unsigned.log" >&2
    echo "FAILED: the second build" >&2
    exit 1
}
check "the second build says it signs nothing" grep -q 'not signed (PW_SIGN_PFX is not set)' \
    "$work/unsigned.log"
check "the second build's SHA256SUMS is the first's" cmp "$out/SHA256SUMS" "$copy_out/SHA256SUMS"
for artefact in "${artefacts[@]}"; do
    check "$artefact is byte for byte the first build's" cmp "$out/$artefact" "$copy_out/$artefact"
done
check "the manifests are the first build's" diff -r "$out/winget" "$copy_out/winget"
check "the Scoop manifest is the first build's" diff -r "$out/scoop" "$copy_out/scoop"

pw_log "signing with a throw-away certificate ($certs)"
mkdir -p "$certs"
cd "$certs"
newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }
# issue NAME EXTENDED-KEY-USAGE: a certificate of the CA.
issue() {
    newkey "$1.key"
    openssl req -new -key "$1.key" -subj "/CN=pwagent test $1" -out "$1.csr" 2>/dev/null
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
        "$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
newkey ca.key
openssl req -new -x509 -key ca.key -out ca.pem -days 30 -subj "/CN=pwagent test signing CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
issue signer codeSigning
issue tsa critical,timeStamping
printf 'throw-away password\n' >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
    -passout file:password.txt
cat >tsa.cnf <<CNF
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $certs/tsa-serial
signer_cert = $certs/tsa.pem
certs = $certs/ca.pem
signer_key = $certs/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
CNF
echo 01 >tsa-serial
/usr/bin/python3 "$PW_ROOT/tests/package/tsa.py" tsa.cnf tsa.port &
tsa_pid=$!
for ((i = 0; i < 100; i++)); do [ -s tsa.port ] && break || sleep 0.1; done
[ -s tsa.port ] || { echo "FAILED: the time-stamp server did not start" >&2; exit 1; }
cd "$PW_ROOT"

PW_SIGN_PFX="$certs/signer.pfx" PW_SIGN_PASSWORD_FILE="$certs/password.txt" \
    PW_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$certs/tsa.port")" \
    bash "$copy/scripts/package.sh" >"$work/signed.log" 2>&1 || {
    cat "$work/signed.log" >&2
    echo "FAILED: the signed build" >&2
    exit 1
}
check "the signed build says it signs" grep -q "signed with $certs/signer.pfx" "$work/signed.log"
# verify FILE [untimed]: an Authenticode SHA-256 signature of the test certificate leading to
# the test CA, and a time stamp of the test server unless untimed.
verify() {
    local log="$1.verify.log"
    osslsigncode verify -in "$1" -CAfile "$certs/ca.pem" -TSA-CAfile "$certs/ca.pem" >"$log" 2>&1 &&
        grep -q 'Signature verification: ok' "$log" && grep -q 'pwagent test signer' "$log" &&
        grep -qi 'Message digest algorithm *: SHA256' "$log" &&
        { [ "${2:-}" = untimed ] || grep -q 'Timestamp Server Signature verification: ok' "$log"; } ||
        { cat "$log" >&2 && return 1; }
}
for artefact in pwagent.exe pwctrl.exe pwagent-uninstall.exe "pwagent-$version-setup.exe"; do
    check "signed $artefact verifies against the test CA, time-stamped" verify "$copy_out/$artefact"
done
# Signing only adds the signature: a reviewer can compare a signed release with a rebuild.
unsigned_again() { # PROGRAM
    osslsigncode remove-signature -in "$copy_out/$1" -out "$work/unsigned-$1" >/dev/null &&
        cmp "$work/unsigned-$1" "$out/$1"
}
for program in pwagent.exe pwctrl.exe; do
    check "signed $program without its signature is the unsigned build's" unsigned_again "$program"
done
unzip -q "$copy_out/pwagent-$version-win32.zip" pwagent.exe pwctrl.exe -d "$work/zip"
check "the zip holds the signed programs" eval \
    'cmp "$work/zip/pwagent.exe" "$copy_out/pwagent.exe" && cmp "$work/zip/pwctrl.exe" "$copy_out/pwctrl.exe"'
check "SHA256SUMS holds the signed artefacts' hashes" eval '(cd "$copy_out" && sha256sum -c --quiet SHA256SUMS)'
check "the manifests carry the signed artefacts' hashes" \
    /usr/bin/python3 "$PW_ROOT/tests/package/check_manifests.py" "$copy_out" "$version"

# The password may come from the environment too; a wrong one fails and leaves the file as it
# was.
cp "$out/pwctrl.exe" "$work/pwctrl-env.exe"
cp "$out/pwctrl.exe" "$work/pwctrl-wrong.exe"
check "a password from PW_SIGN_PASSWORD signs" eval \
    'PW_SIGN_PFX="$certs/signer.pfx" PW_SIGN_PASSWORD="throw-away password" \
        "$PW_ROOT/scripts/sign.sh" "$work/pwctrl-env.exe" >/dev/null && verify "$work/pwctrl-env.exe" untimed'
check "a wrong password fails and leaves the program unsigned" eval \
    '! PW_SIGN_PFX="$certs/signer.pfx" PW_SIGN_PASSWORD="wrong" \
        "$PW_ROOT/scripts/sign.sh" "$work/pwctrl-wrong.exe" 2>/dev/null &&
        cmp "$out/pwctrl.exe" "$work/pwctrl-wrong.exe"'

checks_done release
