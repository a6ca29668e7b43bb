#!/usr/bin/env bash
# The test command: installs what is missing, builds both trees, runs the host tests (under
# AddressSanitizer and UBSan), the Windows tests (under Wine and Xvfb) and a short fuzz run.
# Exits non-zero on any failure. FUZZ_SECONDS sets the seconds per fuzz target (default 5).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$PW_ROOT/scripts/setup.sh"
"$PW_ROOT/scripts/build.sh"

pw_log "host tests"
ctest --test-dir "$PW_HOST_BUILD" --output-on-failure

pw_log "windows tests (Wine, Xvfb)"
xvfb-run -a -s "-screen 0 1024x768x24" "$PW_ROOT/scripts/wine-ctest.sh" "$PW_WIN_BUILD"

pw_log "fuzz smoke run"
fuzz_seconds="${FUZZ_SECONDS:-5}"
shopt -s nullglob
for target in "$PW_HOST_BUILD"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    corpus="$PW_BUILD/fuzz-corpus/$(basename "$target")"
    mkdir -p "$corpus"
    # -timeout makes a hang on one input a failure.
    "$target" -timeout=5 -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" \
        >"$PW_BUILD/$(basename "$target").log" 2>&1 ||
        { tail -40 "$PW_BUILD/$(basename "$target").log"; echo "FAILED: $(basename "$target")"; exit 1; }
    echo "ok: $(basename "$target") ($(grep -o 'Done [0-9]* runs' "$PW_BUILD/$(basename "$target").log" || true))"
done

pw_log "all tests passed"
