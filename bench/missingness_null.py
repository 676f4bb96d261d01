#!/usr/bin/env python3
"""False-positive rate of the permutation test when alleles are missing.

Single-gene mode fills a missing allele by a draw from the allele frequencies
of the haplotype's own case/control group. Under a null phenotype (statuses
unrelated to the alleles) that makes the groups look more different than they
are, and the permutation test, which shuffles statuses after the filling, does
not see it. This script measures the share of null studies whose permutation
p-value is at most 0.05, for several shares of missing alleles.

Each replicate study: haplotypes drawn from a founder population grown with
recombination (bench/generate.py), half of them called cases at random, then
every allele set missing independently with the given probability.

usage: missingness_null.py ORVANE [--replicates R] [--seed S] [--shares 0,0.01,...]
Prints a Markdown table: share, studies, false positives at 0.05, the rate and
its 95 % binomial interval, and the same for the single-marker chi-square's
nominal p-value at the marker with the largest chi-square (Bonferroni over markers).
"""
import argparse
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402
import orvane_run  # noqa: E402
from benchstats import wilson  # noqa: E402

HAPLOTYPES, MARKERS, WINDOW, PERMUTATIONS = 200, 30, 11, 200


def study(rng, share, workdir, orvane):
    gap_cm = [round(rng.uniform(0.005, 0.03), 4) for _ in range(MARKERS - 1)]
    pool = generate.founders_population(rng, MARKERS, n_founders=6, generations=30,
                                        pop_size=300, gap_cm=gap_cm)
    chosen = [list(rng.choice(pool)) for _ in range(HAPLOTYPES)]
    statuses = ["a"] * (HAPLOTYPES // 2) + ["c"] * (HAPLOTYPES - HAPLOTYPES // 2)
    rng.shuffle(statuses)
    for h in chosen:
        for k in range(MARKERS):
            if rng.random() < share:
                h[k] = 0
    generate.write_study(workdir, "s", list(zip(statuses, chosen)), gap_cm, WINDOW, 0.3, 1,
                         PERMUTATIONS)
    summary = orvane_run.run(orvane, workdir, "s")["summary"]
    permutation_p = summary["cluster"]["permutation_p"]
    single_minus_log_p = summary["chisq"]["minus_log10_p"]
    bonferroni = min(1.0, 10 ** -single_minus_log_p * MARKERS)
    return permutation_p, bonferroni


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("orvane")
    ap.add_argument("--replicates", type=int, default=200)
    ap.add_argument("--seed", type=int, default=20261207)
    ap.add_argument("--shares", default="0,0.01,0.02,0.05,0.1,0.2")
    args = ap.parse_args()
    orvane = os.path.abspath(args.orvane)
    print("| missing share | studies | permutation p <= 0.05 | rate (95 % interval) "
          "| single marker, Bonferroni p <= 0.05 | rate (95 % interval) |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as workdir:
        for share in [float(s) for s in args.shares.split(",")]:
            rng = random.Random("%d-%g" % (args.seed, share))
            hits = single = 0
            for _ in range(args.replicates):
                p, b = study(rng, share, workdir, orvane)
                hits += p <= 0.05
                single += b <= 0.05
            lo, hi = wilson(hits, args.replicates)
            slo, shi = wilson(single, args.replicates)
            print("| %g %% | %d | %d | %.3f (%.3f-%.3f) | %d | %.3f (%.3f-%.3f) |" % (
                share * 100, args.replicates, hits, hits / args.replicates, lo, hi,
                single, single / args.replicates, slo, shi), flush=True)


if __name__ == "__main__":
    main()
