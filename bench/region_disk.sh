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
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-disk-bench}
haplotypes=${3:-200000}
mkdir -p "$work"
work=$(cd "$work" && pwd)
data=$work/h$haplotypes
[ -f "$data/region.vcf.gz" ] || /usr/bin/python3 "$here/make_region_vcf.py" "$data" --haplotypes "$haplotypes"
ln -sf map.txt "$data/map1.txt"
printf '1\t999999\t1300000\tregion\n' > "$data/region.bed"
cp "$here/region_params.txt" "$work/params.txt"
mkdir -p "$work/bin"
ln -sf "$build/orvane" "$build/orvane-vcf" "$root/plot/orvane-plot" "$work/bin/"
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
peak=0
while kill -0 "$run" 2> /dev/null; do
    used=$(du -sb "$work/out/regions/region" 2> /dev/null | cut -f1 || echo 0)
    [ "${used:-0}" -gt "$peak" ] && peak=$used
    sleep 1
done
wait "$run"
printf 'cluster report %s: peak %d bytes\n' "$report" "$peak"
(cd "$work/out/regions/region" && find . -type f -printf '%s\t%p\n' | sort -rn)
