#!/usr/bin/env bash
# One region at biobank size through the whole workflow on this machine
# (--cores 2), from a BGEN: docs/performance.md's "Time on paper", the region.
#
# usage: bench/biobank_region.sh BUILD_DIR [WORK_DIR] [HAPLOTYPES] [SOURCE]
#   BUILD_DIR   holds the built orvane and orvane-vcf (orvane-plot is plot/orvane-plot)
#   HAPLOTYPES  default 1000000: one region of 300 markers (bench/make_region_vcf.py,
#               seeded, easy haplotypes), phasing none, 1,000 permutations
#               (region_params.txt, the joint scheme), windows of 21 markers
#   SOURCE      bgen (default: BGEN 1.2 with a .sample file, as plink2 exports
#               it), pgen or vcf
#
# Every program the jobs run is timed by a wrapper (workflow_lib.sh), and the
# run folder's size is sampled every second. Prints the data's making, the
# whole wall time, per rule the jobs' wall time (Snakemake's log) and the
# programs' seconds and peak memory, and the run folder's peak size.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/workflow_lib.sh"
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-biobank-bench}
haplotypes=${3:-1000000}
source=${4:-bgen}
mkdir -p "$work"
work=$(cd "$work" && pwd)
data=$work/h$haplotypes

bench_inputs "$data" "$haplotypes" 300 "$source"
bench_region "$data" "$work"
bench_timed_bin "$work" "$build"
cat > "$work/config.yaml" <<EOF
{$(bench_source_config "$data" "$source"), "pheno": "$data/pheno.txt", "mode": "s",
 "regions": "$data/region.bed", "map": "$data/map{chrom}.txt", "phasing": "none",
 "params": "$work/params.txt", "bin": "$work/bin", "outdir": "$work/run"}
EOF
rm -rf "$work/run" "$work/.snakemake"

export PATH="$work/timed:$PATH"
load=$(cut -d' ' -f1-3 /proc/loadavg)
start=$(date +%s.%N)
(cd "$work" && snakemake -s "$root/workflow/Snakefile" --cores 2 --configfile config.yaml \
    > snakemake.log 2>&1) &
run=$!
peak=$(bench_peak_size "$work/run" "$run")
status=0
wait "$run" || status=$?
seconds=$(bench_since "$start")
[ "$status" = 0 ] || { echo "the run failed (status $status): see $work/snakemake.log" >&2; exit "$status"; }

echo "# $haplotypes haplotypes, 300 markers, $source, phasing none, 1,000 permutations, --cores 2"
echo "# load average before: $load; after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'whole run\t%s s\n' "$seconds"
printf 'run folder, peak\t%d MB\n' $((peak / 1000000))
printf 'run folder, at the end\t%d MB\n' $(($(du -sb "$work/run" | cut -f1) / 1000000))
/usr/bin/python3 "$here/workflow_steps.py" local "$work/snakemake.log" "$work/times.tsv"
