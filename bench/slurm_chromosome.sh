#!/usr/bin/env bash
# Time of a whole chromosome in tiles through SLURM with the shipped profile
# (workflow/profiles/slurm), on this machine: docs/performance.md's "Time on
# paper", the chromosome.
#
# usage: bench/slurm_chromosome.sh BUILD_DIR [WORK_DIR] [HAPLOTYPES] [MARKERS] [SOURCE]
#   BUILD_DIR   holds the built orvane and orvane-vcf (orvane-plot is plot/orvane-plot)
#   HAPLOTYPES  default 200000; MARKERS default 6200 (one per kb from 1 Mb:
#               bench/make_region_vcf.py, seeded, easy haplotypes)
#   SOURCE      pgen (default), bgen or vcf: the input the workflow reads
#   SIZE_MB     tile size, default 0.3 (overlap 0): 21 tiles of 6,200 markers,
#               20 of 300 or 299 markers and the first of 201
#
# The tiles are laid by the workflow's `tile:` key over chromosome 1, phasing
# none, the workflow's default permutation scheme for tiles (adaptive, at most
# 100,000 replicates), windows of 21 markers (region_params.txt). The run goes
# through tests/slurm/slurm_cluster.sh (a one-node cluster started for it, as
# root; its start-up is not timed), Snakemake's default 10 s status checks.
# Every program the jobs run is timed by a wrapper (workflow_lib.sh). Prints
# the data's making, the whole wall time, per rule the jobs' RunTime (scontrol)
# and peak memory, the waits between jobs, and per tile its markers and the
# replicates drawn (summary.tsv).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/workflow_lib.sh"
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-chromosome-bench}
haplotypes=${3:-200000}
markers=${4:-6200}
source=${5:-pgen}
mkdir -p "$work"
work=$(cd "$work" && pwd)
data=$work/h${haplotypes}x$markers

bench_inputs "$data" "$haplotypes" "$markers" "$source"
cp "$here/region_params.txt" "$work/params.txt"
bench_timed_bin "$work" "$build"
cat > "$work/config.yaml" <<EOF
{$(bench_source_config "$data" "$source"), "pheno": "$data/pheno.txt", "mode": "s",
 "tile": {"chromosomes": [1], "size_mb": ${SIZE_MB:-0.3}, "overlap_mb": 0},
 "map": "$data/map{chrom}.txt", "phasing": "none",
 "params": "$work/params.txt", "bin": "$work/bin", "outdir": "$work/run"}
EOF
rm -rf "$work/run" "$work/.snakemake" "$work/jobs"

# Inside the cluster: the run, its jobs recorded while it lasts.
cat > "$work/slurm_run.sh" <<EOF
set -uo pipefail
here=$here root=$root
. "$here/workflow_lib.sh"
cd "$work"
export PATH="$work/timed:\$PATH"
date +%s.%N > start.txt
{ snakemake -s "$root/workflow/Snakefile" --profile "$root/workflow/profiles/slurm" \
      --configfile config.yaml > snakemake.log 2>&1
  echo \$? > status.txt; date +%s.%N > end.txt; } &
while [ ! -f end.txt ]; do
    sleep 15
    bench_slurm_record snakemake.log jobs
    cut -d' ' -f1 /proc/loadavg >> load.txt
done
bench_slurm_record snakemake.log jobs
exit "\$(cat status.txt)"
EOF
rm -f "$work/start.txt" "$work/end.txt" "$work/status.txt" "$work/load.txt"
status=0
bash "$root/tests/slurm/slurm_cluster.sh" "$work/cluster" bash "$work/slurm_run.sh" || status=$?
bench_slurm_jobs "$work/jobs" > "$work/slurm-jobs.txt"
echo "# $haplotypes haplotypes, $markers markers, tiles of ${SIZE_MB:-0.3} Mb from $source, phasing none"
echo "# load average (1 minute) during the run, every 15 s: $(sort -n "$work/load.txt" |
    awk '{ v[NR] = $1 } END { if (NR) printf "median %s, %s to %s", v[int((NR + 1) / 2)], v[1], v[NR] }')"
printf 'SLURM (one node), whole run\t%s s\n' \
    "$(awk -v a="$(cat "$work/end.txt")" -v b="$(cat "$work/start.txt")" 'BEGIN { printf "%.0f", a - b }')"
printf 'tiles\t%s\n' "$(grep -vc '^#' "$work/run/tiles.bed")"
if [ "$status" != 0 ]; then
    echo "the run failed (status $status): see $work/snakemake.log" >&2
    cat "$work/slurm-jobs.txt"
    exit "$status"
fi
/usr/bin/python3 "$here/workflow_steps.py" slurm "$work/slurm-jobs.txt" "$work/times.tsv" "$work/run"
