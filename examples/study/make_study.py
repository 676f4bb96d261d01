#!/usr/bin/python3
"""Writes the bundled study of the Snakemake workflow, simulated with a fixed seed.

Usage: make_study.py [OUTDIR] [--all-phased]
  OUTDIR        default: the directory of this script
  --all-phased  write every sample phased (the true haplotypes), for a run
                with `phasing: none`; the data are the same draws either way

Two chromosomes, three loci (locus1 and locus2 on chromosome 1, locus3 on
chromosome 2); the VCF holds the sites around the loci only, far enough on
each side for the phasing flank. At each locus the haplotypes are mosaics of a
few founders that switch founder at recombination events drawn from the map.
Founder 0 carries an untyped risk variant in the middle of locus1 (strong
effect) and of locus3 (weaker); locus2 is null. A third of the samples are
written unphased (`0/1`), with a few missing genotypes.

Outputs: study.vcf.gz (+ .csi), pheno.txt, chr1.map, chr2.map (orvane-vcf's
map format), loci.bed. Needs bgzip and bcftools on PATH.
"""
import argparse
import math
import os
import random
import subprocess
import sys

SEED = 20261207
N_SAMPLES = 160
UNPHASED_SHARE = 1 / 3
N_FOUNDERS = 8
FOUNDER_WEIGHTS = [0.25] + [0.75 / (N_FOUNDERS - 1)] * (N_FOUNDERS - 1)
GENERATIONS = 1500  # scales the map's cM into founder switches
MUTATION_RATE = 0.005
MISSING_GENOTYPES = 12
CHROM_LENGTHS = {"1": 25_000_000, "2": 20_000_000}
MAP_STEP = 100_000
FLANK = 250_000     # sites simulated on each side of a locus
SITES_PER_MB = 160
# name, chromosome, BED start, BED end, liability per risk copy
LOCI = [("locus1", "1", 8_000_000, 8_300_000, 3.0),
        ("locus2", "1", 17_500_000, 17_800_000, 0.0),
        ("locus3", "2", 11_200_000, 11_500_000, 1.5)]
N_CASES = N_SAMPLES // 2


def genetic_map(rng, length):
    """Points every 100 kb over the whole chromosome: rates near 1 cM/Mb, some hotspots."""
    points, cm = [], 0.0
    for pos in range(0, length + MAP_STEP, MAP_STEP):
        rate = rng.uniform(0.3, 1.6) if rng.random() > 0.05 else rng.uniform(8.0, 20.0)
        points.append((max(pos, 1), rate, cm))
        cm += rate * MAP_STEP / 1e6
    return points


def cm_at(points, pos):
    for (p0, rate, c0), (p1, _, _) in zip(points, points[1:]):
        if p0 <= pos < p1:
            return c0 + rate * (pos - p0) / 1e6
    raise ValueError(pos)


