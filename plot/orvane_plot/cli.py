"""The command line: its options, the run, and the errors' exit statuses."""
import argparse
import math
import os
import sys

from .companions import read_interval, read_map, read_markers, read_permutations
from .errors import EXIT_USAGE, PlotError
from .figure import Inputs, Size, draw
from .haplotypes import read_haplotypes
from .results import PREDICTIONS, read_blocks, read_record
from .version import version


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise PlotError(message, EXIT_USAGE)


def main(argv):
    parser = Parser(prog="orvane-plot",
                    description="Draw a regional association plot of an orvane result file: "
                                "-log10 p of the cluster score and the single-marker test "
                                "along the region, the predicted positions and the "
                                "permutation p-values. Exit status: 1 wrong command line, "
                                "2 invalid input, 3 output error.")
    parser.add_argument("result", metavar="RESULTFILE", help="orvane result file")
    parser.add_argument("-o", dest="out", metavar="FILE",
                        help="image to write, PNG or SVG by its ending "
                             "(default: RESULTFILE.png)")
    parser.add_argument("--block", type=int, metavar="N",
                        help="run to draw, from 1 (default: the last)")
    parser.add_argument("--markers", metavar="TSV",
                        help="PREFIX.markers.tsv of orvane-vcf: genomic positions and names")
    parser.add_argument("--data", metavar="FILE",
                        help="the run's data file (PREFIX.dat): colours the single-marker "
                             "points by r^2 with the lead marker; in trait mode draws the "
                             "pooled T")
    parser.add_argument("--map", metavar="FILE",
                        help="the genetic map given to orvane-vcf: recombination rate on a "
                             "second axis (needs --markers)")
    parser.add_argument("--interval", metavar="TSV",
                        help="PREFIX.interval.tsv: shades the cluster statistic's "
                             "localisation interval")
    count = parser.add_mutually_exclusive_group()
    count.add_argument("--permutations", type=int, metavar="P",
                       help="permutations of the run, to read its permutation p-values "
                            "(0: the test did not run)")
    count.add_argument("--params", metavar="FILE",
                       help="the run's parameter file, from which the permutation count "
                            "is read")
    parser.add_argument("--title", metavar="TEXT", help="title of the picture")
    parser.add_argument("--width", type=float, default=8.0, metavar="INCHES",
                        help="width of the picture, 5 to 40 inches (default 8)")
    parser.add_argument("--height", type=float, default=4.5, metavar="INCHES",
                        help="height of the picture, 3 to 30 inches (default 4.5)")
    parser.add_argument("--dpi", type=int, default=100, metavar="N",
                        help="PNG pixels per inch, 50 to 600 (default 100: 800 x 450 pixels)")
    parser.add_argument("--version", action="version", version=f"orvane-plot {version()}")
    args = parser.parse_args(argv)
    out = args.out or args.result + ".png"
    if os.path.splitext(out)[1].lower() not in (".png", ".svg"):
        raise PlotError(f"-o {out}: the name must end in .png or .svg", EXIT_USAGE)
    if args.map and not args.markers:
        raise PlotError("--map needs --markers: the map is in base pairs", EXIT_USAGE)
    if args.permutations is not None and args.permutations < 0:
        raise PlotError("--permutations must be 0 or more", EXIT_USAGE)
    for name, value, low, high in (("--width", args.width, 5, 40),
                                   ("--height", args.height, 3, 30),
                                   ("--dpi", args.dpi, 50, 600)):
        if not low <= value <= high:
            raise PlotError(f"{name} {value:g}: must lie between {low} and {high}", EXIT_USAGE)

    blocks = read_blocks(args.result)
    number = args.block if args.block is not None else len(blocks)
    if not 1 <= number <= len(blocks):
        raise PlotError(f"--block {number}: {args.result} holds {len(blocks)} run(s)",
                        EXIT_USAGE)
    block = blocks[number - 1]
    if block.summary is None or not block.rows:
        raise PlotError(f"{args.result}: run {number} (line {block.line}) has no summary: "
                        "the run stopped early; choose another with --block")
    n = len(block.rows)
    inputs = Inputs()
    inputs.title = args.title
    inputs.size = Size(args.width, args.height, args.dpi)
    inputs.permutations = (args.permutations if args.params is None
                           else read_permutations(args.params))
    inputs.record = read_record(args.result, blocks, number)
    if args.markers:
        inputs.markers = read_markers(args.markers, n)
    if args.data:
        # The lead marker is the single-marker test's predicted position; an
        # invalid one is reported when the picture is drawn.
        lead = block.summary[PREDICTIONS[block.mode][1][0]]
        lead = int(lead) if math.isfinite(lead) and lead == int(lead) and 0 <= lead < n else None
        inputs.haplotypes = read_haplotypes(args.data, n, lead)
        inputs.data_path = args.data
    if args.map:
        inputs.genetic_map = read_map(args.map)
    if args.interval:
        inputs.intervals = read_interval(args.interval, block, f"{args.result} (run {number})")
        inputs.interval_path = args.interval
    draw(block, number, len(blocks), args.result, out, inputs)
    return 0


def run(argv):
    """main(), with an error reported on one line and turned into the exit status."""
    try:
        return main(argv)
    except PlotError as e:
        print(f"orvane-plot: error: {e}", file=sys.stderr)
        return e.status
