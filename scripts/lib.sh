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

# Prints PATH as the Windows programs under Wine see it: the Unix root is drive Z:, and the
# separators are backslashes (as tests/support/WindowsPath.h does for the test programs).
pw_wine_path() { # PATH
    local path="$1"
    [[ "$path" == /* ]] && path="Z:$path"
    printf '%s\n' "${path//\//\\}"
}

# After a ctest run in BUILD: one line per test program that skipped tests, with the reasons the
# tests gave (GoogleTest's brief output prints a skip's place and message, but ctest shows a
# passing program's output to nobody), then the number of such programs.
pw_ctest_skips() { # BUILD
    local log="$1/Testing/Temporary/LastTest.log"
    [ -f "$log" ] || return 0
    awk '
        { gsub(/\r|\033\[[0-9;]*m/, "") }
        /^[0-9]+\/[0-9]+ Testing: / { test = $3; next }
        /: Skipped$/ { where = $1; sub(/:$/, "", where); want = 1; next }
        want {
            want = 0
            reason = where ": " $0
            if (!((test, reason) in seen)) {
                seen[test, reason] = 1
                why[test] = why[test] "\n    " reason
            }
            next
        }
        /^\[  SKIPPED \] [0-9]+ test/ { count[test] = $4; order[++n] = test }
        END {
            for (i = 1; i <= n; i++) {
                t = order[i]
                printf "SKIPPED: %s test(s) of %s%s\n", count[t], t, why[t]
            }
            if (n == 0) {
                print "no test was skipped"
            }
        }' "$log"
}

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
