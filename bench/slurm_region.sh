#!/usr/bin/env bash
# Time of one large region through the whole workflow, locally and through
# SLURM with the shipped profile (workflow/profiles/slurm), on this machine:
# the measured rows of README.md's "Time on paper" table.
#
# usage: bench/slurm_region.sh BUILD_DIR [WORK_DIR] [HAPLOTYPES]
#   BUILD_DIR   holds the built orvane and orvane-vcf (orvane-plot is plot/orvane-plot)
#   HAPLOTYPES  default 200000: one region of 300 markers (bench/make_region_vcf.py,
#               seeded), phased input (phasing none), 1,000 permutations,
#               windows of 21 markers
#
# The SLURM run goes through tests/slurm/slurm_cluster.sh (a one-node cluster
# started for it, as root); its start-up is not timed. Both runs must give the
# same summary and result file, byte for byte. Prints both wall times and, for
# the SLURM run, each job's name, state and times as scontrol shows them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/workflow_lib.sh"
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-slurm-bench}
haplotypes=${3:-200000}
mkdir -p "$work"
work=$(cd "$work" && pwd)
data=$work/h$haplotypes

bench_data "$data" "$haplotypes"
bench_region "$data" "$work"
bench_bin "$work" "$build"
cat > "$work/config.yaml" <<EOF
{"vcf": "$data/region.vcf.gz", "pheno": "$data/pheno.txt", "mode": "s",
 "regions": "$data/region.bed", "map": "$data/map{chrom}.txt", "phasing": "none",
 "params": "$work/params.txt", "bin": "$work/bin"}
EOF
rm -rf "$work/local" "$work/slurm" "$work/.snakemake"

snakefile=$root/workflow/Snakefile
start=$(date +%s.%N)
(cd "$work" && snakemake -s "$snakefile" --cores 2 --configfile config.yaml \
    --config outdir=local > local.log 2>&1)
local_seconds=$(bench_since "$start")

# Inside the cluster: the run timed alone, then its jobs as SLURM saw them.
cat > "$work/slurm_run.sh" <<EOF
set -euo pipefail
here=$here root=$root
. "$here/workflow_lib.sh"
cd "$work"
start=\$(date +%s.%N)
snakemake -s "$snakefile" --profile "$root/workflow/profiles/slurm" --configfile config.yaml \
    --config outdir=slurm > slurm.log 2>&1
bench_since "\$start" > slurm.seconds
rm -rf jobs
bench_slurm_record slurm.log jobs
bench_slurm_jobs jobs > slurm-jobs.txt
EOF
# Snakemake 7 looks at cluster jobs every 10 s, or every second with CI=true;
# the default is kept here, as a user would have it.
bash "$root/tests/slurm/slurm_cluster.sh" "$work/cluster" bash "$work/slurm_run.sh"

for file in summary.tsv regions/region/orvane.dat-results; do
    cmp "$work/local/$file" "$work/slurm/$file"
done
echo "# $haplotypes haplotypes, 300 markers, 1,000 permutations, phasing none"
printf 'local (--cores 2)\t%s s\n' "$local_seconds"
printf 'SLURM (one node, 2 CPUs)\t%s s\n' "$(cat "$work/slurm.seconds")"
echo "# SLURM jobs"
cat "$work/slurm-jobs.txt"
