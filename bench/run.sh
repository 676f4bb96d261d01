#!/usr/bin/env bash
# Speed and memory of the current tree against the baseline build, on seeded
# data that looks like real haplotypes (bench/generate.py).
#
# usage: bench/run.sh [--quick] [WORK_DIR]
#   Builds the baseline (a git worktree of the commit named in bench/README.md)
#   and the current tree, runs each case with both, checks that their result
#   files and reports are identical, and prints one table: case, seconds for
#   each (wall clock, one processor unless the case says otherwise), ratio, peak
#   resident memory of the current build. The baseline runs once per case (it
#   takes minutes); the current build three times, and the table has the median
#   (on a shared machine single runs drift by 10 to 30 %). Two processors
#   against one are run in turns, so that both see the same drift, and the
#   one-processor runs alternate between processors 0 and 1, whose speeds may
#   differ (their runs are listed after the table).
#   --quick uses 100 permutations instead of 1,000 and skips the large-memory
#   cases (the full run takes about an hour, most of it the baseline in trait mode).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; shift; fi
work=${1:-/tmp/orvane-bench}
baseline=$(sed -n 's/^Baseline build: `\([0-9a-f]*\)`.*/\1/p' "$here/README.md")
permutations=1000
[ $quick -eq 1 ] && permutations=100
mkdir -p "$work"

build() {  # source dir, build dir
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
        -DORVANE_BUILD_TOOLS=OFF > "$2.log" 2>&1
    cmake --build "$2" -j2 >> "$2.log" 2>&1
}

if [ ! -d "$work/baseline-src" ]; then
    git -C "$root" worktree add -f "$work/baseline-src" "$baseline" > /dev/null
fi
build "$work/baseline-src" "$work/baseline-build"
build "$root" "$work/current-build"
old=$work/baseline-build/orvane
new=$work/current-build/orvane

# run BINARY CASE_DIR OUT_DIR CPUS MODE: seconds and peak memory (KB) of one run.
run() {
    rm -rf "$3" && mkdir -p "$3" && cp "$2"/data.txt "$2"/params.txt "$2"/dist.txt "$3"/
    (cd "$3" && /usr/bin/time -f "%e %M" -o ../"$(basename "$3")".time \
        taskset -c "$4" "$1" "-$5" data.txt params.txt dist.txt > /dev/null)
    cat "$work/$(basename "$3").time"
}

# middle T...: the median of the numbers (the mean of the two middle ones when
# there is an even count).
middle() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# median BINARY CASE_DIR OUT_DIR CPUS MODE: the median of three runs' seconds,
# and the largest peak memory.
median() {
    local times=() peak=0 s m
    for _ in 1 2 3; do
        read -r s m < <(run "$@")
        times+=("$s")
        [ "$m" -gt "$peak" ] && peak=$m
    done
    echo "$(middle "${times[@]}") $peak"
}

same() {
    cmp -s "$1/data.txt-results" "$2/data.txt-results" && cmp -s "$1/output" "$2/output"
}

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) processors, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); $(date -u +%Y-%m-%d)"
echo "baseline $baseline, current $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo ' with uncommitted changes')"
printf '%-34s %12s %12s %8s %12s\n' case baseline_s current_s ratio peak_MiB
row() {  # name baseline_seconds current_seconds current_peak_kb
    local ratio=-
    [ "$2" != - ] && ratio=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.1f", a / b }')
    printf '%-34s %12s %12s %8s %12s\n' "$1" "$2" "$3" "$ratio" "$(( $4 / 1024 ))"
}

compare_case() {  # name generator-args mode
    local dir=$work/data-$1
    mkdir -p "$dir"
    python3 "$here/generate.py" "$dir" $2 --permutations $permutations
    read -r bs _ < <(run "$old" "$dir" "$work/old-$1" 0 "$3")
    read -r cs cm < <(median "$new" "$dir" "$work/new-$1" 0 "$3")
    same "$work/old-$1" "$work/new-$1" || { echo "OUTPUTS DIFFER: $1"; exit 1; }
    row "$1 (1 cpu)" "$bs" "$cs" "$cm"
}

compare_case cc-2000x500-ld "--haplotypes 2000 --markers 500 --mode s" s
compare_case trait-2000x500-ld "--haplotypes 2000 --markers 500 --mode q" q
compare_case cc-2000x500-no-ld "--haplotypes 2000 --markers 500 --mode s --no-ld" s

# Two processors against one, same bytes, in turns; one processor is 0 and 1
# in turn.
details=()
for case in cc-2000x500-ld:s trait-2000x500-ld:q cc-2000x500-no-ld:s; do
    name=${case%:*} mode=${case#*:}
    ones=() twos=() tm=0 detail=""
    for round in 1 2 3 4; do
        cpu=$(( round % 2 ))
        read -r s _ < <(run "$new" "$work/data-$name" "$work/one-$name" $cpu "$mode")
        ones+=("$s")
        detail="$detail cpu$cpu:$s"
        read -r s m < <(run "$new" "$work/data-$name" "$work/two-$name" 0,1 "$mode")
        twos+=("$s")
        [ "$m" -gt "$tm" ] && tm=$m
    done
    same "$work/one-$name" "$work/two-$name" || { echo "OUTPUTS DIFFER: $name on 2 cpus"; exit 1; }
    one=$(middle "${ones[@]}")
    two=$(middle "${twos[@]}")
    row "$name (2 cpus vs 1)" "$one" "$two" "$tm"
    details+=("$name one-processor runs:$detail; two-processor runs: ${twos[*]}")
done

if [ $quick -eq 0 ]; then
    for case in "mem-20000x30:--haplotypes 20000 --markers 30" "mem-300x20000:--haplotypes 300 --markers 20000"; do
        name=${case%%:*} args=${case#*:}
        mkdir -p "$work/data-$name"
        python3 "$here/generate.py" "$work/data-$name" $args --permutations $permutations
        read -r cs cm < <(median "$new" "$work/data-$name" "$work/new-$name" 0,1 s)
        row "$name (2 cpus)" - "$cs" "$cm"
    done
    # The cluster report of 200,000 haplotypes runs to 1.5 GB: memory must not
    # grow with it. 2,000 haplotypes copied 100 times (windows of few
    # patterns, as in real data), without the permutation test, with the report
    # and without it (a report threshold no cluster reaches).
    name=mem-200000x300
    mkdir -p "$work/data-$name"
    python3 "$here/generate.py" "$work/data-$name" --haplotypes 2000 --markers 300 --permutations 0
    awk 'NR == 1 { print; next } { for (k = 0; k < 100; k++) { $1 = NR - 1 + 2000 * k; print } }' OFS='\t' \
        "$work/data-$name/data.txt" > "$work/data-$name/copies" && mv "$work/data-$name/copies" "$work/data-$name/data.txt"
    read -r cs cm < <(median "$new" "$work/data-$name" "$work/new-$name" 0,1 s)
    row "$name-report (2 cpus, no perm.)" - "$cs" "$cm"
    sed -i 's/^reportThreshold .*/reportThreshold 1e9/' "$work/data-$name/params.txt"
    read -r cs cm < <(median "$new" "$work/data-$name" "$work/new-$name" 0,1 s)
    row "$name-no-report (2 cpus, no perm.)" - "$cs" "$cm"
fi
printf '%s\n' "${details[@]}"
