#!/bin/sh
# The worked example runs end to end, writes its picture where -o says and
# leaves the source tree's example directory as it was.
# Usage: test_vcf_example.sh RUN_VCF_EXAMPLE ORVANE WORK_DIR
set -eu
script=$1 orvane=$2 work=$3
examples=$(cd "$(dirname "$script")" && pwd)
rm -rf "$work" && mkdir -p "$work"
before=$(ls -l --time-style=+%s.%N "$examples")
(cd "$work" && "$script" -o picture.svg "$orvane" > run.log 2>&1) ||
    { cat "$work/run.log"; echo "FAIL: the example did not run"; exit 1; }
after=$(ls -l --time-style=+%s.%N "$examples")
[ "$before" = "$after" ] || { echo "FAIL: $examples changed"; exit 1; }
[ ! -e "$work/association.png" ] || { echo "FAIL: the default picture was written too"; exit 1; }
for text in "predicted by cluster score: snp25" "predicted by single marker: snp22" \
            "permutation p (1000 permutations, joint):" "r² with the lead marker" \
            "recombination rate (cM/Mb)"; do
    grep -q "$text" "$work/picture.svg" || { echo "FAIL: '$text' not in the picture"; exit 1; }
done
echo "ok"
