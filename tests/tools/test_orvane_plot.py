#!/usr/bin/python3
"""Tests of orvane-plot on hand-written result files. Pictures are checked
through the text and the element ids of their SVG.

Usage: test_orvane_plot.py ORVANE_PLOT WORK_DIR VERSION
(run with a python3 that has matplotlib and scipy)
"""
import math
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import matplotlib
matplotlib.use("Agg")
import matplotlib.image
from scipy import stats

PLOT, WORK, VERSION = sys.argv[1:4]
SVG = "{http://www.w3.org/2000/svg}"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def run(*args):
    p = subprocess.run([sys.executable, PLOT, *args], capture_output=True, text=True)
    return p.returncode, p.stderr


class Svg:
    """The texts and the groups (by id) of a drawn SVG."""
    def __init__(self, path):
        self.root = ET.parse(path).getroot()
        self.texts = ["".join(t.itertext()) for t in self.root.iter(SVG + "text")]
        self.groups = {g.get("id"): g for g in self.root.iter(SVG + "g") if g.get("id")}

    def has_text(self, fragment):
        """Legend labels wrap over lines: the texts are searched as one."""
        return fragment in " ".join(" ".join(self.texts).split())

    def uses(self, gid):
        """Markers drawn by a scatter group."""
        return len(list(self.groups[gid].iter(SVG + "use"))) if gid in self.groups else -1

    def path(self, gid):
        group = self.groups.get(gid)
        found = group.find(".//" + SVG + "path") if group is not None else None
        return found.get("d") if found is not None else ""


def draw_svg(name, results, *args, status=0):
    out = os.path.join(WORK, name + ".svg")
    rc, err = run(results, *args, "-o", out)
    check(rc == status, f"{name}: status {rc}: {err}")
    if rc != 0 or not os.path.exists(out):
        return None, err
    return Svg(out), err


def xs(d):
    return [float(v) for v in re.findall(r"[ML] ([-0-9.]+) ", d)]


TRAIT_HEADER = "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
TRAIT_SUMMARY_HEADER = ("Orvane:predicted_Pos\tpredicted_QScore\t-log(p)\tpermutation_p-Value\t"
                        "SingleSNP_predicted_Pos\tT statistic\t-log(p)\tpermutation_p-Value\t"
                        "MWU_predicted_Pos\tpredict_ZScore\t-log(p)\tpermutation_p-Value\t\n")
# Marker 3's window formed no cluster; an older run wrote a large -log10 p there.
TRAIT = (
    TRAIT_HEADER +
    "0\t0\t1.2\t0.7\t0.5\t0.6\t40\t300\t0.4\n"
    "0.0001\t1\t2.5\t1.9\t1.1\t1.2\t41\t250\t1.3\n"
    "0.0002\t2\t4.1\t3.8\t2.9\t3\t39\t120\t3.1\n"
    "0.0003\t3\t-1e+07\tinf\tnan\tnan\t0\t0\tnan\n"
    "0.0004\t4\t1\t0.5\t-0.2\t-0.3\t40\t340\t-0.5\n" + TRAIT_SUMMARY_HEADER +
    "2\t4.1\t3.8\t0\t2\t2.9\t2.5\t0.02\t2\t3.1\t3\t0.03\t\n")
TRAIT_NO_CLUSTER = (
    TRAIT_HEADER +
    "0\t0\t-1e+07\t-0\t0.5\t0.6\t40\t300\t0.4\n"
    "0.0001\t1\t-1e+07\t-0\t2.9\t3\t39\t120\t3.1\n"
    "0.0002\t2\t-1e+07\t-0\t1.1\t1.2\t41\t250\t1.3\n" + TRAIT_SUMMARY_HEADER +
    "2\t-1e+07\t-0\t0\t1\t2.9\t2.5\t0.02\t1\t3.1\t3\t0.03\t\n")
SINGLE_HEADER = ("GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\t"
                 "SingleSNPMinusLogP\n")
