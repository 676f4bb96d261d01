#!/usr/bin/python3
"""Writes the bundled worked example of orvane-vcf: a small phased VCF, a
phenotype table and a genetic map, simulated with a fixed seed.

Usage: make_example_vcf.py [OUTDIR]   (default: this script's folder, examples/vcf)

Haplotypes are mosaics of a few founder haplotypes that switch founder at
recombination events drawn from the map. Founder 0 carries a risk variant
between sites 24 and 25 (1-based) that is not itself typed; samples with more
risk copies are more often cases. The picture therefore shows a peak where
founder 0's background is shared, around the middle of the region.
"""
import argparse
import math
import os
import random
import sys

SEED = 20240607
CHROM = "22"
N_SAMPLES = 50
N_SITES = 48
FIRST_POS, LAST_POS = 30_000_000, 30_600_000
N_FOUNDERS = 8
FOUNDER_WEIGHTS = [0.25] + [0.75 / (N_FOUNDERS - 1)] * (N_FOUNDERS - 1)
CAUSAL_AFTER_SITE = 23   # 0-based: the risk variant lies between sites 23 and 24
RISK_EFFECT = 3.0         # liability per risk copy, on a standard normal noise
N_CASES = 25
MUTATION_RATE = 0.01
GENERATIONS = 300         # scales the map's cM into founder switches
MISSING_ALLELES = 3


def genetic_map(rng):
    """Map points every 25 kb: a background rate near 1 cM/Mb and one hotspot."""
    points, cm = [], 0.0
    for pos in range(FIRST_POS - 50_000, LAST_POS + 75_000, 25_000):
        rate = rng.uniform(0.3, 1.5)
        if 30_380_000 <= pos < 30_430_000:
            rate = 25.0
        points.append((pos, rate, cm))
        cm += rate * 25_000 / 1e6
    return points


def cm_at(points, pos):
    for (p0, rate, c0), (p1, _, _) in zip(points, points[1:]):
        if p0 <= pos < p1:
            return c0 + rate * (pos - p0) / 1e6
    raise ValueError(pos)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0].replace("\n", " "))
    parser.add_argument("outdir", nargs="?", metavar="OUTDIR",
                        default=os.path.dirname(os.path.abspath(__file__)),
                        help="where to write the files (default: examples/vcf, this script's folder)")
    outdir = parser.parse_args().outdir
    rng = random.Random(SEED)
    points = genetic_map(rng)
    positions = sorted(rng.sample(range(FIRST_POS, LAST_POS), N_SITES))
    cms = [cm_at(points, p) for p in positions]
    refs = [rng.choice("ACGT") for _ in positions]
    alts = [rng.choice([b for b in "ACGT" if b != r]) for r in refs]
    third = N_SITES // 3  # one site with a second ALT allele
    alts[third] += "," + rng.choice([b for b in "ACGT" if b not in refs[third] + alts[third]])

    # Founders: the first ALT at a site-specific frequency; founder 0 is the
    # risk background.
    freqs = [rng.uniform(0.15, 0.5) for _ in positions]
    founders = [[1 if rng.random() < f else 0 for f in freqs] for _ in range(N_FOUNDERS)]

    def haplotype():
        current = rng.choices(range(N_FOUNDERS), FOUNDER_WEIGHTS)[0]
        alleles, risk = [], False
        for s in range(N_SITES):
            if s > 0:
                morgans = (cms[s] - cms[s - 1]) / 100.0
                if rng.random() < 1 - math.exp(-GENERATIONS * morgans):
                    current = rng.choices(range(N_FOUNDERS), FOUNDER_WEIGHTS)[0]
            if s == CAUSAL_AFTER_SITE + 1:
                # The founder at the variant is the one that carried on past it.
                risk = current == 0 and previous == 0
            previous = current
            allele = founders[current][s]
            if rng.random() < MUTATION_RATE:
                allele = 1 - allele
            if s == third and allele == 1 and rng.random() < 0.25:
                allele = 2
            alleles.append(allele)
        return alleles, risk

    samples = [f"EX{i + 1:03d}" for i in range(N_SAMPLES)]
    haps, liability = [], []
    for _ in samples:
        (h1, r1), (h2, r2) = haplotype(), haplotype()
        haps.append((h1, h2))
        liability.append(RISK_EFFECT * (r1 + r2) + rng.gauss(0.0, 1.0))
    order = sorted(range(N_SAMPLES), key=lambda i: -liability[i])
    status = {samples[i]: 2 if rank < N_CASES else 1 for rank, i in enumerate(order)}
    status[samples[-1]] = -9  # a sample without a phenotype, left out by the converter

    missing = set(rng.sample([(i, h, s) for i in range(N_SAMPLES) for h in (0, 1)
                              for s in range(N_SITES)], MISSING_ALLELES))
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "example.vcf"), "w") as f:
        f.write("##fileformat=VCFv4.2\n")
        f.write(f"##source=make_example_vcf.py seed {SEED} (simulated)\n")
        f.write(f"##contig=<ID={CHROM},length=51304566>\n")
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Phased genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t"
                + "\t".join(samples) + "\n")
        for s, pos in enumerate(positions):
            calls = []
            for i in range(N_SAMPLES):
                a = ["." if (i, h, s) in missing else str(haps[i][h][s]) for h in (0, 1)]
                calls.append("|".join(a))
            f.write(f"{CHROM}\t{pos}\tsnp{s + 1}\t{refs[s]}\t{alts[s]}\t.\tPASS\t.\tGT\t"
                    + "\t".join(calls) + "\n")
    with open(os.path.join(outdir, "pheno.txt"), "w") as f:
        f.write("FID\tIID\tPHENO\n")
        for name in samples:
            f.write(f"{name}\t{name}\t{status[name]}\n")
    with open(os.path.join(outdir, "genetic_map.txt"), "w") as f:
        f.write("position\tCOMBINED_rate(cM/Mb)\tGenetic_Map(cM)\n")
        for pos, rate, cm in points:
            f.write(f"{pos}\t{rate:.4f}\t{cm:.6f}\n")
    gaps = (cms[-1] - cms[0]) / (N_SITES - 1)
    print(f"wrote {outdir}: {N_SAMPLES} samples, {N_SITES} sites, {cms[-1] - cms[0]:.4f} cM; "
          f"distanceType 1 decay for a window of 11: {-1 / (5 * gaps / 100):.0f} per Morgan",
          file=sys.stderr)


if __name__ == "__main__":
    main()
