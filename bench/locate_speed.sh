#!/usr/bin/env bash
# Speed of orvane-locate's bootstrap: 200 replicates of a 2,000 haplotype x 500
# marker study (bench/generate.py, seed 1) in both modes, on both processors
# (taskset -c 0,1) and on one; wall-clock seconds, the median of three runs, and
# whether the outputs of one and two processors are identical.
#
# usage: bench/locate_speed.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)/orvane-locate
work=${2:-/tmp/orvane-locate-speed}
mkdir -p "$work"

seconds() {  # CPUS DIR MODE OUT
    (cd "$2" && /usr/bin/time -f "%e" -o "$4.time" taskset -c "$1" "$bin" "-$3" data.txt params.txt \
        dist.txt --construction bootstrap --replicates 200 --seed 1 --out "$4" 2> /dev/null)
    cat "$4.time"
}

median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processors; $(date -u +%Y-%m-%d)"
printf '%-28s %10s %10s %10s\n' case one_cpu_s two_cpus_s identical
for mode in s q; do
    dir=$work/data-$mode
    mkdir -p "$dir"
    python3 "$here/generate.py" "$dir" --haplotypes 2000 --markers 500 --mode $mode --permutations 0
    ones=() twos=()
    for _ in 1 2 3; do
        ones+=("$(seconds 0 "$dir" $mode "$work/one-$mode")")
        twos+=("$(seconds 0,1 "$dir" $mode "$work/two-$mode")")
    done
    same=yes
    for f in location.tsv interval.tsv; do
        cmp -s "$work/one-$mode.$f" "$work/two-$mode.$f" || same=no
    done
    printf '%-28s %10s %10s %10s\n' "2000x500 mode -$mode, B=200" "$(median3 "${ones[@]}")" \
        "$(median3 "${twos[@]}")" "$same"
done
