#!/usr/bin/python3
"""Tests of orvane-plot on hand-written result files.

Usage: test_orvane_plot.py ORVANE_PLOT WORK_DIR   (run with a python3 that has matplotlib)
"""
import importlib.machinery
import importlib.util
import math
import os
import shutil
import subprocess
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.image

PLOT, WORK = sys.argv[1:3]
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


def image_ok(path, label):
    """The picture exists, is 800 x 450 pixels and shows more than a blank canvas."""
    if not os.path.exists(path):
        check(False, f"{label}: {path} not written")
        return None
    pixels = matplotlib.image.imread(path)
    check(pixels.shape[:2] == (450, 800), f"{label}: size {pixels.shape}")
    inked = (pixels[..., :3] < 0.8).any(axis=2).mean()
    check(inked > 0.01, f"{label}: only {inked:.4f} of the pixels are drawn")
    return pixels


TRAIT = (
    "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
    "0\t0\t1.2\t0.7\t0.5\t0.6\t40\t300\t0.4\n"
    "0.0001\t1\t2.5\t1.9\t1.1\t1.2\t41\t250\t1.3\n"
    "0.0002\t2\t4.1\t3.8\t2.9\t3\t39\t120\t3.1\n"
    "0.0003\t3\t-1e+07\tinf\tnan\tnan\t0\t0\tnan\n"
    "0.0004\t4\t1\t0.5\t-0.2\t-0.3\t40\t340\t-0.5\n"
    "Orvane:predicted_Pos\tpredicted_QScore\t-log(p)\tpermutation_p-Value\t"
    "SingleSNP_predicted_Pos\tT statistic\t-log(p)\tpermutation_p-Value\t"
    "MWU_predicted_Pos\tpredict_ZScore\t-log(p)\tpermutation_p-Value\t\n"
    "2\t4.1\t3.8\t0.01\t2\t2.9\t2.5\t0.02\t2\t3.1\t3\t0.03\t\n")
SINGLE_HEADER = ("GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\t"
                 "SingleSNPMinusLogP\n")
SINGLE_MARKERS = (
    "0\t0\t0\t-0\t0\t0\n"
    "0.0005\t1\t1.5\t0.87\t1.2\t0.57\n"
    "0.001\t2\t3.2\t2.86\t5.1\t1.62\n"
    "0.0015\t3\t4.4\t5.03\t9.8\t2.76\n"
    "0.002\t4\t-2\t1.34\t2.1\t0.83\n"
    "0.0025\t5\t0.5\t0.21\t0.3\t0.24\n")
SINGLE_SUMMARY = ("Orvane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
                  "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n"
                  "3\t4.4\t5.03\t0.001\t3\t9.8\t2.76\n")
MARKERS = "index\tchrom\tpos\tid\tref\talt\tcm\n" + "".join(
    f"{i}\tchr7\t{117500000 + 2000 * i}\trs{100 + i}\tA\tG\t{0.5 * i}\n" for i in range(6))

shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
results = write("runs-results", TRAIT + SINGLE_HEADER + SINGLE_MARKERS + SINGLE_SUMMARY)
markers = write("x.markers.tsv", MARKERS)

rc, err = run(results)  # the last run: case/control
check(rc == 0, f"default: status {rc} {err}")
single = image_ok(results + ".png", "case/control PNG")

rc, err = run(results, "--block", "1", "-o", os.path.join(WORK, "trait.png"))
check(rc == 0, f"trait: status {rc} {err}")
trait = image_ok(os.path.join(WORK, "trait.png"), "trait PNG")
check(single is not None and trait is not None and (single != trait).any(),
      "the two runs give the same picture")

rc, err = run(results, "--markers", markers, "-o", os.path.join(WORK, "genomic.png"))
genomic = image_ok(os.path.join(WORK, "genomic.png"), "--markers PNG")
check(rc == 0 and genomic is not None and single is not None and (genomic != single).any(),
      f"--markers: status {rc} {err}, or the axis did not change")

svg = os.path.join(WORK, "trait.svg")
rc, err = run(results, "--block", "1", "-o", svg)
check(rc == 0 and os.path.exists(svg) and "<svg" in open(svg).read(), f"SVG: status {rc} {err}")

# A run that stopped mid-line, continued by the next run's header on that line.
stopped = write("stopped-results", SINGLE_HEADER + SINGLE_MARKERS[:40] + SINGLE_HEADER
                + SINGLE_MARKERS + SINGLE_SUMMARY)
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
    ("bad_index", SINGLE_HEADER + SINGLE_MARKERS + SINGLE_SUMMARY.replace("\n3\t", "\n9\t"), [],
     2, "predicted position 9"),
    ("block_out_of_range", TRAIT, ["--block", "3"], 1, "holds 1 run"),
    ("wrong_ending", TRAIT, ["-o", os.path.join(WORK, "x.jpg")], 1, ".png or .svg"),
    ("marker_count", SINGLE_HEADER + SINGLE_MARKERS + SINGLE_SUMMARY, ["--markers", bad_markers],
     2, "5 markers, but the result block has 6"),
]
for name, text, args, status, message in cases:
    path = write(name + "-results", text)
    rc, err = run(path, *args)
    check(rc == status and err.startswith("orvane-plot: error:") and message in err,
          f"{name}: status {rc}, stderr {err!r}")
    check(not any(f.startswith(name + "-results.") for f in os.listdir(WORK)),
          f"{name}: an image was left behind")

# The trait picture's single-marker curve: -log10 of the upper normal tail of Z.
loader = importlib.machinery.SourceFileLoader("orvane_plot", PLOT)
module = importlib.util.module_from_spec(importlib.util.spec_from_loader("orvane_plot", loader))
loader.exec_module(module)
check(abs(module.upper_normal_tail_log10(1.959963984540054) + math.log10(0.025)) < 1e-12,
      "normal tail of z = 1.96")
check(abs(module.upper_normal_tail_log10(-1.0) + math.log10(0.8413447460685429)) < 1e-12,
      "normal tail of z = -1")

print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
