#!/usr/bin/env bash
# Runs every golden case (or shard K of N) and compares it byte for byte with its
# frozen outputs. usage: check.sh ORVANE WORK_DIR [K N]
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=$1 work=$2 shard=${3:-0} shards=${4:-1}
passed=0 failed=0 index=0
for case in "$here"/cases/*/; do
    index=$((index + 1))
    [ $((index % shards)) -eq "$shard" ] || continue
    name=$(basename "$case")
    if out=$(IGNORE_WARNINGS=1 "$here/../e2e/run_case.sh" "$bin" "$case" "$work/$name" 2>&1); then
        passed=$((passed + 1))
        rm -rf "$work/$name" "$work/$name.actual"
    else
        failed=$((failed + 1))
        printf 'FAILED %s\n%s\n' "$name" "$out" | head -n 30
    fi
done
echo "golden: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
