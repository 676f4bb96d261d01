#!/usr/bin/env python3
"""Which statistic detects the locus, and which peak lies nearest to it?

For every setting: the rate of permutation p <= 0.05 of the cluster score, of
each single-marker statistic of the mode (case/control: the allelic
chi-square; trait: T and the Mann-Whitney Z) and of the omnibus (minP) test,
all from the joint scheme and so family-wise over the region; for the null
settings also the rate at 0.01, with Wilson intervals. Then the median
localisation error of each statistic's peak (the summary's predicted marker):
in markers, the distance to the nearer of the two typed markers around the
untyped causal variant (0 when the peak is one of them), and in kb
(coalescent sets) or cM (founder populations) from the causal variant itself,
beside always guessing the middle marker.

Settings: every setting of the coalescent study sets (made by bench/make_coalescent.py,
1,200 haplotypes x 100 markers, each study as simulated), and founder-population
studies of bench/locate_study.py (600 haplotypes x 100 typed markers, the
causal marker untyped; one population per seed and map serves every effect
size of both modes). Runs J studies at once, each orvane run on one thread.
Seeded: the same command gives the same tables.

usage: which_statistic.py ORVANE [--quick] [--founder-studies N]
           [--coalescent-seeds K] [--permutations P] [--jobs J] [--seed S]
           [--coalescent DIR] [--work DIR]
"""
import argparse
import os
import random
import shutil
import sys
import tempfile
import time
from multiprocessing import Pool

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchstats as bs  # noqa: E402
import coalescent  # noqa: E402
import generate  # noqa: E402
import locate_study  # noqa: E402
import orvane_run  # noqa: E402

HAPLOTYPES, MARKERS = 600, 100
# Founder-population settings: (name, mode, map, effect); effect None is null.
# Case risk of carriers against others, or the carriers' trait shift in SD.
FOUNDER_SETTINGS = [
    ("founder_cc_null", "s", "dense", None),
    ("founder_cc_risk0.57", "s", "dense", (0.57, 0.43)),
    ("founder_cc_risk0.7", "s", "dense", (0.7, 0.35)),
    ("founder_cc_risk0.57_sparse", "s", "sparse", (0.57, 0.43)),
    ("founder_qt_null", "q", "dense", None),
    ("founder_qt_shift0.25", "q", "dense", 0.25),
    ("founder_qt_shift0.4", "q", "dense", 0.4),
    ("founder_qt_shift0.25_sparse", "q", "sparse", 0.25),
]
NULL_EFFECT = {"s": (0.43, 0.43), "q": 0.0}
COLUMNS = ("cluster", "chisq", "T", "Z", "omnibus")
# Full run: about 5 minutes on this project's two processors (see the README).
FULL = {"founder_studies": 200, "coalescent_seeds": 30}
QUICK = {"founder_studies": 6, "coalescent_seeds": 3}


def marker_error(peak, left, right):
    """Markers between the peak and the nearer of the two around the locus."""
    if peak is None:
        return None
    return 0 if left <= peak <= right else min(abs(peak - left), abs(peak - right))


def summarise(result, left, right, position, causal_position, middle):
    """p-values, and localisation errors of each peak and of the middle marker
    (in markers, and in the unit of position)."""
    ps = orvane_run.permutation_ps(result)
    errors = {}
    peaks = {name: s["peak"] for name, s in result["statistics"].items()}
    peaks["middle"] = middle
    for name, peak in peaks.items():
        if peak is not None:
            errors[name] = (marker_error(peak, left, right), abs(position[peak] - causal_position))
    return {"ps": ps, "errors": errors}


