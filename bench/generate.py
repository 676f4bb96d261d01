#!/usr/bin/env python3
"""Seeded benchmark data that looks like real haplotypes.

A few founder haplotypes are grown into a population over many generations with
recombination (and rare mutation), so that haplotypes share long stretches of a
few common backgrounds: strong linkage disequilibrium that decays with map
distance. One marker is the causal locus: in case/control mode carriers of its
allele 1 are more often cases, in trait mode they have a shifted trait mean.
With --no-ld every allele is drawn independently instead: every window pattern
is distinct, the worst case for the analysis.

usage: generate.py OUTDIR --haplotypes N --markers M [--mode s|q] [--no-ld]
                   [--seed S] [--window W] [--fraction F] [--permutations P]
Writes OUTDIR/data.txt, OUTDIR/dist.txt and OUTDIR/params.txt.
"""
import argparse
import bisect
import os
import random


def founders_population(rng, n_markers, n_founders, generations, pop_size, gap_cm):
    founders = [[rng.choice((1, 2)) for _ in range(n_markers)] for _ in range(n_founders)]
    population = [list(rng.choice(founders)) for _ in range(pop_size)]
    # Cumulative map in Morgans: crossovers fall at exponential distances along it.
    position = [0.0]
    for g in gap_cm:
        position.append(position[-1] + g / 100.0)
    length = position[-1]
    mutations = 1e-4 * n_markers
    for _ in range(generations):
        nxt = []
        for _ in range(pop_size):
            a, b = rng.choice(population), rng.choice(population)
            cuts, at = [], rng.expovariate(1.0)
            while at < length:
                cuts.append(bisect.bisect_left(position, at))
                at += rng.expovariate(1.0)
            child, start, parents = [], 0, (a, b)
            for k, cut in enumerate(cuts + [n_markers]):
                child.extend(parents[k % 2][start:cut])
                start = cut
            for _ in range(int(mutations) + (rng.random() < mutations % 1)):
                m = rng.randrange(n_markers)
                child[m] = 3 - child[m]
            nxt.append(child)
        population = nxt
    return population


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("outdir")
    ap.add_argument("--haplotypes", type=int, required=True)
    ap.add_argument("--markers", type=int, required=True)
    ap.add_argument("--mode", choices=("s", "q"), default="s")
    ap.add_argument("--no-ld", action="store_true")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--window", type=int, default=21)
    ap.add_argument("--fraction", type=float, default=0.3)
    ap.add_argument("--permutations", type=int, default=1000)
    ap.add_argument("--distance-type", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    n, m = args.haplotypes, args.markers

    # Map: gaps of 0.005 to 0.03 cM, a region of a few cM.
    gap_cm = [round(rng.uniform(0.005, 0.03), 4) for _ in range(m - 1)]
    causal = m // 2 + rng.randrange(-m // 10 - 1, m // 10 + 1)

    if args.no_ld:
        pool = [[rng.choice((1, 2)) for _ in range(m)] for _ in range(4 * n)]
    else:
        pool = founders_population(rng, m, n_founders=6, generations=60,
                                   pop_size=max(400, n // 2), gap_cm=gap_cm)
        pool = [list(rng.choice(pool)) for _ in range(4 * n)]

    lines = []
    if args.mode == "s":
        cases, controls = [], []
        for h in pool:
            (cases if rng.random() < (0.7 if h[causal] == 1 else 0.35) else controls).append(h)
        want = n // 2
        chosen = [("a", h) for h in cases[:want]] + [("c", h) for h in controls[: n - want]]
    else:
        chosen = []
        for h in pool[:n]:
            value = rng.gauss(1.0 if h[causal] == 1 else 0.0, 1.0)
            chosen.append(("%.4f" % value, h))

    with open(os.path.join(args.outdir, "data.txt"), "w") as out:
        out.write("id\t%s\t%s\n" % ("status" if args.mode == "s" else "trait",
                                     "\t".join("m%d" % (k + 1) for k in range(m))))
        for i, (label, h) in enumerate(chosen):
            out.write("%d\t%s\t%s\n" % (i + 1, label, "\t".join(map(str, h))))
    with open(os.path.join(args.outdir, "dist.txt"), "w") as out:
        out.write(" ".join("%g" % g for g in gap_cm) + "\n")
    mean_gap_morgan = sum(gap_cm) / len(gap_cm) / 100.0 if gap_cm else 0.01
    decay = -1.0 / (max(1, args.window // 2) * mean_gap_morgan)
    with open(os.path.join(args.outdir, "params.txt"), "w") as out:
        out.write("epsilon 2 %g\nminPtsQuantile 0.5\nwindowSize %d\n" % (args.fraction, args.window))
        if args.distance_type == 1:
            out.write("distanceType 1 %.6g 1\n" % decay)
        else:
            out.write("distanceType %d\n" % args.distance_type)
        out.write("permutations %d\nreportThreshold 2.0\n" % args.permutations)


if __name__ == "__main__":
    main()