SINGLE_MARKERS = (
    "0\t0\t0\t-0\t0\t0\n"
    "0.0005\t1\t1.5\t0.87\t1.2\t0.57\n"
    "0.001\t2\t3.2\t2.86\t5.1\t1.62\n"
    "0.0015\t3\t4.4\t5.03\t9.8\t2.76\n"
    "0.002\t4\t-2\t1.34\t2.1\t0.83\n"
    "0.0025\t5\t0.5\t0.21\t0.3\t0.24\n")
SINGLE_SUMMARY_HEADER = ("Orvane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
                         "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n")
SINGLE_SUMMARY = SINGLE_SUMMARY_HEADER + "1\t4.4\t5.03\t0.012\t3\t9.8\t2.76\n"
SINGLE = SINGLE_HEADER + SINGLE_MARKERS + SINGLE_SUMMARY
# Every Z-score 0: no cluster formed; the summary then names the last marker.
SINGLE_NO_CLUSTER = (SINGLE_HEADER + "".join(
    f"{0.0005 * i:g}\t{i}\t0\t-0\t{c}\t{p}\n"
    for i, (c, p) in enumerate([(0, 0), (1.2, 0.57), (5.1, 1.62), (9.8, 2.76), (2.1, 0.83),
                                (0.3, 0.24)])) + SINGLE_SUMMARY_HEADER
    + "5\t0\t-0\t0\t3\t9.8\t2.76\n")
MARKERS = "index\tchrom\tpos\tid\tref\talt\tcm\n" + "".join(
    f"{i}\tchr7\t{117500000 + 2000 * i}\trs{100 + i}\tA\tG\t{0.5 * i}\n" for i in range(6))
# Eight haplotypes over six markers; the lead marker is 3 (the single-marker
# prediction). r^2 with it, by hand: marker 0 0, marker 1 1/15, markers 2 and
# 4 1 (equal and complementary), marker 5 9/16 over the seven haplotypes
# typed there.
DATA = ("id status m0 m1 m2 m3 m4 m5\n" + "".join(
    f"{k + 1} {'a' if k < 4 else 'c'} {' '.join(codes)}\n" for k, codes in enumerate(zip(
        "11221122", "11222221", "11112222", "11112222", "22221111", "11102221")))
        + "\n9 a 1 1 1 1 1 1\n")  # after the empty line: not read
EXPECTED_R2 = [0.0, 1 / 15, 1.0, 1.0, 1.0, 9 / 16]
# Rates 1 cM/Mb up to 117.504 Mb, then 20 cM/Mb.
GENETIC_MAP = "position rate cM\n117490000 1 0\n117504000 1 0.014\n117520000 20 0.334\n"
INTERVAL_HEADER = ("statistic\tconstruction\tlevel\tfirst_marker\tlast_marker\tfirst_cm\t"
                   "last_cm\tmarkers\twidth_cm\n")
# At SINGLE's map positions: 0.05 cM per marker.
INTERVAL = (INTERVAL_HEADER + "chisq\tsupport\t0.95\t0\t4\t0\t0.2\t5\t0.2\n"
            "cluster\tbootstrap\t0.95\t2\t4\t0.1\t0.2\t3\t0.1\n")

shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
results = write("runs-results", TRAIT + SINGLE)
single = write("single-results", SINGLE)
markers = write("x.markers.tsv", MARKERS)
data = write("x.dat", DATA)
genetic_map = write("map.txt", GENETIC_MAP)
interval = write("x.interval.tsv", INTERVAL)

# --- The PNG: written under the default name, 800 x 450 pixels. ---
rc, err = run(results)
check(rc == 0, f"default: status {rc} {err}")
if os.path.exists(results + ".png"):
    check(matplotlib.image.imread(results + ".png").shape[:2] == (450, 800), "PNG size")
else:
    check(False, "default: no PNG written")

# --- A full case/control picture. ---
full, _ = draw_svg("full", single, "--markers", markers, "--data", data, "--map", genetic_map,
                   "--interval", interval, "--permutations", "1000", "--title", "CFTR region")
