#!/usr/bin/env python3
"""Adaptive permutation (--permutation adaptive): calibration and cost.

Null studies (600 haplotypes x 100 markers, founder populations of
bench/locate_study.py whose labels are shuffled, so that nothing is
associated) run with --permutation adaptive --max-permutations BOUND: per mode
and statistic (and the omnibus p), the rate of p <= 0.05 and <= 0.01 with 95 %
Wilson intervals, and the replicates drawn. Effect studies (the same
populations, labels following an untyped marker at three effect sizes) give
the replicates drawn where there is something to find. Cost: processor time
of an adaptive run against the fixed joint run with BOUND permutations on the
first studies of each kind. Last, one strong study per mode with a bound of
100,000 shows how small a p the scheme reaches and what it costs.

Each orvane run uses one thread; J studies run at once. Processor times are
the runs' own (user + system), so other work on the machine does not count.
Seeded: the same command gives the same tables, times aside.

usage: adaptive_permutation.py ORVANE [--quick] [--null N] [--effect N]
           [--fixed N] [--bound B] [--jobs J] [--seed S] [--work DIR]
"""
import argparse
import json
import os
import random
import resource
import subprocess
import sys
import tempfile
import time
from multiprocessing import Pool

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchstats as bs  # noqa: E402
import generate  # noqa: E402
import locate_study  # noqa: E402

HAPLOTYPES, MARKERS = 600, 100
STATISTICS = {"s": ("cluster", "chisq"), "q": ("cluster", "T", "Z")}
# As in bench/permutation_calibration.py: from barely to clearly detectable.
EFFECTS = {"s": [(0.52, 0.43), (0.57, 0.43), (0.62, 0.43)], "q": [0.15, 0.25, 0.35]}
STRONG = {"s": (0.75, 0.35), "q": 0.8}
FULL = {"null": 500, "effect": 30, "fixed": 5}
QUICK = {"null": 20, "effect": 3, "fixed": 1}
STRONG_BOUND = 100000


def effect_name(mode, effect):
    return ("case risk %g vs %g" % effect) if mode == "s" else ("shift %g SD" % effect)


def run(orvane, workdir, mode, options):
    """One run; its record and its processor time in seconds."""
    for name in ("data.txt-results", "data.txt-results.jsonl"):
        if os.path.exists(os.path.join(workdir, name)):
            os.remove(os.path.join(workdir, name))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([orvane] + options + ["-" + mode, "data.txt", "params.txt", "dist.txt"], cwd=workdir,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, ORVANE_THREADS="1"))
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(os.path.join(workdir, "data.txt-results.jsonl")) as f:
        record = json.loads(f.read().splitlines()[-1])
    seconds = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return record, seconds


def outcome(record, seconds):
    ps = {name: s["permutation_p"] for name, s in record["statistics"].items()}
    ps["omnibus"] = record["omnibus_p"]
    return {"ps": ps, "replicates": record["permutation"]["replicates"], "seconds": seconds}


def study(job, mode, kind, index, workdir):
    """Writes a study: kind null (labels shuffled), effect E (effect size E) or strong."""
    seed = job["seed"] * 100003 + 2 * index + (mode == "q") + (0 if kind == "null" else 50000)
    gap_cm, causal, pool = locate_study.population(seed, "dense", markers=MARKERS)
    rng = random.Random("%d-%s-%s-%d" % (job["seed"], mode, kind, index))
    effect = STRONG[mode] if kind == "strong" else EFFECTS[mode][-1 if kind == "null" else int(kind)]
    chosen = generate.phenotype_pairs(rng, mode, effect, pool, causal, HAPLOTYPES)
    if kind == "null":
        labels = [label for label, _ in chosen]
        rng.shuffle(labels)
        chosen = [(label, h) for label, (_, h) in zip(labels, chosen)]
    locate_study.write_untyped(workdir, chosen, gap_cm, causal, mode, permutations=job["bound"])


def task(args):
    job, mode, kind, index = args
    with tempfile.TemporaryDirectory(dir=job["work"]) as workdir:
        study(job, mode, kind, index, workdir)
        bound = STRONG_BOUND if kind == "strong" else job["bound"]
        out = {"mode": mode, "kind": kind, "index": index}
        out["adaptive"] = outcome(*run(job["orvane"], workdir, mode,
                                       ["--permutation", "adaptive", "--max-permutations", str(bound)]))
        if kind != "strong" and index < job["fixed"]:
            out["fixed"] = outcome(*run(job["orvane"], workdir, mode, ["--permutation", "joint"]))
    return out


