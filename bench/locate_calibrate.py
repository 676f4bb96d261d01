#!/usr/bin/env python3
"""Calibration and coverage of orvane-locate's intervals on simulated studies.

usage: locate_calibrate.py BUILD_DIR [--studies N] [--bootstrap-studies K]
                           [--replicates B] [--work DIR] [--jobs J] [--seed S]
                           [--half calibration|validation|both]
                           [--histories F:G,F:G]

Settings: two population histories (F founders grown over G generations;
default 6:60, the benchmark generator's, and 20:200, much less linkage) x both
modes x three effect sizes (bench/locate_study.py) x two map densities, 600
haplotypes x 80 typed markers, untyped causal locus. For every setting, N
studies of a calibration half (seeds S ..) and N fresh studies of a validation
half (seeds S + 100000 ..; the second history adds 300000 to both):

1. calibration half: the observed scans (orvane, no permutations) give, for each
   statistic, the coverage of the support interval at every sharpness of a grid;
   the chosen scale is the largest whose coverage is at least the level in
   every setting (mode, effect size, density) with a detectable signal;
2. validation half: orvane-locate as built (its shipped scale) on fresh
   studies, support and credible rows; bootstrap rows on the first K studies of
   each setting of the first history with B replicates.

A study's interval covers the truth when it includes one of the two typed
markers around the causal locus; a study given no interval (a row of NA) does
not cover it and has no width. Prints the chosen scale and one table row
per setting and construction: coverage, median width in markers and in cM.
Runs J studies at once (each orvane-locate on one thread). Seeded: the same
command gives the same table.
"""
import argparse
import json
import math
import os
import statistics
import sys
from multiprocessing import Pool

import locate_study as ls

LEVEL = 0.95
GRID = [1, 1.5, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 18, 20, 24, 30]
# The calibration half must reach the level itself in every detectable setting:
# the fresh studies of the other half fell up to 0.06 below the calibration
# half's coverage at the same scale (settings of one seed share its population,
# so the halves differ by more than binomial noise).
FLOOR = LEVEL


def shortest_run(weights, level):
    """As orvane-locate: shortest run holding the level's share; most, then earliest."""
    total = sum(weights)
    n = len(weights)
    if total <= 0:
        return 0, n - 1
    need = level * total * (1 - 1e-12)
    best, best_len, best_sum = (0, n - 1), n + 1, -1.0
    first, run = 0, 0.0
    for last in range(n):
        run += weights[last]
        while first < last and run - weights[first] >= need:
            run -= weights[first]
            first += 1
        if run < need:
            continue
        length = last - first + 1
        if length < best_len or (length == best_len and run > best_sum):
            best, best_len, best_sum = (first, last), length, run
    return best


def support_run(ev, scale, level):
    """As orvane-locate: weights exp(-scale / 2 x (max e - e) / max(max e, 1))."""
    finite = [e for e in ev if math.isfinite(e)]
    if not finite:
        return 0, len(ev) - 1
    top = max(finite)
    sharpness = scale / max(top, 1.0)
    weights = [math.exp(0.5 * sharpness * (e - top)) if math.isfinite(e) else 0.0 for e in ev]
    return shortest_run(weights, level)


def covers(run, truth):
    return run[0] <= truth[1] and run[1] >= truth[0]


def settings(histories):
    for history in histories:
        for mode in ("s", "q"):
            for e in range(3):
                for density in ls.DENSITIES:
                    yield history, mode, e, density


def simulate(task):
    """Every setting's study of one (seed, density): scores and, for the
    validation half, orvane-locate's rows."""
    seed, density, half, build, work, bootstrap, replicates, history = task
    founders, generations = (int(x) for x in history.split(":"))
    gap_cm, causal, pool = ls.population(seed, density, founders, generations)
    records = []
    for mode in ("s", "q"):
        for e in range(3):
            outdir = os.path.join(work, "study-%d-%s-%s%d" % (seed, density, mode, e))
            chosen = ls.phenotypes(seed, mode, e, pool, causal)
            left, right, causal_cm = ls.write_untyped(outdir, chosen, gap_cm, causal, mode)
            merged_gaps = [float(g) for g in open(os.path.join(outdir, "dist.txt")).read().split()]
            ls.write_params(outdir, merged_gaps, 21, 0.3, 1)
            cm, scores = ls.orvane_scores(os.path.join(build, "orvane"), outdir, mode)
            record = {"seed": seed, "history": history, "density": density, "half": half,
                      "mode": mode, "effect": e,
                      "truth": [left, right], "causal_cm": causal_cm, "cm": cm, "scores": scores}
            if half == "validation":
                locate = os.path.join(build, "orvane-locate")
                record["rows"] = ls.locate_rows(locate, outdir, mode)
                if bootstrap:
                    record["rows"].update(ls.locate_rows(
                        locate, outdir, mode,
                        ["--construction", "bootstrap", "--replicates", str(replicates),
                         "--seed", str(seed)]))
            records.append(record)
            ls.remove(outdir)
    return records


def detectable(records, stat):
    """A setting has a detectable signal when the median study's best
    single-marker test reaches nominal p < 0.01 (chi-square 6.63)."""
    best = []
    for r in records:
        single = r["scores"]["chisq"] if r["mode"] == "s" else r["scores"]["T"]
        best.append(max(v * v if r["mode"] == "q" else v for v in single if v == v))
    return statistics.median(best) >= 6.63