if full:
    check(full.has_text("CFTR region"), "--title")
    check(full.has_text("permutation p (1000 permutations): cluster score: 0.012"),
          "permutation note " + str(full.texts))
    check(full.has_text("-log10 p (cluster score: nominal)"), "y axis label")
    check(full.has_text("predicted by cluster score: rs101")
          and full.has_text("predicted by single marker: rs103"), "predicted lines' labels")
    check({"predicted-cluster-score", "predicted-single-marker", "cluster-curve",
           "negative-cluster-points", "lead-marker", "r2-colour-bar",
           "recombination-rate", "interval-bootstrap"} <= set(full.groups),
          "elements: " + str(sorted(full.groups)))
    check(full.has_text("r\u00b2 with the lead marker") and full.has_text("lead marker: rs103"),
          "colour bar and lead marker labels")
    counts = [full.uses(f"r2-points-{low:.1f}-{low + 0.2:.1f}") for low in (0, .2, .4, .6, .8)]
    check(counts == [2, -1, 1, -1, 2] and full.uses("lead-marker") == 1,
          f"points per r2 bin {counts}")
    check(full.has_text("cluster 95 % bootstrap interval: rs102 to rs104")
          and not full.has_text("support interval"), "interval label " + str(full.texts))
    # The rate: 1 cM/Mb, then 20 cM/Mb from 117.504 Mb on.
    check(full.has_text("recombination rate (cM/Mb)"), "rate axis label")
    rate_y = re.findall(r"[ML] [-0-9.]+ ([-0-9.]+)", full.path("recombination-rate"))
    check(len(rate_y) == 4 and rate_y[0] == rate_y[1] != rate_y[2] == rate_y[3],
          f"rate: two map intervals, two rates: {rate_y}")
    # The legend lies right of the data area.
    right = xs(full.path("data-area-right"))
    legend_x = [float(t.get("x")) for t in full.groups["legend"].iter()
                if t.tag in (SVG + "text", SVG + "tspan") and t.get("x")]
    check(right and legend_x and min(legend_x) > max(right),
          f"legend at {legend_x[:3]} inside the data area ending at {right}")

    # The legend column keeps its width in inches: under 28 % of the default
    # width, and a smaller share of a wider picture.
    width = float(full.root.get("width").rstrip("pt"))
    check(legend_x and min(legend_x) >= 0.72 * width,
          f"legend from {min(legend_x or [0]):.0f} of {width:.0f} pt")
wide, _ = draw_svg("wide", single, "--markers", markers, "--data", data, "--width", "12",
                   "--height", "6")
if wide:
    width = float(wide.root.get("width").rstrip("pt"))
    legend_x = [float(t.get("x")) for t in wide.groups["legend"].iter()
                if t.tag in (SVG + "text", SVG + "tspan") and t.get("x")]
    right = xs(wide.path("data-area-right"))
    check(width == 864 and wide.root.get("height") == "432pt" and min(legend_x) >= 0.81 * width
          and max(right) >= 0.75 * width,
          f"--width 12: {width} pt, legend from {min(legend_x):.0f}, data area to {max(right)}")
rc, err = run(single, "--width", "10", "--height", "5", "--dpi", "150", "-o",
              os.path.join(WORK, "sized.png"))
check(rc == 0 and matplotlib.image.imread(os.path.join(WORK, "sized.png")).shape[:2]
      == (750, 1500), f"--width 10 --height 5 --dpi 150: {rc} {err}")

# --- The run record beside the result file: its scheme, the chi-square's p and
# the omnibus p. Records are matched to complete blocks from the end (an older
# block has none), and one whose peaks are not the block's is not used. ---
RECORD = ('{"version": "0.2.0", "mode": "s", "permutation": {"scheme": "joint", "count": 1000}, '
          '"statistics": {"cluster": {"peak": 1, "value": 4.4, "minus_log10_p": 5.03, '
          '"permutation_p": 0.012}, "chisq": {"peak": 3, "value": 9.8, "minus_log10_p": 2.76, '
          '"permutation_p": 0.004}}, "omnibus_p": 0.007, "warnings": []}\n')
recorded = write("recorded.txt-results", SINGLE_NO_CLUSTER + SINGLE)
write("recorded.txt-results.jsonl", RECORD)
for block, wanted in (("2", True), ("1", False)):
    picture, _ = draw_svg("recorded" + block, recorded, "--block", block)
    if picture:
        check(picture.has_text("omnibus (all statistics): 0.007") == wanted
              and picture.has_text("(1000 permutations, joint): cluster score: 0.012 "
                                   "single marker: 0.004") == wanted,
              f"record for block {block}: " + str(picture.texts))
