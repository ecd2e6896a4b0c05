#!/bin/sh
# Runs every fuzz target for FUZZ_SECONDS (or until FUZZ_RUNS inputs, when set) from its committed seeds and
# prints the executions per target; exits non-zero when any target found something.
# Usage: fuzz/run.sh BUILD_DIR [TARGET...]   (targets default to all of them)
set -u
build=${1:?build directory}
shift
seconds=${FUZZ_SECONDS:-60}
runs=${FUZZ_RUNS:--1}
source_dir=$(cd "$(dirname "$0")" && pwd)
targets=${*:-"hex_file hex_line status_frame parameter_file sim_requests"}

mkdir -p "$build/logs" "$build/artifacts"
failed=""
for target in $targets; do
    binary="$build/fuzz/fuzz_$target"
    # New inputs go to the build tree's corpus; the committed seeds are only read.
    work="$build/corpus/$target"
    log="$build/logs/$target.log"
    mkdir -p "$work"
    # A kilobyte of request stream holds dozens of frames; longer inputs only slow the search down.
    case $target in
        sim_requests) limit=-max_len=1024 ;;
        *) limit=-max_len=4096 ;;
    esac
    "$binary" "$work" "$source_dir/corpus/$target" -max_total_time="$seconds" -runs="$runs" -timeout=10 \
        "$limit" -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1
    status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [ "$status" -eq 0 ]; then
        printf '%-16s %12s executions  %8s/s  clean\n' "$target" "${execs:-?}" "${rate:-?}"
    else
        printf '%-16s FAILED (exit %s): see %s and %s/artifacts\n' "$target" "$status" "$log" "$build"
        failed="$failed $target"
    fi
done
[ -z "$failed" ] || { echo "fuzzing found problems in:$failed"; exit 1; }
