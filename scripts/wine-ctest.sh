#!/usr/bin/env bash
# Runs the Windows tree's CTest under one persistent wineserver. Called inside xvfb-run so that
# Wine's desktop and every test window have a display.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build="${1:-$PW_WIN_BUILD}"

# A private dovecot for the tests that talk to a real POP3 server (they skip without one), with
# TLS from a throw-away CA: POP3S on a second port, and one stunnel front per certificate kind
# before a clear-text port on which a test runs its scripted server.
build_dir="$(cd "$build" && pwd)"
dovecot_dir="$build_dir/dovecot"
certs_dir="$build_dir/tls-certs"
stunnel_dir="$build_dir/stunnel"
pw_dovecot_down() { "$PW_ROOT/scripts/dovecot.sh" stop "$dovecot_dir" >/dev/null 2>&1 || true; }
pw_stunnel_down() {
    local pid
    pid="$(cat "$stunnel_dir/stunnel.pid" 2>/dev/null)" || return 0
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null || true
    rm -f "$stunnel_dir/stunnel.pid"
}
free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
trap 'pw_wine_down; pw_dovecot_down; pw_stunnel_down' EXIT
if [ "$(id -u)" -eq 0 ]; then
    pw_dovecot_down
    pw_stunnel_down
    rm -rf "$dovecot_dir" "$stunnel_dir"
    "$PW_ROOT/scripts/certs.sh" "$certs_dir"
    dovecot_port="$(free_port)"
    dovecot_tls_port="$(free_port)"
    "$PW_ROOT/scripts/dovecot.sh" start "$dovecot_dir" "$dovecot_port" "$dovecot_tls_port" \
        "$certs_dir/server-chain.pem" "$certs_dir/server.key"
    export PW_DOVECOT_TLS_PORT="$dovecot_tls_port"
    mkdir -p "$stunnel_dir"
    tls_backend_port="$(free_port)"
    {
        echo "foreground = no"
        echo "pid = $stunnel_dir/stunnel.pid"
        echo "output = $stunnel_dir/stunnel.log"
        for kind in good:server expired:expired wrongname:wrongname selfsigned:selfsigned \
            renewed:renewed expiring:expiring tls10:server; do
            front_port="$(free_port)"
            printf '[%s]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' \
                "${kind%%:*}" "$front_port" "$tls_backend_port"
            case "${kind#*:}" in
            selfsigned | renewed) echo "cert = $certs_dir/${kind#*:}.pem" ;;
            *) echo "cert = $certs_dir/${kind#*:}-chain.pem" ;;
            esac
            echo "key = $certs_dir/${kind#*:}.key"
            # A server that speaks nothing newer than TLS 1.0 (its ciphers need the lowest
            # security level of OpenSSL 3).
            if [ "${kind%%:*}" = tls10 ]; then
                printf 'sslVersionMin = TLSv1\nsslVersionMax = TLSv1\nsecurityLevel = 0\n'
                echo "ciphers = DEFAULT:@SECLEVEL=0"
            fi
            name="$(echo "${kind%%:*}" | tr '[:lower:]' '[:upper:]')"
            export "PW_TLS_FRONT_$name=$front_port"
        done
    } >"$stunnel_dir/stunnel.conf"
    stunnel4 "$stunnel_dir/stunnel.conf" || { cat "$stunnel_dir/stunnel.log" >&2; exit 1; }
    export PW_TLS_BACKEND_PORT="$tls_backend_port" PW_TLS_CA="$certs_dir/ca.pem"
    PW_TLS_SELFSIGNED_SHA256="$(cat "$certs_dir/selfsigned.sha256")"
    PW_TLS_SELFSIGNED_SPKI256="$(cat "$certs_dir/selfsigned.spki256")"
    PW_TLS_EXPIRING_SHA256="$(cat "$certs_dir/expiring.sha256")"
    export PW_TLS_SELFSIGNED_SHA256 PW_TLS_SELFSIGNED_SPKI256 PW_TLS_EXPIRING_SHA256
    dovecot_users=()
    for i in 1 2 3 4 5 6 7 8; do
        "$PW_ROOT/scripts/dovecot.sh" adduser "$dovecot_dir" "pwuser$i" "secret$i"
        dovecot_users+=("pwuser$i:secret$i")
    done
    export PW_DOVECOT_PORT="$dovecot_port" PW_DOVECOT_DIR="$dovecot_dir"
    export PW_DOVECOT_USERS="${dovecot_users[*]}"
else
    echo "SKIPPING dovecot and TLS tests: not root (scripts/dovecot.sh needs root); they report as skipped"
fi
pw_wine_up
if [ -n "${PW_TLS_CA:-}" ]; then
    # The strict default check is what the TLS tests meet: the CA is a trusted root here.
    wine "$build_dir/tools/addroot/addroot.exe" "Z:${PW_TLS_CA//\//\\}" >/dev/null
fi
status=0
ctest --test-dir "$build" --output-on-failure "${@:2}" || status=$?
pw_log "skipped tests ($build)"
pw_ctest_skips "$build"
exit "$status"
