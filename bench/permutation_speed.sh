#!/usr/bin/env bash
# Speed and memory of the permutation test: the scan alone (P = 0), the joint
# scheme and the chained one at P = 1,000, in one run, on seeded data
# (bench/generate.py).
#
# usage: bench/permutation_speed.sh [WORK_DIR]
#   Builds the current tree and runs, on both processors:
#   - 200,000 haplotypes x 300 markers (2,000 generated haplotypes copied 100
#     times: windows of few patterns, as in real data; no cluster report),
#     case/control and trait;
#   - the same with the cluster report (the generator's reportThreshold 2, 1.6
#     GB of report), where writing the report is part of every run: the scan
#     and the joint scheme only;
#   - 2,000 x 500, case/control.
#   The scan alone, the joint and the chained scheme run in turns, three
#   rounds, so that all three see the same drift of a shared machine; wall
#   seconds are the median of the three, except the chained scheme at 200,000
#   haplotypes (one to three minutes), run in the first round only; the peak
#   is the largest resident memory of the runs (/usr/bin/time). Ratios are to
#   the scan alone of the same data. The load average before and after is
#   printed.
#   Takes about 10 minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
work=${1:-/tmp/orvane-permutation-speed}
mkdir -p "$work"

cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_TOOLS=OFF > "$work/build.log" 2>&1
cmake --build "$work/build" -j2 >> "$work/build.log" 2>&1
orvane=$work/build/orvane

# make_case NAME MODE GENERATOR-ARGS [COPIES [report]]: the data, each haplotype
# copied COPIES times; without the cluster report unless "report" is given.
make_case() {
    local dir=$work/data-$1
    [ -f "$dir/data.txt" ] && return
    mkdir -p "$dir"
    python3 "$here/generate.py" "$dir" $3 --mode "$2" --permutations 0 > /dev/null
    if [ "${4:-1}" -gt 1 ]; then
        awk -v copies="$4" -v n="$(($(wc -l < "$dir/data.txt") - 1))" \
            'NR == 1 { print; next } { for (k = 0; k < copies; k++) { $1 = NR - 1 + n * k; print } }' OFS='\t' \
            "$dir/data.txt" > "$dir/copies" && mv "$dir/copies" "$dir/data.txt"
    fi
    [ "${5:-}" = report ] && return
    sed -i 's/^reportThreshold .*/reportThreshold 1e9/' "$dir/params.txt"
    grep -q '^reportThreshold' "$dir/params.txt" || echo 'reportThreshold 1e9' >> "$dir/params.txt"
}

# run NAME MODE P SCHEME: "seconds peak_kb" of one run.
run() {
    local out=$work/run-$1-$4-$3
    rm -rf "$out" && mkdir -p "$out"
    cp "$work/data-$1"/data.txt "$work/data-$1"/dist.txt "$out"/
    sed "s/^permutations .*/permutations $3/" "$work/data-$1/params.txt" > "$out/params.txt"
    (cd "$out" && /usr/bin/time -f "%e %M" -o time.txt \
        "$orvane" "-$2" --permutation "$4" data.txt params.txt dist.txt > /dev/null 2>&1)
    cat "$out/time.txt"
}