# An adaptive run that stopped early: the replicates it drew, of its bound.
write("recorded.txt-results.jsonl", RECORD.replace(
    '"scheme": "joint", "count": 1000}', '"scheme": "adaptive", "count": 100000, "replicates": 40}'))
picture, _ = draw_svg("recorded-adaptive", recorded)
if picture:
    check(picture.has_text("(40 of at most 100000 replicates, adaptive): cluster score: 0.012"),
          "adaptive record: " + str(picture.texts))
# p-values at their floor, 1/(permutations + 1), are written as the bound they are.
write("recorded.txt-results.jsonl", RECORD.replace("0.004", "0.000999001").replace(
    "0.007", "0.000999001"))
picture, _ = draw_svg("recorded-floor", recorded)
check(picture is not None and picture.has_text("single marker: p <= 1/1001 omnibus (all "
                                               "statistics): p <= 1/1001"),
      "floor p in the record: " + str(picture.texts if picture else ""))
write("recorded.txt-results.jsonl", RECORD.replace('"peak": 3', '"peak": 2'))
picture, _ = draw_svg("recorded-other", recorded)
if picture:
    check(not picture.has_text("omnibus"), "a record of another run is not used")

# --- No cluster formed: no predicted line for the cluster score, a note. ---
for name, text, single_label in (("cc_no_cluster", SINGLE_NO_CLUSTER, "single marker"),
                                 ("trait_no_cluster", TRAIT_NO_CLUSTER, "single-marker T")):
    picture, _ = draw_svg(name, write(name + "-results", text))
    if picture:
        check(not picture.has_text("predicted by cluster score")
              and not any(g.startswith("predicted-cluster") for g in picture.groups),
              f"{name}: a predicted line for the cluster score")
        check(picture.has_text("no cluster formed") and "no-cluster-note" in picture.groups,
              f"{name}: no note")
        check(picture.has_text("predicted by " + single_label), f"{name}: single-marker line")
    check("cluster-curve" not in picture.groups,
          f"{name}: points drawn for the cluster score")

# --- Trait mode: the window without a cluster is a gap, never a point at the
# top; with the data file the pooled T is drawn. ---
trait, _ = draw_svg("trait", results, "--block", "1", "--data", write("t.dat", "".join(
    DATA.splitlines(True)[:1]) + "".join(
        f"{k} {20 + k} 1 2 1 2 1\n{k + 10} {30 - k} 2 1 1 1 2\n" for k in range(1, 6))))
if trait:
    check(trait.path("cluster-curve").count("M") == 2, "trait: the gap at marker 3 "
          + trait.path("cluster-curve"))
    check(trait.has_text("single-marker T (pooled), coloured by r\u00b2")
          and "mann-whitney-curve" in trait.groups, "trait: pooled T and Mann-Whitney curves")
    check(not trait.has_text("no cluster formed"), "trait: a cluster formed")
    check(trait.has_text("permutation p (number not given): cluster score: 0 (< 1/P, or not "
                         "run) T: 0.02 Mann-Whitney Z: 0.03"),
          "trait: permutation note " + str(trait.texts))

# --- The permutation count, given or read from the parameter file. ---
params = [
    ("given", ["--permutations", "500"], "cluster score: < 1/500 T: 0.02"),
    ("not_run", ["--permutations", "0"], "cluster score: not run T: not run"),
    ("params", ["--params", write("p1.txt", "epsilon 2 0.1\nminPtsQuantile 0.5\nwindowSize 11\n"
                                  "distanceType 4 -1 1 -2 1\npermutations 250\n")],
     "(250 permutations): cluster score: < 1/250"),
    ("params_mode1", ["--params", write("p2.txt", "e 1 0.2 m 0 w 5 d 3 1 p 0 r 1")],
     "cluster score: not run"),
    ("floor", ["--permutations", "49"], "cluster score: < 1/49 T: p <= 1/50"),
    ("params_stop", ["--params", write("p3.txt", "epsilon 2 0.1\nminPtsQuantile x\n"
                                       "permutations 0\n")],
     "(1000 permutations): cluster score: < 1/1000"),
]
for name, args, text in params:
    picture, _ = draw_svg("perm_" + name, write("perm-results", TRAIT), *args)
    check(picture is not None and picture.has_text(text),
          f"{name}: {picture.texts if picture else ''}")

