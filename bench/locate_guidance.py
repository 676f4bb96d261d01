#!/usr/bin/env python3
"""How well each setting localises the locus: the parameter guidance table.

usage: locate_guidance.py BUILD_DIR [--studies N] [--work DIR] [--jobs J] [--seed S]

The studies of bench/locate_study.py at the moderate effect size (both modes,
both map densities), N per mode and density, each analysed by orvane (no
permutations) with window sizes 11, 21, 31, epsilon fractions 0.1, 0.2, 0.3,
0.5 and distance types 1 (exponential decay, about e^-1 at the window's edge)
and 3 (|D'| with the centre marker, Hamming part); minPtsQuantile 0.5. Every
setting sees the same studies. The single-marker tests do not depend on these
settings and get one row per mode and density.

Per cell: the median distance of the predicted position (the marker with the
largest evidence, as orvane-locate ranks them) from the nearer of the two typed
markers around the locus, in markers (0 when it is one of them); the median
distance in cM from the locus itself; and the share of studies whose peak is
one of the two markers. Seeded: the same command gives the same table.
"""
import argparse
import os
import statistics
import sys
from multiprocessing import Pool

import locate_study as ls

WINDOWS = [11, 21, 31]
FRACTIONS = [0.1, 0.2, 0.3, 0.5]
DISTANCE_TYPES = [1, 3]
EFFECT = 1  # moderate


def errors(stat, scores, cm, truth, causal_cm):
    p = ls.peak(ls.evidence(stat, scores))
    left, right = truth
    markers = 0 if left <= p <= right else min(abs(p - left), abs(p - right))
    return markers, abs(cm[p] - causal_cm), int(left <= p <= right)


def simulate(task):
    seed, density, build, work = task
    gap_cm, causal, pool = ls.population(seed, density)
    orvane = os.path.join(build, "orvane")
    out = []
    for mode in ("s", "q"):
        outdir = os.path.join(work, "guide-%d-%s-%s" % (seed, density, mode))
        chosen = ls.phenotypes(seed, mode, EFFECT, pool, causal)
        left, right, causal_cm = ls.write_untyped(outdir, chosen, gap_cm, causal, mode)
        gaps = [float(g) for g in open(os.path.join(outdir, "dist.txt")).read().split()]
        first = True
        for window in WINDOWS:
            for fraction in FRACTIONS:
                for dtype in DISTANCE_TYPES:
                    ls.write_params(outdir, gaps, window, fraction, dtype)
                    cm, scores = ls.orvane_scores(orvane, outdir, mode)
                    key = (mode, density, window, fraction, dtype)
                    out.append((key, "cluster", errors("cluster", scores["cluster"], cm,
                                                       (left, right), causal_cm)))
                    if first:
                        for stat in scores:
                            if stat != "cluster":
                                out.append(((mode, density), stat,
                                            errors(stat, scores[stat], cm, (left, right), causal_cm)))
                        first = False
        ls.remove(outdir)
    return out


def cell(values):
    """median error in markers / in cM / share on the locus"""
    markers = statistics.median(v[0] for v in values)
    cm = statistics.median(v[1] for v in values)
    hit = sum(v[2] for v in values) / len(values)
    return "%g / %.2f / %.2f" % (markers, cm, hit)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--studies", type=int, default=100)
    ap.add_argument("--work", default="/tmp/orvane-locate-guidance")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--seed", type=int, default=500000)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    os.makedirs(args.work, exist_ok=True)
    tasks = [(args.seed + i, density, build, args.work)
             for i in range(args.studies) for density in ls.DENSITIES]
    cells = {}
    with Pool(args.jobs) as pool:
        for done, batch in enumerate(pool.imap(simulate, tasks, chunksize=2), 1):
            for key, stat, value in batch:
                cells.setdefault((key, stat), []).append(value)
            if done % 20 == 0:
                print("studied %d of %d" % (done, len(tasks)), file=sys.stderr, flush=True)
    n = args.studies
    print("Each cell: median error in markers / median error in cM / share of studies whose "
          "peak is one of the two markers around the locus (%d studies per mode and density)." % n)
    print("| mode | map | statistic | window | distance type | epsilon 0.1 | 0.2 | 0.3 | 0.5 |")
    print("|---|---|---|---|---|---|---|---|---|")
    for mode in ("s", "q"):
        for density in ls.DENSITIES:
            for (key, stat), values in sorted(cells.items(), key=lambda kv: str(kv[0])):
                if key == (mode, density):
                    print("| %s | %s | %s (single marker) | - | - | %s (any setting) | | | |"
                          % (mode, density, stat, cell(values)))
            for window in WINDOWS:
                for dtype in DISTANCE_TYPES:
                    print("| %s | %s | cluster | %d | %d | %s |" % (
                        mode, density, window, dtype,
                        " | ".join(cell(cells[((mode, density, window, f, dtype), "cluster")])
                                   for f in FRACTIONS)))

if __name__ == "__main__":
    main()
