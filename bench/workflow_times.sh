#!/usr/bin/env bash
# Time and peak memory of one region through the workflow's steps at three
# sizes, and the workflow's own overhead per region; the tables of README.md's
# study section and bench/README.md's "Memory of the workflow's steps".
#
# usage: [PHASING=0] [BIOBANK=0] [OVERHEAD=0] bench/workflow_times.sh BUILD_DIR [WORK_DIR] [SIZES]
#   BUILD_DIR  holds the built orvane, orvane-vcf and orvane-locate (orvane-plot is plot/orvane-plot)
#   SIZES      haplotype counts, default "2000 20000 200000"
#   PHASING=0  leaves Beagle out (it takes about 14 minutes at 200,000)
#   BIOBANK=0  leaves out the extraction by plink2 from a PGEN and a BGEN
#   OVERHEAD=0 leaves out the overhead measure (part 2)
#
# 1. One region of 300 markers (bench/make_region_vcf.py, seeded), each step
#    run as the workflow runs it and timed alone (wall seconds and peak
#    resident memory, /usr/bin/time): the extraction with bcftools (and, with
#    plink2, from the region as a PGEN and as a BGEN, as the extract rule does
#    for those inputs), the trim back to the region, Beagle on the unphased
#    copy (2 threads), orvane-vcf, orvane (1,000 permutations, both
#    processors, its cluster report sent to /dev/null as the workflow does by
#    default), orvane-plot with the workflow's options (--data, --params,
#    --map, --title) and orvane-locate.
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
span=1:1000000-1300000

echo "# one region of 300 markers: step, seconds, peak MB"
for n in $sizes; do
    d=$work/h$n
    mkdir -p "$d"
    [ -f "$d/region.vcf.gz" ] || /usr/bin/python3 "$here/make_region_vcf.py" "$d" --haplotypes "$n"
    measure "extract_$n" bcftools view -r "$span" -Oz -o "$d/extracted.vcf.gz" "$d/region.vcf.gz"
    bcftools index -f "$d/extracted.vcf.gz"
    measure "trim_$n" bcftools view -r "$span" -Oz -o "$d/trimmed.vcf.gz" "$d/extracted.vcf.gz"
    if [ "${BIOBANK:-1}" != 0 ] && command -v plink2 > /dev/null; then
        # The region as a PLINK 2 fileset and a BGEN (not timed), then the
        # extract rule's plink2 command on each, with its default workspace.
        plink2 --vcf "$d/region.vcf.gz" --make-pgen --out "$d/source" > /dev/null
        plink2 --pfile "$d/source" --export bgen-1.2 --out "$d/source" > /dev/null
        for source in "--pfile $d/source" "--bgen $d/source.bgen ref-last --sample $d/source.sample"; do
            label=$([ "${source#--pfile}" != "$source" ] && echo pgen || echo bgen)
            # shellcheck disable=SC2086
            measure "plink2-$label-extract_$n" plink2 $source --chr 1 --from-bp 1000000 \
                --to-bp 1300000 --export vcf bgz id-paste=iid --threads 2 --memory 1600 \
                --out "$d/plink2-$label"
        done
    fi
    if [ "${PHASING:-1}" != 0 ] && command -v beagle > /dev/null; then
        [ -f "$d/unphased/region.vcf.gz" ] ||
            /usr/bin/python3 "$here/make_region_vcf.py" "$d/unphased" --haplotypes "$n" --unphased
        measure "beagle_$n" env JAVA_TOOL_OPTIONS=-Xmx8000m beagle gt="$d/unphased/region.vcf.gz" \
            out="$d/unphased/phased" nthreads=2
    fi
    measure "orvane-vcf_$n" "$build/orvane-vcf" --vcf "$d/region.vcf.gz" --pheno "$d/pheno.txt" \
        --map "$d/map.txt" --region "$span" --out "$d/orvane"
    rm -f "$d/orvane.dat-results" "$d/orvane.dat-results.jsonl" "$d/output"
    ln -s /dev/null "$d/output"
    (cd "$d" && measure "orvane_$n" "$build/orvane" -s orvane.dat "$work/params.txt" orvane.dist)
    rm -f "$d/output"
    measure "orvane-plot_$n" "$root/plot/orvane-plot" "$d/orvane.dat-results" \
        --markers "$d/orvane.markers.tsv" --data "$d/orvane.dat" --params "$work/params.txt" \
        --title "region ($span)" --map "$d/map.txt" -o "$d/plot.png"
    measure "orvane-locate_$n" "$build/orvane-locate" -s "$d/orvane.dat" "$work/params.txt" \
        "$d/orvane.dist" --out "$d/locate"
    printf 'files_%s\t.dat %d MB\n' "$n" $(( $(stat -c %s "$d/orvane.dat") / 1000000 ))
done

[ "${OVERHEAD:-1}" != 0 ] || exit 0
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
ln -sf "$build/orvane" "$build/orvane-vcf" "$root/plot/orvane-plot" "$study/bin/"
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
    "$root/plot/orvane-plot" "$d/orvane.dat-results" --markers "$d/orvane.markers.tsv" \
        --data "$d/orvane.dat" --params "$root/examples/study/params.txt" \
        --map "$study/chr$chrom.map" --title "$name ($span)" -o "$d/plot.png"
done < "$study/regions.bed"
hand=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
printf 'workflow\t%.1f\nby hand\t%.1f\noverhead per region\t%.2f\n' "$workflow" "$hand" \
    "$(awk -v w="$workflow" -v h="$hand" 'BEGIN { print (w - h) / 12 }')"
