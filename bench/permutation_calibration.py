#!/usr/bin/env python3
"""Are orvane's permutation p-values sound? Null calibration, power, and plink.

Null studies (600 haplotypes x 100 markers): regions with real linkage
disequilibrium whose labels are shuffled, so that nothing is associated. Every
other study is 600 haplotypes drawn from a coalescent study of the mode
(made by bench/make_coalescent.py, a setting and seed drawn at random) with their own
labels shuffled among them; the others are founder-population studies of
bench/locate_study.py (the causal marker untyped) whose labels are shuffled.
For each mode, scheme and statistic: the rate of p <= 0.05 and <= 0.01 with
95 % Wilson intervals, the share of p = 0, the share in [0.9, 1], and the
share of p in each tenth of [0, 1].

Power: founder-population studies with an effect at an untyped marker, three
effect sizes per mode, the same populations for every effect size and scheme.

plink: coalescent case/control studies (1,200 haplotypes, 600 people) through
`plink1.9 --assoc mperm=1000`; its EMP2 of the best SNP beside orvane's joint
single-marker chi-square p (1,000 permutations too) from the run record.

Both schemes run on the same studies (`--permutation=chained` and `=joint`);
a build without the option runs its only scheme, the chained one. Runs J
studies at once, each orvane run on one thread. Seeded: the same command gives
the same tables.

usage: permutation_calibration.py ORVANE [--quick] [--null N] [--power N]
           [--plink K] [--permutations P] [--jobs J] [--seed S]
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
import plink_maxt  # noqa: E402

HAPLOTYPES, MARKERS = 600, 100
# Case risk of carriers of the causal allele against others; trait shift of
# carriers in standard deviations. From barely to clearly detectable at 600
# haplotypes; case risk 0.57 vs 0.43 and a shift of 0.15 SD are the examples
# the permutation test was first measured at.
EFFECTS = {"s": [(0.52, 0.43), (0.57, 0.43), (0.62, 0.43)], "q": [0.15, 0.25, 0.35]}
# Full run: about 10 minutes on this project's two processors, shared with
# other work (see the README).
FULL = {"null": 1000, "power": 300, "plink": 12}
QUICK = {"null": 40, "power": 20, "plink": 2}
PLINK_SETTINGS = ["cc_common_grr1.5", "cc_common_grr2", "cc_rare_grr6", "cc_null"]
PLINK_PERMUTATIONS = 1000


def effect_name(mode, effect):
    return ("case risk %g vs %g" % effect) if mode == "s" else ("shift %g SD" % effect)


def run_schemes(job, workdir, mode):
    """{scheme: p-values} of the study in workdir, and whether records agreed."""
    out, agree = {}, []
    for scheme in job["schemes"]:
        result = orvane_run.run(job["orvane"], workdir, mode, scheme if job["named"] else None)
        out[scheme] = orvane_run.permutation_ps(result)
        if result["record"]:
            agree.append(orvane_run.record_agrees(result))
    return out, agree


def shuffled(rng, chosen):
    labels = [label for label, _ in chosen]
    rng.shuffle(labels)
    return [(label, h) for label, (_, h) in zip(labels, chosen)]


def null_study(job, rng, mode, index, workdir):
    """A null study in workdir; returns where its haplotypes come from."""
    root = job["coalescent"]
    if root and index % 2 == 0:
        setting = rng.choice([s for s in coalescent.settings(root) if coalescent.mode_of(s) == mode])
        seed = rng.choice(coalescent.seeds(root, setting))
        study = coalescent.read_study(root, setting, seed)
        picked = rng.sample(range(len(study["labels"])), HAPLOTYPES)
        chosen = shuffled(rng, [(study["labels"][i], study["haplotypes"][i]) for i in picked])
        coalescent.write(study, workdir, chosen, job["permutations"])
        return "coalescent"
    gap_cm, causal, pool = locate_study.population(job["seed"] * 100003 + 2 * index + (mode == "q"),
                                                   "dense", markers=MARKERS)
    chosen = generate.phenotype_pairs(rng, mode, EFFECTS[mode][-1], pool, causal, HAPLOTYPES)
    locate_study.write_untyped(workdir, shuffled(rng, chosen), gap_cm, causal, mode,
                               permutations=job["permutations"])
    return "founder"


def null_task(job, mode, index):
    rng = random.Random("%d-null-%s-%d" % (job["seed"], mode, index))
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        origin = null_study(job, rng, mode, index, workdir)
        ps, agree = run_schemes(job, workdir, mode)
    return {"kind": "null", "mode": mode, "origin": origin, "ps": ps, "agree": agree}


def power_task(job, index):
    """Both modes at every effect size on one founder population."""
    seed = job["seed"] * 100003 + 50000 + index
    gap_cm, causal, pool = locate_study.population(seed, "dense", markers=MARKERS)
    out, agree = {}, []
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        for mode in ("s", "q"):
            for e, effect in enumerate(EFFECTS[mode]):
                rng = random.Random("%d-power-%s-%d-%d" % (job["seed"], mode, e, index))
                chosen = generate.phenotype_pairs(rng, mode, effect, pool, causal, HAPLOTYPES)
                locate_study.write_untyped(workdir, chosen, gap_cm, causal, mode,
                                           permutations=job["permutations"])
                out[(mode, e)], a = run_schemes(job, workdir, mode)
                agree += a
    return {"kind": "power", "ps": out, "agree": agree}


def plink_task(job, index):
    root = job["coalescent"]
    setting = PLINK_SETTINGS[index % len(PLINK_SETTINGS)]
    seed = coalescent.seeds(root, setting)[index // len(PLINK_SETTINGS)]
    study = coalescent.read_study(root, setting, seed)
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        coalescent.write(study, workdir, list(zip(study["labels"], study["haplotypes"])),
                         PLINK_PERMUTATIONS)
        scheme = "joint" if job["named"] else None
        result = orvane_run.run(job["orvane"], workdir, "s", scheme)
        snp, emp2 = plink_maxt.run(job["plink"], workdir, study["labels"], study["haplotypes"],
                                   study["pos_bp"], PLINK_PERMUTATIONS, job["seed"] + index)
    chisq = result["statistics"]["chisq"]
    return {"kind": "plink", "study": "%s/%s" % (setting, seed), "p": chisq["permutation_p"],
            "peak": chisq["peak"], "plink_peak": snp, "emp2": emp2, "record": result["record"]}


def dispatch(task):
    job, kind, args = task
    if kind == "null":
        return null_task(job, *args)
    if kind == "power":
        return power_task(job, *args)
    return plink_task(job, *args)


def null_tables(results, schemes):
    rows, decile_rows = [], []
    for mode in ("s", "q"):
        studies = [r for r in results if r["kind"] == "null" and r["mode"] == mode]
        for scheme in schemes:
            for name in orvane_run.STATISTICS[mode] + ("omnibus",):
                ps = [r["ps"][scheme].get(name) for r in studies]
                given = [p for p in ps if p is not None]
                if not given:
                    continue
                zeros, n = bs.share_zero(ps)
                d = bs.deciles(ps)
                rows.append("| %s | %s | %s | %d | %s | %s | %d | %.3f |" % (
                    mode, scheme, name, n, bs.rate_cell(ps, 0.05), bs.rate_cell(ps, 0.01),
                    zeros, d[9]))
                decile_rows.append("| %s | %s | %s | %d | %s |" % (
                    mode, scheme, name, n, " | ".join("%.3f" % x for x in d)))
    print("Null studies: rate of permutation p <= 0.05 and <= 0.01 (95 % Wilson interval), "
          "count of p = 0, share of p in [0.9, 1].\n")
    print("| mode | scheme | statistic | studies | p <= 0.05 | p <= 0.01 | p = 0 | p in [0.9, 1] |")
    print("|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))
    print("\nNull studies: share of p in each tenth of [0, 1] (uniform: 0.100 each).\n")
    print("| mode | scheme | statistic | studies | %s |" % " | ".join(
        "%g-%g" % (k / 10, (k + 1) / 10) for k in range(10)))
    print("|---|---|---|---|%s" % ("---|" * 10))
    print("\n".join(decile_rows))
    origins = ("coalescent", "founder")
    print("\nNull studies by where their haplotypes come from: rate of p <= 0.05 "
          "(95 % Wilson interval).\n")
    print("| mode | scheme | statistic | %s |" % " | ".join(origins))
    print("|---|---|---|%s" % ("---|" * len(origins)))
    for mode in ("s", "q"):
        for scheme in schemes:
            for name in orvane_run.STATISTICS[mode] + ("omnibus",):
                cells = []
                for origin in origins:
                    ps = [r["ps"][scheme].get(name) for r in results if r["kind"] == "null"
                          and r["mode"] == mode and r["origin"] == origin]
                    k, n, _ = bs.rate(ps, 0.05)
                    cells.append("%s of %d" % (bs.rate_cell(ps, 0.05), n) if n else "-")
                if any(c != "-" for c in cells):
                    print("| %s | %s | %s | %s |" % (mode, scheme, name, " | ".join(cells)))


def power_table(results, schemes):
    studies = [r for r in results if r["kind"] == "power"]
    if not studies:
        return
    print("\nPower: rate of permutation p <= 0.05 (95 % Wilson interval) by scheme, "
          "on studies with an effect at an untyped marker.\n")
    print("| mode | effect | statistic | studies | %s |" % " | ".join(schemes))
    print("|---|---|---|---|%s" % ("---|" * len(schemes)))
    for mode in ("s", "q"):
        for e, effect in enumerate(EFFECTS[mode]):
            for name in orvane_run.STATISTICS[mode] + ("omnibus",):
                cells, n = [], 0
                for scheme in schemes:
                    ps = [r["ps"][(mode, e)][scheme].get(name) for r in studies]
                    n = max(n, sum(p is not None for p in ps))
                    cells.append(bs.rate_cell(ps, 0.05))
                if n:
                    print("| %s | %s | %s | %d | %s |" % (mode, effect_name(mode, effect), name,
                                                         n, " | ".join(cells)))


def plink_table(results):
    rows = [r for r in results if r["kind"] == "plink"]
    if not rows:
        return
    print("\nplink1.9 --assoc mperm=%d (EMP2 of the best SNP) beside orvane's joint "
          "single-marker chi-square p (%d permutations); z = difference / its Monte "
          "Carlo standard error.\n" % (PLINK_PERMUTATIONS, PLINK_PERMUTATIONS))
    print("| study | orvane p | plink EMP2 | z | best marker orvane / plink |")
    print("|---|---|---|---|---|")
    within = compared = 0
    for r in rows:
        z = "-"
        if r["p"] is not None:
            z_value = bs.monte_carlo_z(r["p"], r["emp2"], PLINK_PERMUTATIONS)
            z = "%.2f" % z_value
            compared += 1
            within += abs(z_value) <= 2
        print("| %s | %s | %.4g | %s | %d / %s |" % (
            r["study"], "-" if r["p"] is None else "%.4g" % r["p"], r["emp2"], z, r["peak"],
            "-" if r["plink_peak"] is None else str(r["plink_peak"])))
    if compared:
        print("\n%d of %d within two standard errors." % (within, compared))
    else:
        print("\n(this build writes no joint single-marker p: nothing to compare)")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("orvane")
    ap.add_argument("--quick", action="store_true", help="a smoke run: few studies")
    ap.add_argument("--null", type=int, help="null studies per mode (full %d)" % FULL["null"])
    ap.add_argument("--power", type=int, help="studies per effect size (full %d)" % FULL["power"])
    ap.add_argument("--plink", type=int, help="studies against plink (full %d)" % FULL["plink"])
    coalescent.add_study_options(ap, permutations=500, seed=20261208)
    args = ap.parse_args()
    counts = coalescent.study_counts(args, QUICK, FULL)
    root = coalescent.ensure_sets(args.coalescent, args.jobs)
    if root is None:
        print("permutation_calibration.py: warning: no coalescent sets at %s: null studies "
              "from founder populations only, no plink comparison; install scrm or give "
              "--coalescent DIR"
              % args.coalescent, file=sys.stderr)
    plink = shutil.which("plink1.9")
    if plink is None and counts["plink"]:
        print("permutation_calibration.py: warning: plink1.9 not found, no plink comparison; "
              "apt-get install plink1.9", file=sys.stderr)
    orvane = os.path.abspath(args.orvane)
    named = orvane_run.has_schemes(orvane)
    schemes = ["chained", "joint"] if named else ["chained"]
    work = tempfile.mkdtemp(prefix="calibration-", dir=args.work)
    job = {"orvane": orvane, "named": named, "schemes": schemes, "coalescent": root,
           "permutations": args.permutations, "seed": args.seed, "work": work, "plink": plink}
    tasks = [(job, "null", (mode, i)) for i in range(counts["null"]) for mode in ("s", "q")]
    tasks += [(job, "power", (i,)) for i in range(counts["power"])]
    if root and plink:
        tasks += [(job, "plink", (i,)) for i in range(counts["plink"])]
    start = time.monotonic()
    try:
        with Pool(args.jobs) as pool:
            results = list(pool.imap(dispatch, tasks))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    elapsed = time.monotonic() - start

    print("%d haplotypes x %d markers, %d permutations; schemes: %s%s\n" % (
        HAPLOTYPES, MARKERS, args.permutations, ", ".join(schemes),
        "" if named else " (this build has no --permutation option: its only scheme)"))
    null_tables(results, schemes)
    power_table(results, schemes)
    plink_table(results)
    agree = [a for r in results for a in r.get("agree", [])]
    if agree:
        print("\nRun records whose peaks, values and p-values equal the summary line's: "
              "%d of %d." % (sum(agree), len(agree)))
    print("\n%d studies in %.1f minutes on %d processes." % (len(tasks), elapsed / 60, args.jobs))


if __name__ == "__main__":
    main()
