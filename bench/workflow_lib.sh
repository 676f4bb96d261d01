# Pieces shared by the benchmarks that run the whole workflow
# (slurm_region.sh, region_disk.sh, biobank_region.sh, slurm_chromosome.sh).
# Sourced, not run; expects $here (bench/) and $root (the source tree).

# bench_data DIR HAPLOTYPES [MARKERS]: a seeded region of easy haplotypes
# (make_region_vcf.py, one marker per kb from 1 Mb on chromosome 1), made
# once; map1.txt names its map as the workflow's map{chrom} asks.
bench_data() {
    local dir=$1 haplotypes=$2 markers=${3:-300}
    [ -f "$dir/region.vcf.gz" ] ||
        /usr/bin/python3 "$here/make_region_vcf.py" "$dir" --haplotypes "$haplotypes" --markers "$markers"
    ln -sf map.txt "$dir/map1.txt"
}

# bench_region DATA WORK: the one region of a benchmark (DATA/region.bed, 1 to
# 1.3 Mb on chromosome 1) and the parameters of one large region
# (WORK/params.txt, shared by the region benchmarks).
bench_region() {
    printf '1\t999999\t1300000\tregion\n' > "$1/region.bed"
    cp "$here/region_params.txt" "$2/params.txt"
}

# bench_plink DIR bgen|pgen: DIR/region.vcf.gz as DIR/source.bgen (BGEN 1.2,
# plink2's ref-last layout, with source.sample) or DIR/source.{pgen,pvar,psam},
# made once.
bench_plink() {
    local dir=$1 format=$2
    if [ "$format" = bgen ]; then
        [ -f "$dir/source.bgen" ] || plink2 --vcf "$dir/region.vcf.gz" --export bgen-1.2 \
            --threads 2 --out "$dir/source" > "$dir/plink2-bgen.log"
    else
        [ -f "$dir/source.pgen" ] || plink2 --vcf "$dir/region.vcf.gz" --make-pgen \
            --threads 2 --out "$dir/source" > "$dir/plink2-pgen.log"
    fi
}

# bench_inputs DIR HAPLOTYPES MARKERS bgen|pgen|vcf: the region's data and its
# input in that format (bench_data, bench_plink), each made once, with the
# seconds each took printed as comment lines.
bench_inputs() {
    local dir=$1 haplotypes=$2 markers=$3 source=$4 start
    start=$(date +%s.%N)
    bench_data "$dir" "$haplotypes" "$markers"
    echo "# data: $haplotypes haplotypes x $markers markers, made in $(bench_since "$start") s (0 if kept)"
    start=$(date +%s.%N)
    [ "$source" = vcf ] || bench_plink "$dir" "$source"
    echo "# $source made in $(bench_since "$start") s (0 if kept)"
}

# bench_source_config DIR bgen|pgen|vcf: the config keys of that input.
bench_source_config() {
    case $2 in
        bgen) printf '"bgen": "%s", "bgen_sample": "%s", "bgen_ref": "last"' \
                  "$1/source.bgen" "$1/source.sample" ;;
        pgen) printf '"pgen": "%s"' "$1/source" ;;
        *) printf '"vcf": "%s"' "$1/region.vcf.gz" ;;
    esac
}

# bench_bin WORK BUILD: WORK/bin holding the programs the workflow runs.
bench_bin() {
    mkdir -p "$1/bin"
    ln -sf "$2/orvane" "$2/orvane-vcf" "$root/plot/orvane-plot" "$root/sumstats/orvane-sumstats" "$1/bin/"
}

# bench_timed_bin WORK BUILD: as bench_bin, but every program, and bcftools
# and plink2 in WORK/timed (put it first on PATH), is a wrapper that appends
# one line per run to WORK/times.tsv: program, wall seconds, peak resident
# KB, the command (/usr/bin/time). workflow_steps.py reads it.
bench_timed_bin() {
    local work=$1 build=$2 name real target
    mkdir -p "$work/bin" "$work/timed"
    : > "$work/times.tsv"
    for real in "$build/orvane" "$build/orvane-vcf" "$root/plot/orvane-plot" \
                "$root/sumstats/orvane-sumstats" "$(command -v bcftools)" "$(command -v plink2)"; do
        [ -n "$real" ] || continue  # plink2 is needed for BGEN and PGEN input only
        name=$(basename "$real")
        case $name in bcftools|plink2) target=$work/timed/$name ;; *) target=$work/bin/$name ;; esac
        rm -f "$target"
        printf '#!/bin/sh\nexec /usr/bin/time -a -o %s -f "%s\\t%%e\\t%%M\\t%%C" %s "$@"\n' \
            "$work/times.tsv" "$name" "$real" > "$target"
        chmod +x "$target"
    done
}

# bench_peak_size DIR PID: DIR's largest size in bytes (du, every second)
# while process PID runs.
bench_peak_size() {
    local peak=0 used
    while kill -0 "$2" 2> /dev/null; do
        used=$(du -sb "$1" 2> /dev/null | cut -f1 || echo 0)
        [ "${used:-0}" -gt "$peak" ] && peak=$used
        sleep 1
    done
    echo "$peak"
}

# bench_since START: whole seconds since START (date +%s.%N).
bench_since() {
    awk -v a="$(date +%s.%N)" -v b="$1" 'BEGIN { printf "%.0f", a - b }'
}

# bench_slurm_record LOG DIR: every job Snakemake submitted (its log LOG) as
# scontrol shows it, one file a job in DIR, kept once the job has ended; run
# inside the cluster, every few minutes while the run lasts and once after
# it, since the controller forgets a job 10 minutes after its end (MinJobAge).
bench_slurm_record() {
    local id
    mkdir -p "$2"
    for id in $(sed -n "s/^Submitted job .* external jobid '\([0-9]*\).*/\1/p" "$1"); do
        grep -qE 'JobState=(COMPLETED|FAILED|CANCELLED|TIMEOUT|OUT_OF_MEMORY)' "$2/$id" 2> /dev/null &&
            continue
        scontrol show job -o "$id" 2> /dev/null | tr ' ' '\n' |
            awk -F= '/^(JobId|JobName|JobState|SubmitTime|StartTime|EndTime|RunTime|NumCPUs|MinMemoryNode)=/ { printf "%s ", $0 } END { print "" }' > "$2/$id.new"
        if grep -q JobId "$2/$id.new"; then mv "$2/$id.new" "$2/$id"; else rm -f "$2/$id.new"; fi
    done
}

# bench_slurm_jobs DIR: the recorded jobs, in the order of their ids.
bench_slurm_jobs() {
    find "$1" -maxdepth 1 -type f -regex '.*/[0-9]+' -printf '%f\n' | sort -n |
        while read -r id; do cat "$1/$id"; done
}