# measure NAME MODE RUNS CHAINED_RUNS: the scan alone, the joint and the chained
# scheme in turns, round after round, so that all three see the same drift of a
# shared machine; sets seconds[NAME-scan|joint|chained] (medians) and peak[...]
# (largest peak, KB).
declare -A seconds peak
measure() {
    local -A times=()
    local round scheme p s m
    for round in $(seq "$3"); do
        for scheme in scan joint chained; do
            [ "$scheme" = chained ] && [ "$round" -gt "$4" ] && continue
            p=1000; [ "$scheme" = scan ] && p=0
            read -r s m < <(run "$1" "$2" "$p" "$([ "$scheme" = chained ] && echo chained || echo joint)")
            times[$scheme]="${times[$scheme]:-} $s"
            [ "$m" -gt "${peak[$1-$scheme]:-0}" ] && peak[$1-$scheme]=$m
        done
    done
    for scheme in scan joint chained; do
        [ -n "${times[$scheme]:-}" ] || continue
        seconds[$1-$scheme]=$(printf '%s\n' ${times[$scheme]} | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    done
}

make_case big-cc s "--haplotypes 2000 --markers 300" 100
make_case big-trait q "--haplotypes 2000 --markers 300" 100
make_case small-cc s "--haplotypes 2000 --markers 500"
make_case big-cc-report s "--haplotypes 2000 --markers 300" 100 report
make_case big-trait-report q "--haplotypes 2000 --markers 300" 100 report

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processors; $(date -u +%Y-%m-%d)"
echo "tree: $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo ' with uncommitted changes')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-26s %-8s %6s %9s %5s %9s %9s\n' case scheme P seconds runs peak_MiB vs_scan
report() {  # case runs chained_runs
    local scheme p runs
    for scheme in scan joint chained; do
        p=1000 runs=$2
        [ "$scheme" = scan ] && p=0
        [ "$scheme" = chained ] && runs=$3
        [ "$runs" -gt 0 ] || continue
        printf '%-26s %-8s %6s %9s %5s %9s %9s\n' "$1" "$scheme" "$p" "${seconds[$1-$scheme]}" "$runs" \
            "$(( ${peak[$1-$scheme]} / 1024 ))" \
            "$(awk -v a="${seconds[$1-$scheme]}" -v b="${seconds[$1-scan]}" 'BEGIN { printf "%.2f", a / b }')"
    done
}
measure big-cc s 3 1
report big-cc 3 1
measure big-trait q 3 1
report big-trait 3 1
measure small-cc s 3 3
report small-cc 3 3
measure big-cc-report s 3 0
report big-cc-report 3 0
measure big-trait-report q 3 0
report big-trait-report 3 0
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The targets: case/control at most 1.5 x the scan and 1 GB, trait at most
# 2 x the scan and 2 GB (200,000 x 300); joint at least 3 x faster than
# chained (2,000 x 500).
verdict() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b ? "met" : "NOT met") }'; }
echo "case/control 200,000 x 300: $(awk -v a="${seconds[big-cc-joint]}" -v b="${seconds[big-cc-scan]}" 'BEGIN { printf "%.2f", a / b }') x the scan (target 1.5: $(verdict "$(awk -v a="${seconds[big-cc-joint]}" -v b="${seconds[big-cc-scan]}" 'BEGIN { print a / b }')" 1.5)), peak $(( ${peak[big-cc-joint]} * 1024 / 1000000 )) MB (target 1000: $(verdict $(( ${peak[big-cc-joint]} * 1024 / 1000000 )) 1000))"
echo "trait 200,000 x 300: $(awk -v a="${seconds[big-trait-joint]}" -v b="${seconds[big-trait-scan]}" 'BEGIN { printf "%.2f", a / b }') x the scan (target 2: $(verdict "$(awk -v a="${seconds[big-trait-joint]}" -v b="${seconds[big-trait-scan]}" 'BEGIN { print a / b }')" 2)), peak $(( ${peak[big-trait-joint]} * 1024 / 1000000 )) MB (target 2000: $(verdict $(( ${peak[big-trait-joint]} * 1024 / 1000000 )) 2000))"
echo "case/control 2,000 x 500: chained / joint = $(awk -v a="${seconds[small-cc-chained]}" -v b="${seconds[small-cc-joint]}" 'BEGIN { printf "%.1f", a / b }') (target at least 3: $(verdict 3 "$(awk -v a="${seconds[small-cc-chained]}" -v b="${seconds[small-cc-joint]}" 'BEGIN { print a / b }')"))"
ratio() { awk -v a="${seconds[$1-joint]}" -v b="${seconds[$1-scan]}" 'BEGIN { printf "%.2f", a / b }'; }
echo "with the cluster report: case/control $(ratio big-cc-report) x the scan (target 1.5: $(verdict "$(ratio big-cc-report)" 1.5)), trait $(ratio big-trait-report) x the scan (target 2: $(verdict "$(ratio big-trait-report)" 2))"