def calibrate(records):
    """Per mode and statistic, the largest scale whose coverage reaches the floor
    in every detectable setting; where no scale does, the largest whose lowest
    coverage is within 0.01 of the best lowest coverage."""
    chosen = {}
    by_setting = {}
    for r in records:
        by_setting.setdefault((r["history"], r["mode"], r["effect"]), []).append(r)
    for mode in ("s", "q"):
        stats = ["cluster", "chisq"] if mode == "s" else ["cluster", "T", "Z"]
        for stat in stats:
            lowest = {}
            for k in GRID:
                covs = [1.0]
                for (history, group_mode, e), group in by_setting.items():
                    if group_mode != mode or not detectable(group, stat):
                        continue
                    for density in ls.DENSITIES:
                        sub = [r for r in group if r["density"] == density]
                        covs.append(sum(covers(support_run(ls.evidence(stat, r["scores"][stat]),
                                                           k, LEVEL), r["truth"])
                                        for r in sub) / len(sub))
                lowest[k] = min(covs)
            target = FLOOR if max(lowest.values()) >= FLOOR else max(lowest.values()) - 0.01
            chosen[(mode, stat)] = (max(k for k in GRID if lowest[k] >= target), lowest)
    return chosen


def summarise(records, key, truth_key="truth"):
    covered, widths, cms = [], [], []
    for r in records:
        if key not in r["rows"]:
            continue
        if r["rows"][key] is None:  # no interval: the truth is not covered
            covered.append(False)
            continue
        first, last = r["rows"][key]
        covered.append(covers((first, last), r[truth_key]))
        widths.append(last - first + 1)
        cms.append(r["cm"][last] - r["cm"][first])
    if not covered:
        return None
    return len(covered), sum(covered) / len(covered), statistics.median(widths), statistics.median(cms)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--studies", type=int, default=200)
    ap.add_argument("--bootstrap-studies", type=int, default=100)
    ap.add_argument("--replicates", type=int, default=100)
    ap.add_argument("--work", default="/tmp/orvane-locate-calibration")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--half", choices=("calibration", "validation", "both"), default="both")
    # Population histories "founders:generations": the scales must hold in each,
    # so that they carry over to studies unlike any one of them.
    ap.add_argument("--histories", default="6:60,20:200")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    os.makedirs(args.work, exist_ok=True)
    tasks = []
    histories = args.histories.split(",")
    for h, history in enumerate(histories):
        for half, offset in (("calibration", 0), ("validation", 100000)):
            if args.half not in (half, "both"):
                continue
            for i in range(args.studies):
                for density in ls.DENSITIES:
                    boot = half == "validation" and h == 0 and i < args.bootstrap_studies
                    tasks.append((args.seed + 300000 * h + offset + i, density, half, build,
                                  args.work, boot, args.replicates, history))
    records = []
    with Pool(args.jobs) as pool:
        for done, batch in enumerate(pool.imap(simulate, tasks, chunksize=4), 1):
            records.extend(batch)
            if done % 50 == 0:
                print("simulated %d of %d" % (done, len(tasks)), file=sys.stderr, flush=True)
    with open(os.path.join(args.work, "records-%s.jsonl" % args.half), "w") as out:
        for r in records:
            out.write(json.dumps(r) + "\n")

    calibration = [r for r in records if r["half"] == "calibration"]
    validation = [r for r in records if r["half"] == "validation"]
    if calibration:
        report_calibration(calibration)
    if validation:
        report_validation(validation, histories)


def report_calibration(calibration):
    print("Calibrated scale (largest with coverage >= %.2f in every detectable setting of the "
          "calibration half):" % FLOOR)
    for (mode, stat), (k, lowest) in calibrate(calibration).items():
        print("  mode %s %-8s %-4g lowest coverage over the settings: %.3f" % (mode, stat, k, lowest[k]))
    print()


def report_validation(validation, histories):
    print("Validation half (orvane-locate as built, fresh studies), level %.2f. Each cell: "
          "coverage / median width in markers / median width in cM (studies)." % LEVEL)
    print("| founders:generations | mode | effect | density | median best single-marker "
          "chi-square (T^2) | statistic | support (default) | bootstrap | credible |")
    print("|---|---|---|---|---|---|---|---|---|")
    for history, mode, e, density in settings(histories):
        sub = [r for r in validation if r["history"] == history and r["mode"] == mode
               and r["effect"] == e and r["density"] == density]
        single = [max(v if mode == "s" else v * v for v in
                      (r["scores"]["chisq"] if mode == "s" else r["scores"]["T"]) if v == v)
                  for r in sub]
        effect = ls.EFFECTS[mode][e]
        effect_text = ("risk %.2f vs %.2f" % effect) if mode == "s" else ("shift %.2f SD" % effect)
        stats = ["cluster", "chisq"] if mode == "s" else ["cluster", "T", "Z"]
        for stat in stats:
            cells = []
            for construction in ("support", "bootstrap", "credible"):
                s = summarise(sub, "%s/%s" % (stat, construction))
                cells.append("-" if s is None else "%.3f / %g / %.2f (%d)" % (s[1], s[2], s[3], s[0]))
            print("| %s | %s | %s %s | %s | %.1f | %s | %s |" % (
                history, mode, ls.EFFECT_NAMES[e], effect_text, density, statistics.median(single), stat,
                " | ".join(cells)))

if __name__ == "__main__":
    main()
