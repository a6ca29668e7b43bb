#!/usr/bin/env bash
# Runs the libFuzzer targets of the host tree for SECONDS each, one after the other:
#
#     scripts/fuzz.sh SECONDS [fuzz_name ...]     # default: every target in build/host/fuzz
#
# Each target starts from its committed seeds in fuzz/corpus/<target>/ but writes new inputs,
# crashes and its log only under build/fuzz-work/<target>/, so the committed corpus never
# changes. FUZZ_FLAGS adds libFuzzer options (for example FUZZ_FLAGS=-runs=10000000). Prints
# the executions and executions per second of every target; exits non-zero when any target
# crashes, leaks or times out on an input.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [fuzz_name ...]" >&2
    exit 2
fi
seconds="$1"
shift

fuzz_dir="$PW_HOST_BUILD/fuzz"
work_root="$PW_BUILD/fuzz-work"
targets=()
if [ $# -gt 0 ]; then
    for name in "$@"; do
        [ -x "$fuzz_dir/$name" ] || { echo "no fuzz target $fuzz_dir/$name" >&2; exit 2; }
        targets+=("$fuzz_dir/$name")
    done
else
    shopt -s nullglob
    for target in "$fuzz_dir"/fuzz_*; do
        [ -f "$target" ] && [ -x "$target" ] && targets+=("$target")
    done
    shopt -u nullglob
fi
if [ ${#targets[@]} -eq 0 ]; then
    # The host compiler has no libFuzzer: the tree was configured without the targets.
    echo "no fuzz targets built in $fuzz_dir; nothing to run"
    exit 0
fi

# A value from libFuzzer's final statistics ("stat::name: value") in a log.
final_stat() {
    sed -n "s/^stat::$1: *//p" "$2" | tail -1
}

failed=()
for target in "${targets[@]}"; do
    name="$(basename "$target")"
    work="$work_root/$name"
    log="$work_root/$name.log"
    seeds="$PW_ROOT/fuzz/corpus/$name"
    mkdir -p "$work/artifacts"
    corpora=("$work")
    [ -d "$seeds" ] && corpora+=("$seeds")

    # -timeout makes an input that hangs a failure; new inputs go to the first folder only.
    status=0
    # shellcheck disable=SC2086 # FUZZ_FLAGS is a list of options
    "$target" -timeout=5 -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" ${FUZZ_FLAGS:-} "${corpora[@]}" >"$log" 2>&1 ||
        status=$?

    runs="$(final_stat number_of_executed_units "$log")"
    rate="$(final_stat average_exec_per_sec "$log")"
    done_line="$(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log" | tail -1 || true)"
    summary="${runs:-?} runs, ${rate:-?} exec/s${done_line:+ ($done_line)}"
    if [ "$status" -eq 0 ]; then
        echo "ok: $name: $summary"
    else
        tail -40 "$log"
        echo "FAILED: $name (exit $status): $summary; log $log, inputs in $work/artifacts/"
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz targets failed: ${failed[*]}"
    exit 1
fi
