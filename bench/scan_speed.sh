#!/usr/bin/env bash
# The scan of one biobank-sized region, today's build against the one before the
# mask route (cce1998), side by side, with identical outputs.
#
# usage: bench/scan_speed.sh [WORK_DIR [CASES [PAIRS]]]
#   CASES  default "easy-200000 varied-200000 easy-1000000": data from
#          bench/make_region_vcf.py (--varied for the varied kind), 300 markers,
#          converted by orvane-vcf; windows of 21, 1,000 permutations, epsilon
#          from the fraction 0.3, no cluster report (bench/region_params.txt with
#          reportThreshold 1e9); case/control, two threads.
#   PAIRS  default 2: runs of the old and the new build in turns (old, new,
#          old, new ...), so that both see the same drift of a shared machine.
#   Prints per case the median seconds of each, the median of the pair-by-pair
#   ratios old / new, the largest peak resident memory of each
#   (/usr/bin/time), and whether the result file, the report "output" and the
#   run record are byte-identical (cmp). The targets: at least 3.3 x at 1,000,000 easy haplotypes, 4 x at
#   200,000 easy, 8 x at 200,000 varied; at most 2 GB at 1,000,000.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
work=${1:-/tmp/orvane-scan-speed}
cases=${2:-easy-200000 varied-200000 easy-1000000}
pairs=${3:-2}
baseline=cce1998
mkdir -p "$work"
work=$(cd "$work" && pwd)

build() {  # source dir, build dir
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
        -DORVANE_BUILD_TOOLS=ON > "$2.log" 2>&1
    cmake --build "$2" -j2 --target orvane orvane-vcf >> "$2.log" 2>&1
}
[ -d "$work/baseline-src" ] || git -C "$root" worktree add -f "$work/baseline-src" "$baseline" > /dev/null
[ -x "$work/baseline-build/orvane" ] || build "$work/baseline-src" "$work/baseline-build"
build "$root" "$work/current-build"
old=$work/baseline-build/orvane
new=$work/current-build/orvane

prepare() {  # case: the converted region in $work/data-CASE
    local kind=${1%-*} n=${1#*-} d=$work/data-$1
    [ -f "$d/orvane.dat" ] && return
    mkdir -p "$d"
    /usr/bin/python3 "$here/make_region_vcf.py" "$d" --haplotypes "$n" \
        $([ "$kind" = varied ] && echo --varied)
    "$work/current-build/orvane-vcf" --vcf "$d/region.vcf.gz" --pheno "$d/pheno.txt" \
        --map "$d/map.txt" --region 1:1000000-1300000 --out "$d/orvane" > "$d/vcf.log" 2>&1
    grep -v '^reportThreshold' "$here/region_params.txt" > "$d/params.txt"
    echo 'reportThreshold 1e9' >> "$d/params.txt"
}

run() {  # binary case out-dir: prints "seconds peak-KB"
    rm -rf "$3" && mkdir -p "$3"
    cp "$work/data-$2"/orvane.dat "$work/data-$2"/orvane.dist "$work/data-$2"/params.txt "$3"/
    (cd "$3" && ORVANE_THREADS=2 /usr/bin/time -f "%e %M" -o time.txt \
        "$1" -s orvane.dat params.txt orvane.dist > stdout.txt 2> stderr.txt)
    cat "$3/time.txt"
}

same() {  # old-dir new-dir
    # The record has since gained the replicates drawn, and a finite -log10 p
    # where the tail underflows (it wrote null); the rest must be the old bytes.
    cmp -s "$1/orvane.dat-results" "$2/orvane.dat-results" && cmp -s "$1/output" "$2/output" &&
        cmp -s <(sed 's/"minus_log10_p": [^,}]*/"minus_log10_p": -/g' "$1/orvane.dat-results.jsonl") \
            <(sed 's/, "replicates": [0-9]*}/}/; s/"minus_log10_p": [^,}]*/"minus_log10_p": -/g' \
                "$2/orvane.dat-results.jsonl") &&
        echo identical || echo DIFFERENT
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processors; $(date -u +%Y-%m-%dT%H:%MZ)"
echo "old: $baseline; new: $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo ' with uncommitted changes')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-16s %9s %9s %7s %9s %9s  %s\n' case old_s new_s ratio old_MB new_MB outputs
for c in $cases; do
    prepare "$c"
    olds=() news=() ratios=() oldPeak=0 newPeak=0 verdict=identical
    for p in $(seq "$pairs"); do
        read -r so mo < <(run "$old" "$c" "$work/run-$c-old")
        read -r sn mn < <(run "$new" "$c" "$work/run-$c-new")
        olds+=("$so") news+=("$sn") ratios+=("$(awk -v a="$so" -v b="$sn" 'BEGIN { print a / b }')")
        [ "$mo" -gt "$oldPeak" ] && oldPeak=$mo
        [ "$mn" -gt "$newPeak" ] && newPeak=$mn
        [ "$(same "$work/run-$c-old" "$work/run-$c-new")" = identical ] || verdict=DIFFERENT
    done
    printf '%-16s %9s %9s %7.2f %9d %9d  %s (pair ratios: %s)\n' "$c" "$(median "${olds[@]}")" \
        "$(median "${news[@]}")" "$(median "${ratios[@]}")" $((oldPeak * 1024 / 1000000)) \
        $((newPeak * 1024 / 1000000)) "$verdict" "${ratios[*]}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