# Strong signals: a chi-square of 20,000 (p about 1e-4345) and a Z-score of
# 150 underflow to "inf" in the file; the plot computes them in log space and
# draws them on the scale. A truly infinite statistic stays at the top.
STRONG = SINGLE.replace("0.0015\t3\t4.4\t5.03\t9.8\t2.76", "0.0015\t3\t150\tinf\t20000\tinf")
picture, _ = draw_svg("strong", write("strong-results", STRONG))
check(picture is not None and picture.has_text("4000") and picture.has_text("5000")
      and not any(g.startswith("infinite") for g in picture.groups),
      f"chi-square 20,000 on the scale: {picture.texts if picture else ''}")
picture, _ = draw_svg("infinite", write("infinite-results", STRONG.replace("\t20000\t", "\tinf\t")))
check(picture is not None and "infinite-single-marker" in picture.groups
      and "infinite-cluster-score" not in picture.groups and picture.has_text("5000"),
      f"an infinite chi-square at the top: {sorted(picture.groups) if picture else ''}")

# A one-marker interval is a line, named by its one marker.
picture, _ = draw_svg("one_marker_interval", single, "--markers", markers, "--interval",
                      write("o.interval.tsv", INTERVAL_HEADER +
                            "cluster\tcredible\t0.9\t3\t3\t0.15\t0.15\t1\t0\n"))
check(picture is not None and "interval-credible" in picture.groups
      and picture.has_text("cluster 90 % credible interval: rs103")
      and not picture.has_text("rs103 to"), "one-marker interval")

# --- Version and help need no result file. ---
p = subprocess.run([sys.executable, PLOT, "--version"], capture_output=True, text=True)
check(p.returncode == 0 and p.stdout == f"orvane-plot {VERSION}\n", f"--version: {p.stdout!r}")
p = subprocess.run([sys.executable, PLOT, "--help"], capture_output=True, text=True)
check(p.returncode == 0 and "--interval" in p.stdout, "--help")

# An interval file without a row for the cluster statistic shades nothing.
picture, err = draw_svg("no_cluster_row", single, "--interval",
                        write("c.interval.tsv", INTERVAL_HEADER + "T\tsupport\t0.9\t1\t2\t"
                              "0.05\t0.1\t2\t0.05\n"))
check(picture is not None and not any(g.startswith("interval") for g in picture.groups)
      and "warning" in err and "no row for the cluster statistic" in err,
      f"interval without a cluster row: {err}")

# A cluster row of NA (no window formed a cluster) shades nothing and says why.
picture, err = draw_svg("na_cluster_row", single, "--interval",
                        write("na.interval.tsv", INTERVAL_HEADER + "cluster\tsupport\t0.95\tNA\t"
                              "NA\tNA\tNA\tNA\tNA\nchisq\tsupport\t0.95\t3\t3\t0.15\t0.15\t1\t0\n"))
check(picture is not None and not any(g.startswith("interval") for g in picture.groups)
      and "na.interval.tsv:2: the cluster statistic has no interval" in err,
      f"interval with an NA cluster row: {err}")

# Without a case (or a control) there is no single-marker test: no line, no
# prediction from it, and a note that says why.
NO_CASE = SINGLE_HEADER + "".join(f"{0.0005 * i:g}\t{i}\t{z}\t{p}\t0\t-0\n" for i, (z, p) in
                                  enumerate([(0, 0), (1.5, 0.87), (3.2, 2.86), (4.4, 5.03),
                                             (-2, 1.34), (0.5, 0.21)])) + \
    SINGLE_SUMMARY_HEADER + "3\t4.4\t5.03\t0.012\t5\t0\t-0\n"