def simulate_locus(rng, points, start, end):
    """Sites of one locus with its flanks, and a haplotype drawer for them."""
    first, last = start - FLANK, end + FLANK
    n_sites = int((last - first) / 1e6 * SITES_PER_MB)
    positions = sorted(rng.sample(range(first + 1, last + 1), n_sites))
    cms = [cm_at(points, p) for p in positions]
    refs = [rng.choice("ACGT") for _ in positions]
    alts = [rng.choice([b for b in "ACGT" if b != r]) for r in refs]
    freqs = [rng.uniform(0.1, 0.5) for _ in positions]
    founders = [[1 if rng.random() < f else 0 for f in freqs] for _ in range(N_FOUNDERS)]
    middle = (start + end) // 2
    causal_after = max(k for k, p in enumerate(positions) if p <= middle)

    def haplotype():
        current = rng.choices(range(N_FOUNDERS), FOUNDER_WEIGHTS)[0]
        alleles, risk, previous = [], False, current
        for s in range(n_sites):
            if s > 0:
                morgans = (cms[s] - cms[s - 1]) / 100.0
                if rng.random() < 1 - math.exp(-GENERATIONS * morgans):
                    current = rng.choices(range(N_FOUNDERS), FOUNDER_WEIGHTS)[0]
            if s == causal_after + 1:
                risk = current == 0 and previous == 0
            previous = current
            allele = founders[current][s]
            if rng.random() < MUTATION_RATE:
                allele = 1 - allele
            alleles.append(allele)
        return alleles, risk

    return positions, refs, alts, haplotype


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0].replace("\n", " "))
    parser.add_argument("outdir", nargs="?", metavar="OUTDIR", default=os.path.dirname(os.path.abspath(__file__)),
                        help="where to write the files (default: the directory of this script)")
    parser.add_argument("--all-phased", action="store_true",
                        help="write every sample phased (the true haplotypes), for a run with `phasing: none`")
    options = parser.parse_args()
    all_phased = options.all_phased
    outdir = options.outdir
    rng = random.Random(SEED)
    maps = {chrom: genetic_map(rng, length) for chrom, length in CHROM_LENGTHS.items()}
    samples = [f"S{i + 1:03d}" for i in range(N_SAMPLES)]
    unphased = set(rng.sample(range(N_SAMPLES), int(N_SAMPLES * UNPHASED_SHARE)))

    records, liability = [], [rng.gauss(0.0, 1.0) for _ in samples]
    for name, chrom, start, end, effect in LOCI:
        positions, refs, alts, haplotype = simulate_locus(rng, maps[chrom], start, end)
        haps = []
        for i in range(N_SAMPLES):
            (h1, r1), (h2, r2) = haplotype(), haplotype()
            haps.append((h1, h2))
            liability[i] += effect * (r1 + r2)
        for s, pos in enumerate(positions):
            records.append((chrom, pos, f"{name}_{s + 1}", refs[s], alts[s],
                            [(h1[s], h2[s]) for h1, h2 in haps]))
    missing = set(rng.sample([(r, i) for r in range(len(records)) for i in range(N_SAMPLES)],
                             MISSING_GENOTYPES))

    order = sorted(range(N_SAMPLES), key=lambda i: -liability[i])
    status = {samples[i]: 2 if rank < N_CASES else 1 for rank, i in enumerate(order)}
    os.makedirs(outdir, exist_ok=True)
    vcf = os.path.join(outdir, "study.vcf")
    with open(vcf, "w") as f:
        f.write("##fileformat=VCFv4.2\n")
        f.write(f"##source=make_study.py seed {SEED} (simulated)\n")
        for chrom, length in CHROM_LENGTHS.items():
            f.write(f"##contig=<ID={chrom},length={length}>\n")
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t"
                + "\t".join(samples) + "\n")
        for r, (chrom, pos, ident, ref, alt, calls) in enumerate(records):
            fields = []
            for i, (a, b) in enumerate(calls):
                if (r, i) in missing:
                    fields.append("./." if i in unphased and not all_phased else ".|.")
                elif i in unphased and not all_phased:
                    fields.append(f"{min(a, b)}/{max(a, b)}")
                else:
                    fields.append(f"{a}|{b}")
            f.write(f"{chrom}\t{pos}\t{ident}\t{ref}\t{alt}\t.\tPASS\t.\tGT\t"
                    + "\t".join(fields) + "\n")
    subprocess.run(["bgzip", "-f", vcf], check=True)
    subprocess.run(["bcftools", "index", "-f", vcf + ".gz"], check=True)

    with open(os.path.join(outdir, "pheno.txt"), "w") as f:
        f.write("FID\tIID\tPHENO\n")
        for name in samples:
            f.write(f"{name}\t{name}\t{status[name]}\n")
    for chrom, points in maps.items():
        with open(os.path.join(outdir, f"chr{chrom}.map"), "w") as f:
            f.write("position\tCOMBINED_rate(cM/Mb)\tGenetic_Map(cM)\n")
            for pos, rate, cm in points:
                f.write(f"{pos}\t{rate:.4f}\t{cm:.6f}\n")
    with open(os.path.join(outdir, "loci.bed"), "w") as f:
        for name, chrom, start, end, _ in LOCI:
            f.write(f"{chrom}\t{start}\t{end}\t{name}\n")
    print(f"wrote {outdir}: {N_SAMPLES} samples ({'none' if all_phased else len(unphased)} "
          f"unphased), {len(records)} sites, {len(LOCI)} loci", file=sys.stderr)


if __name__ == "__main__":
    main()
