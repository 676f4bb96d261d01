#!/usr/bin/env bash
# Runs every golden case (or shard K of N) and compares it byte for byte with its
# frozen outputs: expected/ with --permutation chained (the scheme the corpus
# was made with), and, for the cases whose permutation test the default joint
# scheme changes, expected_joint/ with the default. The run record (.jsonl) is
# checked by the end-to-end cases, not here.
# usage: check.sh ORVANE WORK_DIR [K N]
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=$1 work=$2 shard=${3:-0} shards=${4:-1}
passed=0 failed=0 index=0
check() {  # name case work expected extra-args
    if out=$(IGNORE_WARNINGS=1 IGNORE_FILES='\.jsonl$' EXPECTED=$4 EXTRA_ARGS=$5 \
             "$here/../e2e/run_case.sh" "$bin" "$2" "$3" 2>&1); then
        passed=$((passed + 1))
        rm -rf "$3" "$3.actual" "$3.actual.inputs"
    else
        failed=$((failed + 1))
        printf 'FAILED %s (%s)\n%s\n' "$1" "$4" "$out" | head -n 30
    fi
}
for case in "$here"/cases/*/; do
    index=$((index + 1))
    [ $((index % shards)) -eq "$shard" ] || continue
    name=$(basename "$case")
    check "$name" "$case" "$work/$name" expected "--permutation chained"
    [ -d "$case/expected_joint" ] && check "$name" "$case" "$work/$name-joint" expected_joint ""
done
echo "golden: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
