#!/usr/bin/env bash
# Time and peak memory of orvane-plot on one large region, run as the
# workflow runs it (markers, the data file for r^2, the parameter file, a
# title); bench/README.md's orvane-plot table.
#
# usage: bench/plot_speed.sh BUILD_DIR [WORK_DIR] [HAPLOTYPES]
#   BUILD_DIR   holds the built orvane and orvane-plot
#   HAPLOTYPES  default 1000000 (300 markers)
#   BASELINE=REV  also runs orvane-plot of git revision REV on the same files
#                 and compares the two pictures' SVG (the date line aside)
#
# The region is written by bench/make_plot_region.py (seeded) and scanned by
# orvane with bench/region_params.txt's settings, its cluster report off; both
# are kept in WORK_DIR and reused by the next run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
work=${2:-/tmp/orvane-plot-bench}
n=${3:-1000000}
d=$work/h$n
mkdir -p "$d"

measure() {  # label, command...: prints "label wall-seconds cpu-seconds peak-MB"
    local label=$1; shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > "$work/$label.log" 2>&1
    read -r seconds user system kb < "$work/time.txt"
    printf "%s\t%s\t%s\t%d\n" "$label" "$seconds" "$(awk -v u="$user" -v s="$system" "BEGIN { print u + s }")" $((kb / 1024))
}

if [ ! -s "$d/orvane.dat-results" ]; then
    /usr/bin/python3 "$here/make_plot_region.py" "$d" --haplotypes "$n"
    # No cluster report: only the result file is drawn.
    sed 's/^reportThreshold .*/reportThreshold 1e9/' "$here/region_params.txt" > "$d/params.txt"
    (cd "$d" && ORVANE_THREADS=2 "$build/orvane" -s orvane.dat params.txt orvane.dist \
        > orvane.log 2>&1)
    rm -f "$d/output"
fi

# As the workflow's plot rule runs it.
options=(--markers "$d/orvane.markers.tsv" --data "$d/orvane.dat" --params "$d/params.txt"
         --title "region (1:1000001-1300000)")
echo "# orvane-plot, $n haplotypes x 300 markers: wall seconds, cpu seconds, peak MB"
measure "orvane-plot_png" "$build/orvane-plot" "$d/orvane.dat-results" "${options[@]}" -o "$d/plot.png"
measure "orvane-plot_svg" "$build/orvane-plot" "$d/orvane.dat-results" "${options[@]}" -o "$d/plot.svg"
if [ -n "${BASELINE:-}" ]; then
    # The revision's plot/ holds orvane-plot: one script, or a launcher with
    # its package beside it. Older revisions kept the script in tools/.
    base=$work/baseline-$BASELINE
    rm -rf "$base" && mkdir -p "$base"
    if git -C "$root" cat-file -e "$BASELINE:plot/orvane-plot" 2> /dev/null; then
        git -C "$root" archive "$BASELINE" plot | tar -x -C "$base"
        baseline_plot=$base/plot/orvane-plot
    else
        mkdir -p "$base/tools"
        git -C "$root" show "$BASELINE:tools/orvane-plot" > "$base/tools/orvane-plot"
        baseline_plot=$base/tools/orvane-plot
    fi
    chmod +x "$baseline_plot"
    measure "baseline_$BASELINE" "$baseline_plot" "$d/orvane.dat-results" \
        "${options[@]}" -o "$d/baseline.svg"
    if diff <(grep -v '<dc:date>' "$d/baseline.svg") <(grep -v '<dc:date>' "$d/plot.svg") \
        > /dev/null; then
        echo "# the SVG of $BASELINE and of this build are identical"
    else
        echo "# the SVG of $BASELINE and of this build DIFFER"
    fi
fi