no_case_data = write("nocase.dat", DATA.replace(" a ", " c "))
for name, args, why in (("no_case_data", ["--data", no_case_data],
                         "no single-marker test: no case among the 8 haplotypes"),
                        ("no_case", [], "no single-marker test: every chi-square is 0")):
    picture, _ = draw_svg(name, write(name + "-results", NO_CASE), *args)
    check(picture is not None and picture.has_text(why)
          and "no-single-marker-note" in picture.groups
          and not any(g.startswith("single-marker") or g.startswith("r2-points")
                      or g == "predicted-single-marker" for g in picture.groups)
          and "predicted-cluster-score" in picture.groups,
          f"{name}: {sorted(picture.groups) if picture else None} {picture.texts if picture else ''}")

# A run that stopped mid-line, continued by the next run's header on that line.
stopped = write("stopped-results", SINGLE_HEADER + SINGLE_MARKERS[:40] + SINGLE)
rc, err = run(stopped)
check(rc == 0 and os.path.exists(stopped + ".png"), f"after a stopped run: status {rc} {err}")
rc, err = run(stopped, "--block", "1", "-o", os.path.join(WORK, "stopped1.png"))
check(rc == 2 and "no summary" in err, f"stopped run drawn: status {rc} {err}")

# Bad input: status, one error line naming the problem, and no image.
bad_markers = write("bad.markers.tsv", MARKERS.rsplit("\n", 2)[0] + "\n")
cases = [
    ("short_line", SINGLE_HEADER + "0\t0\t1\t2\t3\n" + SINGLE_SUMMARY, [], 2, ":2: 5 fields"),
    ("not_a_number", SINGLE_HEADER + SINGLE_MARKERS.replace("0.87", "x") + SINGLE_SUMMARY, [],
     2, ":3: expected numbers"),
    ("no_header", SINGLE_MARKERS, [], 2, "no column header"),
    ("bad_index", SINGLE_HEADER + SINGLE_MARKERS + SINGLE_SUMMARY.replace("\n1\t", "\n9\t"), [],
     2, "predicted position 9"),
    ("block_out_of_range", TRAIT, ["--block", "3"], 1, "holds 1 run"),
    ("wrong_ending", TRAIT, ["-o", os.path.join(WORK, "x.jpg")], 1, ".png or .svg"),
    ("marker_count", SINGLE, ["--markers", bad_markers], 2, "5 markers, but the result block has 6"),
    ("map_without_markers", SINGLE, ["--map", genetic_map], 1, "--map needs --markers"),
    ("both_counts", SINGLE, ["--permutations", "5", "--params", genetic_map], 1, "not allowed"),
    ("negative_count", SINGLE, ["--permutations", "-5"], 1, "0 or more"),
    ("narrow", SINGLE, ["--width", "2"], 1, "--width 2: must lie between 5 and 40"),
    ("huge_dpi", SINGLE, ["--dpi", "5000"], 1, "--dpi 5000: must lie between"),
    ("data_columns", SINGLE, ["--data", write("short.dat", "h\n1 a 1 2\n2 a 1 2\n3 c 2 1\n")], 2,
     "short.dat:2: 2 allele codes, but the result block has 6 markers"),
    ("params_glued", SINGLE, ["--params", write("glued.txt", "e 2 0.1 m 0 w 5 d 0 p 250x r 1")], 2,
     "glued.txt:1: cannot tell how orvane reads '250x'"),
    ("interval_range", SINGLE, ["--interval", write("r.interval.tsv", INTERVAL_HEADER +
                                                    "cluster\tsupport\t0.95\t4\t6\t0\t1\t3\t1\n")],
     2, "r.interval.tsv:2: markers 4 to 6 lie outside the 6 markers of "
        + os.path.join(WORK, "interval_range-results") + " (run 1)"),
    # Another study's file: its markers exist here, at other map positions.
    ("interval_other_study", SINGLE, ["--interval", write("s.interval.tsv", INTERVAL_HEADER +
                                                          "cluster\tsupport\t0.95\t0\t2\t0\t"
                                                          "0.02\t3\t0.02\n")],
     2, "s.interval.tsv:2: marker 2 at 0.02 cM, but at 0.1 cM in "
        + os.path.join(WORK, "interval_other_study-results") + " (run 1)"),
    ("interval_header", SINGLE, ["--interval", write("h.interval.tsv", "statistic\tfirst\n")], 2,
     "h.interval.tsv:1: expected the header"),
    ("map_decreasing", SINGLE, ["--markers", markers, "--map",
                                write("m.txt", "1 1 0.5\n2 1 0.4\n")], 2, "m.txt:2:"),
]
for name, text, args, status, message in cases:
    path = write(name + "-results", text)
    rc, err = run(path, *args)
    check(rc == status and "orvane-plot: error:" in err and message in err,
          f"{name}: status {rc}, stderr {err!r}")
    check(not any(f.startswith(name + "-results.") for f in os.listdir(WORK)),
          f"{name}: an image was left behind")

