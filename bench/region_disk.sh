#!/usr/bin/env bash
# Peak disk use of one region through the whole workflow: the region's folder
# (OUTDIR/regions/NAME) sampled every second while Snakemake runs it, with
# the cluster report off (the default) and, with REPORT=1, on.
#
# usage: [REPORT=1] bench/region_disk.sh BUILD_DIR [WORK_DIR] [HAPLOTYPES]
#   BUILD_DIR   holds the built orvane and orvane-vcf (orvane-plot is plot/orvane-plot)
#   HAPLOTYPES  default 200000: one region of 300 markers (bench/make_region_vcf.py,
#               seeded), phased input (phasing none), 1,000 permutations
# Prints the peak and the files the region keeps at the end, in bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/workflow_lib.sh"
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-disk-bench}
haplotypes=${3:-200000}
mkdir -p "$work"
work=$(cd "$work" && pwd)
data=$work/h$haplotypes
bench_data "$data" "$haplotypes"
bench_region "$data" "$work"
bench_bin "$work" "$build"
report=$([ "${REPORT:-0}" = 1 ] && echo true || echo false)
cat > "$work/config.yaml" <<YAML
{"vcf": "$data/region.vcf.gz", "pheno": "$data/pheno.txt", "mode": "s",
 "regions": "$data/region.bed", "map": "$data/map{chrom}.txt", "phasing": "none",
 "params": "$work/params.txt", "bin": "$work/bin", "outdir": "$work/out",
 "cluster_report": $report}
YAML
rm -rf "$work/out" "$work/.snakemake"
(cd "$work" && snakemake -s "$root/workflow/Snakefile" --cores 2 --configfile config.yaml \
    > snakemake.log 2>&1) &
run=$!
peak=$(bench_peak_size "$work/out/regions/region" "$run")
wait "$run"
printf 'cluster report %s: peak %d bytes\n' "$report" "$peak"
(cd "$work/out/regions/region" && find . -type f -printf '%s\t%p\n' | sort -rn)
