#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, one after the other, each on a
# scratch copy of its seed corpus (the corpora in the repository stay as they
# are). Exits non-zero when any target found a crash, leak, sanitizer report or
# timeout; the failing inputs are kept and their paths printed.
#
# usage: run_fuzzers.sh BUILD_DIR SECONDS
#   BUILD_DIR: a build configured with -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON
#   SECONDS:   fuzzing time per target
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-fuzzers.XXXXXX") || exit 2

targets="fuzz_parameter_file fuzz_data_file fuzz_distance_file fuzz_run"
failed=""
for target in $targets; do
    dir=$work/$target
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp "$here/corpus/$target"/* "$dir/corpus/"
    # The tool writes its error reports to standard error by design; libFuzzer
    # keeps its own and the sanitizers' reports when the target's are closed.
    "$build/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
        "$dir/corpus" > "$dir/log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
    if [ $status -ne 0 ] || [ -n "$(ls -A "$dir/artifacts")" ]; then
        echo "FAIL $target (status $status): log $dir/log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)' "$dir/log" | head -n 20
        failed="$failed $target"
    else
        echo "ok   $target: ${runs:-?} runs in ${seconds}s, ${speed:-?} exec/s"
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing found failures in:$failed (inputs and logs kept under $work)"
    exit 1
fi
rm -rf "$work"
