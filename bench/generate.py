#!/usr/bin/env python3
"""Seeded benchmark data that looks like real haplotypes.

A few founder haplotypes are grown into a population over many generations with
recombination (and rare mutation), so that haplotypes share long stretches of a
few common backgrounds: strong linkage disequilibrium that decays with map
distance. One marker is the causal locus: in case/control mode carriers of its
allele 1 are more often cases, in trait mode they have a shifted trait mean.
With --no-ld every allele is drawn independently instead: every window pattern
is distinct, the worst case for the analysis.

For localisation studies: --untyped leaves the causal marker out of the files
(it is then chosen near the middle among markers whose allele 1 has a frequency
of at least 0.1 in the pool, and OUTDIR/truth.txt names the two typed markers
around it, indices from 0); --case-risk and --trait-shift set the effect size;
--gap-scale multiplies every map gap (a sparser or denser map).

usage: generate.py OUTDIR --haplotypes N --markers M [--mode s|q] [--no-ld]
                   [--seed S] [--window W] [--fraction F] [--permutations P]
                   [--untyped] [--case-risk CARRIER OTHER] [--trait-shift D]
                   [--gap-scale G]
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


def polymorphic_causal(rng, pool, n_markers, min_freq=0.1):
    """A marker near the middle whose allele 1 is neither rare nor near fixed."""
    low, high = n_markers // 2 - n_markers // 5, n_markers // 2 + n_markers // 5
    fits = []
    for m in range(max(1, low), min(n_markers - 1, high + 1)):
        freq = sum(h[m] == 1 for h in pool) / len(pool)
        if min_freq <= freq <= 1.0 - min_freq:
            fits.append(m)
    return rng.choice(fits) if fits else n_markers // 2


def phenotype_pairs(rng, mode, effect, pool, causal, n):
    """(label, haplotype) pairs of one study drawn from the pool. Case/control:
    effect is (risk of carriers of allele 1 at the causal marker, risk of the
    others); each pool haplotype is drawn a case or a control by its risk, and
    the first n // 2 cases and the first n - n // 2 controls are kept. Trait:
    effect is the carriers' mean shift in standard deviations, on the first n."""
    if mode == "s":
        cases, controls = [], []
        for h in pool:
            risk = effect[0] if h[causal] == 1 else effect[1]
            (cases if rng.random() < risk else controls).append(h)
        want = n // 2
        return [("a", h) for h in cases[:want]] + [("c", h) for h in controls[:n - want]]
    return [("%.4f" % rng.gauss(effect if h[causal] == 1 else 0.0, 1.0), h) for h in pool[:n]]


def write_data(outdir, mode, chosen, m):
    """data.txt of (label, haplotype) pairs over m markers, identifiers from 1."""
    with open(os.path.join(outdir, "data.txt"), "w") as out:
        out.write("id\t%s\t%s\n" % ("status" if mode == "s" else "trait",
                                     "\t".join("m%d" % (k + 1) for k in range(m))))
        for i, (label, h) in enumerate(chosen):
            out.write("%d\t%s\t%s\n" % (i + 1, label, "\t".join(map(str, h))))


def write_study(outdir, mode, chosen, gap_cm, window, fraction, distance_type, permutations):
    """data.txt, dist.txt and params.txt of (label, haplotype) pairs."""
    write_data(outdir, mode, chosen, len(gap_cm) + 1)
    with open(os.path.join(outdir, "dist.txt"), "w") as out:
        out.write(" ".join("%g" % g for g in gap_cm) + "\n")
    write_params(outdir, gap_cm, window, fraction, distance_type, permutations)


def write_params(outdir, gap_cm, window, fraction, distance_type, permutations,
                 report_threshold="2.0"):
    """params.txt: type 1 with a decay of about e^-1 at the window's edge; type 3
    with its one parameter, 1 (the Hamming part weighed by |D'|)."""
    mean_gap_morgan = sum(gap_cm) / len(gap_cm) / 100.0 if gap_cm else 0.01
    decay = -1.0 / (max(1, window // 2) * mean_gap_morgan)
    with open(os.path.join(outdir, "params.txt"), "w") as out:
        out.write("epsilon 2 %g\nminPtsQuantile 0.5\nwindowSize %d\n" % (fraction, window))
        if distance_type == 1:
            out.write("distanceType 1 %.6g 1\n" % decay)
        elif distance_type == 3:
            out.write("distanceType 3 1\n")
        else:
            out.write("distanceType %d\n" % distance_type)
        out.write("permutations %d\nreportThreshold %s\n" % (permutations, report_threshold))


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
    ap.add_argument("--untyped", action="store_true")
    ap.add_argument("--case-risk", type=float, nargs=2, default=(0.7, 0.35),
                    metavar=("CARRIER", "OTHER"))
    ap.add_argument("--trait-shift", type=float, default=1.0)
    ap.add_argument("--gap-scale", type=float, default=1.0)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    n, m = args.haplotypes, args.markers

    # Map: gaps of 0.005 to 0.03 cM, a region of a few cM.
    gap_cm = [round(rng.uniform(0.005, 0.03), 4) for _ in range(m - 1)]
    if args.gap_scale != 1.0:
        gap_cm = [round(g * args.gap_scale, 6) for g in gap_cm]
    causal = m // 2 + rng.randrange(-m // 10 - 1, m // 10 + 1)

    if args.no_ld:
        pool = [[rng.choice((1, 2)) for _ in range(m)] for _ in range(4 * n)]
    else:
        pool = founders_population(rng, m, n_founders=6, generations=60,
                                   pop_size=max(400, n // 2), gap_cm=gap_cm)
        pool = [list(rng.choice(pool)) for _ in range(4 * n)]
    if args.untyped:
        causal = polymorphic_causal(rng, pool, m)

    effect = args.case_risk if args.mode == "s" else args.trait_shift
    chosen = phenotype_pairs(rng, args.mode, effect, pool, causal, n)

    if args.untyped:
        # Drop the causal marker; its two gaps become one.
        removed_gap = gap_cm[causal - 1]
        chosen = [(label, h[:causal] + h[causal + 1:]) for label, h in chosen]
        gap_cm = (gap_cm[:causal - 1] + [round(gap_cm[causal - 1] + gap_cm[causal], 6)]
                  + gap_cm[causal + 1:])
        m -= 1
        with open(os.path.join(args.outdir, "truth.txt"), "w") as out:
            out.write("%d %d %.6f\n" % (causal - 1, causal, sum(gap_cm[:causal - 1]) + removed_gap))

    write_study(args.outdir, args.mode, chosen, gap_cm, args.window, args.fraction,
                args.distance_type, args.permutations)

if __name__ == "__main__":
    main()