# --- The computations behind the curves and colours. ---
# The launcher runs the package beside it, whose modules are tested here.
sys.path.insert(0, os.path.dirname(os.path.realpath(PLOT)))
from orvane_plot import errors, haplotypes, log_tails, notes, figure  # noqa: E402
check(abs(log_tails.upper_normal_tail_log10(1.959963984540054) + math.log10(0.025)) < 1e-12,
      "normal tail of z = 1.96")
check(abs(log_tails.upper_normal_tail_log10(-1.0) + math.log10(0.8413447460685429)) < 1e-12,
      "normal tail of z = -1")
for t, df in ((2.9, 10), (-1.3, 96), (0.0, 5)):
    expected = -math.log10(2 * stats.t.sf(abs(t), df))
    check(abs(log_tails.t_two_sided_log10(t, df) - expected) < 1e-10, f"t tail of {t}, {df} df")
got = haplotypes.r2_with(haplotypes.read_haplotypes(data, 6, 3))
check(all(abs(a - b) < 1e-12 for a, b in zip(got, EXPECTED_R2)), f"r2 {got}")


def direct_r2(rows, lead):
    """r^2 with the lead marker straight from its definition, for comparison."""
    values = []
    for marker in range(len(rows[0])):
        pairs = [(h[lead] == 1, h[marker] == 1) for h in rows if h[lead] != 0 and h[marker] != 0]
        p_a, p_b = (sum(p[k] for p in pairs) / len(pairs) if pairs else 0 for k in (0, 1))
        p_ab = sum(a and b for a, b in pairs) / len(pairs) if pairs else 0
        d = p_a * (1 - p_a) * p_b * (1 - p_b)
        values.append((p_ab - p_a * p_b) ** 2 / d if d > 0 else math.nan)
    return values


def same_r2(a, b):
    return len(a) == len(b) and all(x == y or (math.isnan(x) and math.isnan(y))
                                    for x, y in zip(a, b))


# The data file is read in pieces of whole lines, by numpy for the layouts it
# knows and line by line for any other; every layout, cut anywhere, reads alike.
data_lines = DATA.splitlines(True)
LAYOUTS = [
    ("tabs", DATA.replace(" ", "\t")),
    ("commas", DATA.replace(" ", ",")),
    ("blanks and CRLF", DATA.replace(" ", "  \t").replace("\n", "\r\n")),
    ("leading and trailing blanks", "".join(" " + line[:-1] + " \n" for line in data_lines)),
    ("codes +1, 01 and 7", DATA.replace("1 a 1 1 1", "1 a +1 01 7", 1)),
    ("no empty line, no last line end", "".join(data_lines[:9]).rstrip("\n")),
    ("a CR ending the header", DATA.replace("\n", "\r", 1)),
]
data_rows = [[int(c) for c in line.split()[2:]] for line in data_lines[1:9]]
for name, text in LAYOUTS:
    rows = [[1, 1, 7, 1, 2, 1]] + data_rows[1:] if "7" in name else data_rows
    for piece in (1 << 20, 64, 7):
        haplotypes.DATA_PIECE = piece
        got = haplotypes.read_haplotypes(write("layout.dat", text), 6, 3)
        check((got.count, got.cases) == (8, 4)
              and same_r2(haplotypes.r2_with(got), direct_r2(rows, 3)),
              f"layout {name}, pieces of {piece} bytes: {got.count} {got.cases} "
              f"{haplotypes.r2_with(got)}")

