#!/usr/bin/env bash
# Runs the Windows tree's CTest under one persistent wineserver. Called inside xvfb-run so that
# Wine's desktop and every test window have a display.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build="${1:-$PW_WIN_BUILD}"

# A private dovecot for the tests that talk to a real POP3 server (they skip without one).
dovecot_dir="$(cd "$build" && pwd)/dovecot"
pw_dovecot_down() { "$PW_ROOT/scripts/dovecot.sh" stop "$dovecot_dir" >/dev/null 2>&1 || true; }
trap 'pw_wine_down; pw_dovecot_down' EXIT
if [ "$(id -u)" -eq 0 ]; then
    pw_dovecot_down
    rm -rf "$dovecot_dir"
    dovecot_port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    "$PW_ROOT/scripts/dovecot.sh" start "$dovecot_dir" "$dovecot_port"
    dovecot_users=()
    for i in 1 2 3 4 5 6 7 8; do
        "$PW_ROOT/scripts/dovecot.sh" adduser "$dovecot_dir" "pwuser$i" "secret$i"
        dovecot_users+=("pwuser$i:secret$i")
    done
    export PW_DOVECOT_PORT="$dovecot_port" PW_DOVECOT_DIR="$dovecot_dir"
    export PW_DOVECOT_USERS="${dovecot_users[*]}"
else
    echo "SKIPPING dovecot tests: not root (scripts/dovecot.sh needs root); they report as skipped"
fi
pw_wine_up
status=0
ctest --test-dir "$build" --output-on-failure "${@:2}" || status=$?
pw_log "skipped tests ($build)"
pw_ctest_skips "$build"
exit "$status"