def null_table(results):
    print("Null studies, adaptive (bound %d): rate of p <= 0.05 and <= 0.01 (95 %% Wilson "
          "interval) and the replicates drawn (median, mean, 90th percentile).\n" % results[0]["bound"])
    print("| mode | statistic | studies | p <= 0.05 | p <= 0.01 |")
    print("|---|---|---|---|---|")
    for mode in ("s", "q"):
        runs = [r["adaptive"] for r in results if r["kind"] == "null" and r["mode"] == mode]
        for name in STATISTICS[mode] + ("omnibus",):
            ps = [r["ps"][name] for r in runs]
            print("| %s | %s | %d | %s | %s |" % (mode, name, len(ps), bs.rate_cell(ps, 0.05),
                                                  bs.rate_cell(ps, 0.01)))


def replicates_table(results, bound):
    print("\nReplicates drawn by the adaptive scheme (bound %d), and processor time per run "
          "against the fixed joint run with %d permutations on the first studies of each kind "
          "(mean seconds, one thread).\n" % (bound, bound))
    print("| mode | studies | n | replicates: median | mean | 90th percentile | drew all | "
          "p <= 0.001 | adaptive s | fixed s (n) |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    kinds = [("null", "null")] + [(str(e), effect_name(m, EFFECTS[m][e])) for m in ("s",) for e in range(3)]
    for mode in ("s", "q"):
        names = [("null", "null")] + [(str(e), effect_name(mode, EFFECTS[mode][e])) for e in range(3)]
        for kind, name in names:
            runs = [r for r in results if r["kind"] == kind and r["mode"] == mode]
            if not runs:
                continue
            drawn = sorted(r["adaptive"]["replicates"] for r in runs)
            fixed = [r for r in runs if "fixed" in r]
            adaptive_s = sum(r["adaptive"]["seconds"] for r in fixed) / max(1, len(fixed))
            fixed_s = sum(r["fixed"]["seconds"] for r in fixed) / max(1, len(fixed))
            small = sum(r["adaptive"]["ps"]["omnibus"] <= 0.001 for r in runs)
            print("| %s | %s | %d | %g | %.0f | %g | %d | %d | %.2f | %.2f (%d) |" % (
                mode, name, len(runs), bs.median(drawn), sum(drawn) / len(drawn),
                drawn[min(len(drawn) - 1, int(0.9 * len(drawn)))], sum(d == bound for d in drawn),
                small, adaptive_s, fixed_s, len(fixed)))
    del kinds


def strong_table(results):
    rows = [r for r in results if r["kind"] == "strong"]
    if not rows:
        return
    print("\nOne strong study per mode (case risk %g vs %g; shift %g SD), bound %d.\n"
          % (STRONG["s"] + (STRONG["q"], STRONG_BOUND)))
    print("| mode | replicates | omnibus p | cluster p | seconds |")
    print("|---|---|---|---|---|")
    for r in rows:
        a = r["adaptive"]
        print("| %s | %d | %g | %g | %.1f |" % (r["mode"], a["replicates"], a["ps"]["omnibus"],
                                               a["ps"]["cluster"], a["seconds"]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("orvane")
    ap.add_argument("--quick", action="store_true", help="a smoke run: few studies")
    ap.add_argument("--null", type=int, help="null studies per mode (full %d)" % FULL["null"])
    ap.add_argument("--effect", type=int, help="studies per mode and effect size (full %d)" % FULL["effect"])
    ap.add_argument("--fixed", type=int, help="studies of each kind also run fixed (full %d)" % FULL["fixed"])
    ap.add_argument("--bound", type=int, default=10000, help="--max-permutations (default 10000)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--seed", type=int, default=20261208)
    ap.add_argument("--work", default=None, help="where studies are written (default: a temporary folder)")
    args = ap.parse_args()
    counts = dict(QUICK if args.quick else FULL)
    for key in counts:
        if getattr(args, key) is not None:
            counts[key] = getattr(args, key)
    job = {"orvane": os.path.abspath(args.orvane), "seed": args.seed, "bound": args.bound,
           "fixed": counts["fixed"], "work": args.work}
    tasks = [(job, mode, "strong", 0) for mode in ("s", "q")]
    tasks += [(job, mode, str(e), k) for k in range(counts["effect"]) for mode in ("s", "q") for e in range(3)]
    tasks += [(job, mode, "null", k) for k in range(counts["null"]) for mode in ("s", "q")]
    start = time.time()
    with Pool(args.jobs) as pool:
        results = pool.map(task, tasks, chunksize=1)
    for r in results:
        r["bound"] = args.bound
    print("adaptive_permutation.py: %d runs in %.0f s (seed %d)\n" % (
        sum(1 + ("fixed" in r) for r in results), time.time() - start, args.seed))
    null_table([r for r in results if r["kind"] == "null"] or results)
    replicates_table(results, args.bound)
    strong_table(results)


if __name__ == "__main__":
    main()
