#!/usr/bin/env bash
# The second Windows toolchain: builds the product (pwagent.exe, pwctrl.exe and their libraries)
# with clang and lld against the same mingw-w64 headers and GCC runtime
# (cmake/toolchain-i686-w64-mingw32-clang.cmake) in build/win-clang, failing on any warning, and
# starts the clang-built pwagent.exe once under Wine: without arguments it ends at once with 0.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

pw_with_display "$0" "$@"

build="$PW_BUILD/win-clang"
fail() {
    echo "FAILED: clang build: $*" >&2
    exit 1
}

pw_log "windows build with clang ($build)"
cmake -S "$PW_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32-clang.cmake" >/dev/null
# Compiler warnings are errors already; the programs are linked on every run so that a linker
# warning is seen every time, not only by the run that first met it.
agent="$build/src/agent/pwagent.exe"
rm -f "$agent" "$build/src/ctrlmodule/pwctrl.exe"
log="$build/product-build.log"
ninja -C "$build" -j"$PW_JOBS" pwagent pwctrl >"$log" 2>&1 || { cat "$log"; fail "see above"; }
if grep -q -i 'warning' "$log"; then
    grep -i -B2 -A2 'warning' "$log"
    fail "warnings"
fi
echo "ok: pwagent.exe and pwctrl.exe built with $(clang --version | head -1), no warnings"

pw_log "the clang-built pwagent.exe under Wine, without arguments"
trace="$build/start-trace.txt"
rm -f "$trace"
pw_wine_up
status=0
PWAGENT_TRACE="$(pw_wine_path "$trace")" timeout 120 wine "$agent" || status=$?
pw_wine_down
[ -s "$trace" ] && sed 's/^/    /' "$trace"
[ "$status" -eq 0 ] || fail "pwagent.exe without arguments ended with $status"
[ -s "$trace" ] || fail "pwagent.exe wrote no trace: it did not start"
echo "ok: pwagent.exe started and ended with 0"
