#!/usr/bin/env bash
# Time of one region through the workflow's steps at three sizes, and the
# workflow's own overhead per region; the tables of README.md's study section.
#
# usage: [PHASING=0] bench/workflow_times.sh BUILD_DIR [WORK_DIR] [SIZES]
#   BUILD_DIR  holds the built orvane and orvane-vcf (orvane-plot is tools/orvane-plot)
#   SIZES      haplotype counts, default "2000 20000 200000"
#   PHASING=0  leaves Beagle out (it takes about 14 minutes at 200,000)
#
# 1. One region of 300 markers (bench/make_region_vcf.py, seeded): its
#    extraction with bcftools, Beagle on the unphased copy (2 threads),
#    orvane-vcf, orvane (1,000 permutations, both processors) and orvane-plot,
#    each timed alone: wall seconds and peak resident memory.
# 2. Overhead: the bundled study's phased copy cut into 12 regions, run by the
#    workflow with --cores 1 (phasing none) and by hand in a loop of the same
#    commands with one thread; the difference divided by 12.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-workflow-bench}
sizes=${3:-2000 20000 200000}
mkdir -p "$work"
work=$(cd "$work" && pwd)

measure() {  # label, command...: prints "label seconds peak-MB"
    local label=$1; shift
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > "$work/$label.log" 2>&1
    read -r seconds kb < "$work/time.txt"
    printf '%s\t%s\t%d\n' "$label" "$seconds" $((kb / 1024))
}

# The parameters of one large region, shared with the other region benchmark.
cp "$here/region_params.txt" "$work/params.txt"

echo "# one region of 300 markers: step, seconds, peak MB"
for n in $sizes; do
    d=$work/h$n
    mkdir -p "$d"
    /usr/bin/python3 "$here/make_region_vcf.py" "$d" --haplotypes "$n"
    /usr/bin/python3 "$here/make_region_vcf.py" "$d/unphased" --haplotypes "$n" --unphased
    measure "extract_$n" bcftools view -r 1:1000000-1300000 -Oz -o "$d/extracted.vcf.gz" \
        "$d/region.vcf.gz"
    if [ "${PHASING:-1}" != 0 ] && command -v beagle > /dev/null; then
        measure "beagle_$n" env JAVA_TOOL_OPTIONS=-Xmx8000m beagle gt="$d/unphased/region.vcf.gz" \
            out="$d/unphased/phased" nthreads=2
    fi
    measure "orvane-vcf_$n" "$build/orvane-vcf" --vcf "$d/region.vcf.gz" --pheno "$d/pheno.txt" \
        --map "$d/map.txt" --region 1:1000000-1300000 --out "$d/orvane"
    rm -f "$d/orvane.dat-results"
    (cd "$d" && measure "orvane_$n" "$build/orvane" -s orvane.dat "$work/params.txt" orvane.dist)
    measure "orvane-plot_$n" "$root/tools/orvane-plot" "$d/orvane.dat-results" \
        --markers "$d/orvane.markers.tsv" -o "$d/plot.png"
done

echo "# overhead: 12 regions of the bundled study, phasing none, one core"
study=$work/study
rm -rf "$study"
/usr/bin/python3 "$root/examples/study/make_study.py" "$study" --all-phased 2> /dev/null
while read -r chrom start end name; do
    for k in 0 1 2 3; do
        printf '%s\t%d\t%d\t%s_%d\n' "$chrom" $((start + k * 75000)) $((start + (k + 1) * 75000)) "$name" "$k"
    done
done < "$root/examples/study/loci.bed" > "$study/regions.bed"
mkdir -p "$study/bin"
ln -sf "$build/orvane" "$build/orvane-vcf" "$root/tools/orvane-plot" "$study/bin/"
cat > "$study/config.yaml" <<EOF
{"vcf": "$study/study.vcf.gz", "pheno": "$study/pheno.txt", "mode": "s",
 "regions": "$study/regions.bed", "map": "$study/chr{chrom}.map", "phasing": "none",
 "params": "$root/examples/study/params.txt", "outdir": "$study/out", "bin": "$study/bin"}
EOF
start=$(date +%s.%N)
(cd "$study" && snakemake -s "$root/workflow/Snakefile" --cores 1 --configfile config.yaml \
    > snakemake.log 2>&1)
workflow=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
start=$(date +%s.%N)
while read -r chrom from to name; do
    d=$study/hand/$name
    mkdir -p "$d"
    span=$chrom:$((from + 1))-$to
    bcftools view -r "$span" -Oz -o "$d/flank.vcf.gz" "$study/study.vcf.gz"
    bcftools index -f "$d/flank.vcf.gz"
    bcftools view -r "$span" -Oz -o "$d/region.vcf.gz" "$d/flank.vcf.gz"
    bcftools index -f "$d/region.vcf.gz"
    "$build/orvane-vcf" --vcf "$d/region.vcf.gz" --pheno "$study/pheno.txt" --region "$span" \
        --map "$study/chr$chrom.map" --out "$d/orvane" 2> /dev/null
    (cd "$d" && ORVANE_THREADS=1 "$build/orvane" -s orvane.dat "$root/examples/study/params.txt" \
        orvane.dist > /dev/null)
    "$root/tools/orvane-plot" "$d/orvane.dat-results" --markers "$d/orvane.markers.tsv" -o "$d/plot.png"
done < "$study/regions.bed"
hand=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
printf 'workflow\t%.1f\nby hand\t%.1f\noverhead per region\t%.2f\n' "$workflow" "$hand" \
    "$(awk -v w="$workflow" -v h="$hand" 'BEGIN { print (w - h) / 12 }')"
