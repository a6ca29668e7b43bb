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

# Runs a command on a virtual display of its own, the screen every script uses.
pw_xvfb() { # COMMAND [ARGS...]
    xvfb-run -a -s "-screen 0 1024x768x24" "$@"
}

# Called first by the scripts whose Wine programs need a display (Wine creates no window
# without one), with the script and its arguments: without a display it runs the script again
# under a virtual one.
pw_with_display() { # SCRIPT [ARGS...]
    [ -n "${DISPLAY:-}" ] && return 0
    pw_xvfb "$@"
    exit
}

pw_wine_down() {
    wineserver -k >/dev/null 2>&1 </dev/null || true
}

# Options of setup.sh for the packages a script needs beyond the common ones (screenshots.sh
# sets --screenshots); pw_root_when_needed checks for those too.
PW_SETUP_OPTIONS=()

# Called first by the scripts that run setup.sh (test, demo, package, screenshots) with the
# script and its arguments: when packages are missing, installing them needs root. As root, or
# with everything installed, it returns at once; otherwise it runs the script again through sudo
# (keeping the PW_*, FUZZ_SECONDS and DISPLAY settings, which sudo would drop), or explains and
# fails when there is no sudo.
pw_root_when_needed() { # SCRIPT [ARGS...]
    [ "$(id -u)" -eq 0 ] && return 0
    "$PW_ROOT/scripts/setup.sh" --check "${PW_SETUP_OPTIONS[@]}" && return 0
    if ! command -v sudo >/dev/null 2>&1; then
        echo "$(basename "$1"): packages are missing and installing them needs root;" \
            "run this again as root, or install sudo" >&2
        exit 1
    fi
    local keep=() name
    for name in $(compgen -e); do
        case "$name" in
        PW_* | FUZZ_SECONDS | DISPLAY | XAUTHORITY) keep+=("$name=${!name}") ;;
        esac
    done
    echo "$(basename "$1"): packages are missing: running again through sudo" >&2
    exec sudo env "${keep[@]}" bash "$@"
}

# The files of the Windows artefacts (installer/files.txt without its comments), one a line.
pw_package_files() {
    grep -v -e '^#' -e '^[[:space:]]*$' "$PW_ROOT/installer/files.txt"
}

# The product version (the CMake project version) as a configured BUILD has written it.
pw_product_version() { # BUILD
    sed -n 's/^#define PW_VERSION_STRING "\(.*\)"$/\1/p' "$1/generated/pwversion.h"
}
