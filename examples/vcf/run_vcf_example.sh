#!/bin/sh
# The worked example from VCF to picture: converts examples/vcf/example.vcf,
# runs orvane in single-gene mode in a scratch directory and draws the picture.
#
# Usage: examples/vcf/run_vcf_example.sh [-h|--help] [-o PICTURE] ORVANE [ORVANE_VCF]
#   -o PICTURE  the picture to write, .png or .svg (default: association.png
#               in the current directory)
#   ORVANE      the built orvane binary
#   ORVANE_VCF  the converter (default: orvane-vcf beside ORVANE, then
#               the PATH)
# orvane-plot is taken from beside ORVANE (the copy CMake writes, which knows
# the version), else from the source tree's plot/.
set -eu

usage() {
    sed -n '5,10s/^# \{0,1\}//p' "$0" >&2
    exit 1
}
case "${1:-}" in
    -h|--help) sed -n '5,12s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
picture=association.png
if [ $# -ge 1 ] && [ "$1" = "-o" ]; then
    [ $# -ge 2 ] || usage
    picture=$2
    shift 2
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    usage
fi
here=$(cd "$(dirname "$0")" && pwd)
example="$here"
orvane=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -x "$orvane" ] || { echo "run_vcf_example.sh: $1 is not an executable" >&2; exit 1; }

dir=$(dirname "$orvane")
converter=${2:-}
if [ -z "$converter" ]; then
    for candidate in "$dir/orvane-vcf"; do
        if [ -x "$candidate" ]; then converter=$candidate; break; fi
    done
fi
if [ -z "$converter" ]; then
    converter=$(command -v orvane-vcf) ||
        { echo "run_vcf_example.sh: orvane-vcf not found; give its path as the second argument" >&2; exit 1; }
fi
plot="$here/../../plot/orvane-plot"
[ -x "$dir/orvane-plot" ] && plot="$dir/orvane-plot"

# orvane appends to DATAFILE-results and writes "output" in the working
# directory, so it runs in a scratch directory that is removed afterwards.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$converter" --vcf "$example/example.vcf" --pheno "$example/pheno.txt" \
    --map "$example/genetic_map.txt" --out "$work/example"
cp "$example/params.txt" "$work/params.txt"
(cd "$work" && "$orvane" -s example.dat params.txt example.dist)
[ -s "$work/example.dat-results" ] ||
    { echo "run_vcf_example.sh: orvane wrote no result file" >&2; exit 1; }
"$plot" "$work/example.dat-results" --markers "$work/example.markers.tsv" \
    --data "$work/example.dat" --map "$example/genetic_map.txt" --params "$work/params.txt" \
    -o "$picture"
tail -n 2 "$work/example.dat-results"
echo "wrote $picture"
