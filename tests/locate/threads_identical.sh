#!/usr/bin/env bash
# orvane-locate with its bootstrap on one thread and on two: the outputs must be
# the same byte for byte, in both modes.
# usage: threads_identical.sh ORVANE_LOCATE GOLDEN_CASES WORK_DIR
set -eu
bin=$1 cases=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
for c in medium024:s medium004:q; do
    name=${c%:*} mode=${c#*:}
    for threads in 1 2; do
        out=$work/$name-$threads
        ORVANE_THREADS=$threads "$bin" "-$mode" "$cases/$name/data.txt" "$cases/$name/params.txt" \
            "$cases/$name/dist.txt" --construction both --replicates 40 --seed 11 --out "$out" 2> "$out.stderr"
    done
    for suffix in location.tsv interval.tsv stderr; do
        cmp "$work/$name-1.$suffix" "$work/$name-2.$suffix"
    done
    grep -q bootstrap "$work/$name-1.interval.tsv"
done
echo "identical on 1 and 2 threads"
