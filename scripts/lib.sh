# Shared settings of the scripts: where the two build trees and the Wine prefix live.
# Sourced, not run.
PW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PW_BUILD="${PW_BUILD:-$PW_ROOT/build}"
PW_HOST_BUILD="$PW_BUILD/host"
PW_WIN_BUILD="$PW_BUILD/win"
PW_JOBS="${PW_JOBS:-2}"

# A private Wine prefix: no dialogs for Mono/Gecko, no debug chatter.
export WINEPREFIX="${WINEPREFIX:-$PW_BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# rasapi32=n,b: a rasapi32.dll loaded by path (the simulated one) wins over Wine's built-in.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;rasapi32=n,b}"
export WINEARCH=win32

pw_log() { printf '\n== %s\n' "$*"; }

# Starts a persistent wineserver and makes sure the prefix exists. Output goes nowhere so that
# the services Wine starts never hold a caller's pipe open.
pw_wine_up() {
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null || true
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null || true
}

pw_wine_down() {
    wineserver -k >/dev/null 2>&1 </dev/null || true
}