def coalescent_task(job, setting, seed):
    study = coalescent.read_study(job["coalescent"], setting, seed)
    truth = study["truth"]
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        coalescent.write(study, workdir, list(zip(study["labels"], study["haplotypes"])),
                         job["permutations"])
        result = orvane_run.run(job["orvane"], workdir, study["mode"], job["scheme"])
    kb = [p / 1000.0 for p in study["pos_bp"]]
    out = summarise(result, truth["left_marker"], truth["right_marker"], kb,
                    truth["causal_pos_bp"] / 1000.0, (len(kb) - 1) // 2)
    return [(setting, out)]


def founder_task(job, index, density):
    """Every founder setting on this map, on one population."""
    seed = job["seed"] * 100003 + index
    gap_cm, causal, pool = locate_study.population(seed, density, markers=MARKERS)
    out = []
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        for name, mode, map_, effect in FOUNDER_SETTINGS:
            if map_ != density:
                continue
            rng = random.Random("%d-%s-%d" % (job["seed"], name, index))
            chosen = generate.phenotype_pairs(rng, mode, NULL_EFFECT[mode] if effect is None
                                              else effect, pool, causal, HAPLOTYPES)
            left, right, causal_cm = locate_study.write_untyped(
                workdir, chosen, gap_cm, causal, mode, permutations=job["permutations"])
            with open(os.path.join(workdir, "dist.txt")) as f:
                gaps = [float(g) for g in f.readline().split()]
            cm = [sum(gaps[:k]) for k in range(len(gaps) + 1)]
            result = orvane_run.run(job["orvane"], workdir, mode, job["scheme"])
            out.append((name, summarise(result, left, right, cm, causal_cm, (len(cm) - 1) // 2)))
    return out


def dispatch(task):
    job, kind, args = task
    return coalescent_task(job, *args) if kind == "coalescent" else founder_task(job, *args)


def detection_table(order, by_setting, null_settings):
    print("Rate of permutation p <= 0.05 (family-wise over the region); null settings: "
          "p <= 0.05 / p <= 0.01.\n")
    print("| setting | studies | %s |" % " | ".join(COLUMNS))
    print("|---|---|%s" % ("---|" * len(COLUMNS)))
    for setting in order:
        rows = by_setting[setting]
        cells = []
        for name in COLUMNS:
            ps = [r["ps"].get(name) for r in rows]
            k, n, _ = bs.rate(ps, 0.05)
            if n == 0:
                cells.append("-")
            elif setting in null_settings:
                k1, _, _ = bs.rate(ps, 0.01)
                cells.append("%.3f / %.3f" % (k / n, k1 / n))
            else:
                cells.append("%.3f" % (k / n))
        print("| %s | %d | %s |" % (setting, len(rows), " | ".join(cells)))
    print("\nNull settings with 95 % Wilson intervals.\n")
    print("| setting | statistic | studies | p <= 0.05 | p <= 0.01 |")
    print("|---|---|---|---|---|")
    for setting in order:
        if setting not in null_settings:
            continue
        for name in COLUMNS:
            ps = [r["ps"].get(name) for r in by_setting[setting]]
            if any(p is not None for p in ps):
                print("| %s | %s | %d | %s | %s |" % (setting, name, sum(p is not None for p in ps),
                                                     bs.rate_cell(ps, 0.05), bs.rate_cell(ps, 0.01)))


def detected_by(rows):
    """The studies the omnibus test detects (p <= 0.05), or the cluster score's
    test where the build gives no omnibus p, and that test's name."""
    name = "omnibus" if any(r["ps"].get("omnibus") is not None for r in rows) else "cluster"
    return [r for r in rows if (r["ps"].get(name) is not None and r["ps"][name] <= 0.05)], name


def localisation_table(order, by_setting, null_settings, detected_only=False):
    names = ("cluster", "chisq", "T", "Z", "middle")
    if detected_only:
        print("\nThe same among the studies whose regional test detects the locus "
              "(omnibus p <= 0.05; the cluster score's p where there is no omnibus p).\n")
    else:
        print("\nMedian localisation error of each statistic's peak over all studies: markers "
              "from the nearer of the two typed markers around the causal variant / distance "
              "from it (kb for the coalescent sets, cM for the founder populations); "
              "`middle`: always the middle marker.\n")
    print("| setting | studies | unit | %s |" % " | ".join(names))
    print("|---|---|---|%s" % ("---|" * len(names)))
    for setting in order:
        if setting in null_settings:
            continue
        rows = by_setting[setting]
        if detected_only:
            rows, _ = detected_by(rows)
            if not rows:
                continue
        cells = []
        for name in names:
            errors = [r["errors"][name] for r in rows if name in r["errors"]]
            if not errors:
                cells.append("-")
                continue
            markers = bs.median([e[0] for e in errors])
            distance = bs.median([e[1] for e in errors])
            cells.append("%g / %.3g" % (markers, distance))
        unit = "cM" if setting.startswith("founder_") else "kb"
        print("| %s | %d | %s | %s |" % (setting, len(rows), unit, " | ".join(cells)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("orvane")
    ap.add_argument("--quick", action="store_true", help="a smoke run: few studies")
    ap.add_argument("--founder-studies", type=int,
                    help="studies per founder setting (full %d)" % FULL["founder_studies"])
    ap.add_argument("--coalescent-seeds", type=int,
                    help="studies per coalescent setting (full: all, %d)" % FULL["coalescent_seeds"])
    coalescent.add_study_options(ap, permutations=1000, seed=20261209)
    args = ap.parse_args()
    counts = coalescent.study_counts(args, QUICK, FULL)
    root = coalescent.ensure_sets(args.coalescent, args.jobs)
    if root is None:
        print("which_statistic.py: warning: no coalescent sets at %s: founder populations only; "
              "install scrm or give --coalescent DIR" % args.coalescent, file=sys.stderr)
    orvane = os.path.abspath(args.orvane)
    named = orvane_run.has_schemes(orvane)
    work = tempfile.mkdtemp(prefix="which-statistic-", dir=args.work)
    job = {"orvane": orvane, "scheme": "joint" if named else None, "coalescent": root,
           "permutations": args.permutations, "seed": args.seed, "work": work}
    tasks, order = [], []
    if root:
        for setting in coalescent.settings(root):
            order.append(setting)
            for seed in coalescent.seeds(root, setting)[:counts["coalescent_seeds"]]:
                tasks.append((job, "coalescent", (setting, seed)))
    order += [name for name, _, _, _ in FOUNDER_SETTINGS]
    for density in sorted({d for _, _, d, _ in FOUNDER_SETTINGS}):
        tasks += [(job, "founder", (i, density)) for i in range(counts["founder_studies"])]
    start = time.monotonic()
    try:
        with Pool(args.jobs) as pool:
            results = [row for rows in pool.imap(dispatch, tasks) for row in rows]
    finally:
        shutil.rmtree(work, ignore_errors=True)
    elapsed = time.monotonic() - start

    by_setting = {}
    for setting, row in results:
        by_setting.setdefault(setting, []).append(row)
    order = [s for s in order if s in by_setting]
    null_settings = {s for s in order if s.endswith("_null")}
    print("Scheme: %s; %d permutations.\n" % (
        "joint" if named else "chained (this build has no --permutation option: its only "
        "scheme; no omnibus p, no single-marker chi-square p)", args.permutations))
    detection_table(order, by_setting, null_settings)
    localisation_table(order, by_setting, null_settings)
    localisation_table(order, by_setting, null_settings, detected_only=True)
    print("\n%d studies in %.1f minutes on %d processes." % (len(results), elapsed / 60, args.jobs))


if __name__ == "__main__":
    main()
