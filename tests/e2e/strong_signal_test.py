#!/usr/bin/env python3
"""A chi-square of 20,000: its p-value underflows a double, so the result file
prints inf, while the run record carries the finite -log10 p.

20,000 haplotypes, half of them cases; marker 2 carries allele 1 exactly on the
cases (chi-square = N = 20,000), the others are seeded noise. The expected
-log10 p was computed with scipy when the test was written:
-(log 2 + scipy.special.log_ndtr(-sqrt(20000))) / log 10 = 4345.1934156808775,
which the record prints as 4345.19.

usage: strong_signal_test.py ORVANE WORK_DIR
"""
import json
import math
import os
import random
import shutil
import subprocess
import sys

EXPECTED_CHISQ_MINUS_LOG10_P = 4345.19
HAPLOTYPES, MARKERS, TRACKING = 20000, 5, 2

orvane, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
rng = random.Random(26)
with open(os.path.join(work, "data.txt"), "w") as f:
    f.write("header\n")
    for h in range(HAPLOTYPES):
        case = h % 2 == 0
        alleles = [rng.choice("12") for _ in range(MARKERS)]
        alleles[TRACKING] = "1" if case else "2"
        f.write("%d %s %s\n" % (h + 1, "a" if case else "u", " ".join(alleles)))
with open(os.path.join(work, "params.txt"), "w") as f:
    f.write("epsilon 2 0.3\nminPtsQuantile 0.5\nwindowSize 5\ndistanceType 1 -254 1\n"
            "permutations 0\nreportThreshold 1e9\n")

run = subprocess.run([orvane, "-s", "data.txt", "params.txt"], cwd=work, capture_output=True, text=True)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


check(run.returncode == 0, "orvane exit status %d: %s" % (run.returncode, run.stderr))
if run.returncode == 0:
    with open(os.path.join(work, "data.txt-results")) as f:
        summary = f.read().splitlines()[-1].split("\t")
    with open(os.path.join(work, "data.txt-results.jsonl")) as f:
        record = json.loads(f.read().splitlines()[-1])
    chisq = record["statistics"]["chisq"]
    check(chisq["peak"] == TRACKING and chisq["value"] == 20000, "chisq peak and value: %r" % chisq)
    # The result file keeps its arithmetic: the tail underflows and prints inf.
    check(summary[4:7] == [str(TRACKING), "20000", "inf"], "result file summary: %r" % summary)
    check(chisq["minus_log10_p"] == EXPECTED_CHISQ_MINUS_LOG10_P,
          "chisq minus_log10_p %r, scipy's %r" % (chisq["minus_log10_p"], EXPECTED_CHISQ_MINUS_LOG10_P))
    # The cluster score is a normal score: its -log10 p is that of its square,
    # within the six digits the value is printed with.
    cluster = record["statistics"]["cluster"]
    got = cluster["minus_log10_p"]
    check(got is not None and math.isfinite(got), "cluster minus_log10_p finite: %r" % cluster)
    if got is not None and cluster["value"] ** 2 > 1400:
        z = abs(cluster["value"])
        approx = (z * z / 2 + math.log(z) + 0.5 * math.log(2 * math.pi) - math.log(2)) / math.log(10)
        check(abs(got - approx) <= 1e-4 * approx, "cluster minus_log10_p %r, about %r" % (got, approx))
print("strong signal: %d failed checks" % len(failures))
sys.exit(1 if failures else 0)