# Seeded random codes, with untyped alleles and other codes, against the
# definition; pieces of 1,000 bytes cut the 120 lines anywhere.
import random
random.seed(5)
rows = [[random.choice((0, 1, 1, 2, 2, 2, 3)) for _ in range(40)] for _ in range(120)]
text = "id status\n" + "".join(f"{k} {'ac'[k % 3 > 0]} {' '.join(map(str, r))}\n"
                               for k, r in enumerate(rows))
for piece in (1 << 20, 1000):
    haplotypes.DATA_PIECE = piece
    got = haplotypes.read_haplotypes(write("random.dat", text), 40, 17)
    check(got.count == 120 and got.cases == 40
          and same_r2(haplotypes.r2_with(got), direct_r2(rows, 17)),
          f"random codes, pieces of {piece}")

# Errors name the line, also beyond the pieces read the fast way.
good = "".join(f"{k} c 1 2 1 2 1 2\n" for k in range(40))
for name, bad, message in (("short", "7 a 1 2\n", "bad.dat:42: 2 allele codes"),
                           ("letters", "7 a 1 x 1 2 1 2\n", "bad.dat:42: allele codes must be"),
                           ("commas only", ",,\n", "bad.dat:42: -2 allele codes")):
    haplotypes.DATA_PIECE = 100
    try:
        haplotypes.read_haplotypes(write("bad.dat", "h\n" + good + bad + good), 6, 0)
        check(False, f"{name}: no error")
    except errors.PlotError as e:
        check(message in str(e), f"{name}: {e}")
haplotypes.DATA_PIECE = 1 << 20
# -log10 p in log space beyond p = 1e-300, against mpmath at 50 digits; the
# file's own value where p >= 1e-300.
for function, args, expected in (
        (log_tails.chi_square_log10, (20000.0,), 4345.193415680876),
        (log_tails.chi_square_log10, (14185.0,), 3082.4076181184605),
        (log_tails.chi_square_log10, (1e6,), 217150.33901199873),
        (log_tails.upper_normal_tail_log10, (1000.0,), 217150.6400419944),
        (log_tails.upper_normal_tail_log10, (40.0,), 349.43700645934587),
        (log_tails.t_two_sided_log10, (40.0, 19998), 335.91998381337254),
        (log_tails.t_two_sided_log10, (300.0, 19998), 7405.446841899758),
        (log_tails.t_two_sided_log10, (1e4, 1000000), 1002163.7827906858),
        (log_tails.t_two_sided_log10, (-60.0, 200), 129.11285671142102),
        (log_tails.t_two_sided_log10, (1e160, 2), 320.0),
        (log_tails.t_two_sided_log10, (1e300, 1), 300.1961198770301)):
    got = function(*args)
    check(abs(got - expected) <= 1e-9 * expected, f"{function.__name__}{args}: {got}")
check(log_tails.chi_square_log10(math.inf) == math.inf
      and log_tails.t_two_sided_log10(math.inf, 10) == math.inf, "infinite statistics")
for written, exact, expected in ((5.03, lambda: 1.0, 5.03), (300.0, lambda: 1.0, 300.0),
                                 (math.inf, lambda: 4345.2, 4345.2), (301.5, lambda: 301.7, 301.7),
                                 (math.inf, None, math.inf)):
    check(log_tails.beyond_underflow(written, exact) == expected, f"beyond_underflow({written})")

# The floor is 1/(P + 1) as written with six digits; 1/P (the chained
# scheme's smallest non-zero p) and 2/(P + 1) are numbers.
for p, permutations, text in ((0.000999001, 1000, "p <= 1/1001"), (0.001, 1000, "0.001"),
                              (0.001998, 1000, "0.001998"), (0.0196078, 50, "p <= 1/51"),
                              (0.02, 50, "0.02"), (9.99999e-07, 1000000, "p <= 1/1000001"),
                              (1e-06, 1000000, "1e-06"), (0.0, 1000, "< 1/1000"),
                              (0.5, 0, "not run"), (0.5, None, "0.5")):
    check(notes.permutation_text(p, permutations) == text,
          f"permutation_text({p}, {permutations}): {notes.permutation_text(p, permutations)}")
check([figure.r2_bin(v) for v in (0.0, 0.2, 0.39, 0.6, 0.8, 1.0, math.nan)]
      == [0, 1, 1, 3, 4, 4, None], "r2 bins: lower edges inclusive")

print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
