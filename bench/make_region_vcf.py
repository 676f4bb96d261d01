#!/usr/bin/python3
"""Seeded VCF of one region for timing the workflow's steps at scale.

usage: make_region_vcf.py OUTDIR --haplotypes N [--markers M] [--seed S] [--unphased] [--varied]
                          [--founders F]

Haplotypes are mosaics of eight founders (a switch between neighbouring
markers with probability 0.02), with rare mutations (0.002 per allele): easy
data, about 3,500 distinct 21-marker patterns per window at 200,000
haplotypes. With --varied they are mosaics of 48 founders (switch 0.03,
mutation 0.0045) and one marker in ten is a rare variant (carrier frequency
0.0005 to 0.01, drawn independently): about 16,000 distinct patterns per
window at 200,000 haplotypes (10,000 to 19,000). Carriers of founder 0 at
the middle marker are more often cases. --founders F sets the number of
founders of either kind: more founders, more distinct patterns. Writes
OUTDIR/region.vcf.gz (+ .csi, chromosome 1, one marker per kb from 1 Mb),
OUTDIR/pheno.txt and OUTDIR/map.txt (1 cM/Mb). With --unphased every call is written 0/1-style, as
input for a phasing program. Needs numpy (python3-numpy), bgzip and bcftools.
"""
import argparse
import os
import subprocess

import numpy as np

# (founders, switch, mutation, share of rare-variant markers)
EASY = (8, 0.02, 0.002, 0.0)
VARIED = (48, 0.03, 0.0045, 0.1)
FIRST, STEP = 1_000_000, 1_000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("outdir")
    ap.add_argument("--haplotypes", type=int, required=True)
    ap.add_argument("--markers", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--unphased", action="store_true")
    ap.add_argument("--varied", action="store_true")
    ap.add_argument("--founders", type=int)
    args = ap.parse_args()
    rng = np.random.default_rng(args.seed)
    n, m = args.haplotypes - args.haplotypes % 2, args.markers
    n_founders, switch, mutation, rare = VARIED if args.varied else EASY
    if args.founders:
        n_founders = args.founders

    founders = (rng.random((n_founders, m)) < rng.uniform(0.1, 0.5, m)).astype(np.uint8)
    switches = rng.random((n, m)) < switch
    switches[:, 0] = True
    segment = np.cumsum(switches, axis=1) - 1
    choice = rng.integers(0, n_founders, size=(n, int(segment.max()) + 1))
    founder = np.take_along_axis(choice, segment, axis=1)
    alleles = founders[founder, np.arange(m)]
    alleles ^= (rng.random((n, m)) < mutation).astype(np.uint8)
    if rare > 0:
        # Rare variants follow no founder: each carrier is one more distinct pattern.
        chosen = rng.random(m) < rare
        chosen[m // 2] = False
        frequency = rng.uniform(0.0005, 0.01, m)[chosen]
        alleles[:, chosen] = (rng.random((n, int(chosen.sum()))) < frequency).astype(np.uint8)

    samples = n // 2
    risk = (founder[:, m // 2] == 0).reshape(samples, 2).sum(axis=1)
    liability = 1.5 * risk + rng.normal(size=samples)
    cases = set(np.argsort(-liability)[: samples // 2].tolist())

    os.makedirs(args.outdir, exist_ok=True)
    names = [f"H{i + 1}" for i in range(samples)]
    separator = "/" if args.unphased else "|"
    table = np.array([f"0{separator}0", f"0{separator}1", f"1{separator}0", f"1{separator}1"])
    if args.unphased:
        table[2] = table[1]
    vcf = os.path.join(args.outdir, "region.vcf")
    with open(vcf, "w") as f:
        f.write("##fileformat=VCFv4.2\n##contig=<ID=1,length=10000000>\n")
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" + "\t".join(names) + "\n")
        pairs = alleles.reshape(samples, 2, m)
        for k in range(m):
            codes = pairs[:, 0, k] * 2 + pairs[:, 1, k]
            f.write(f"1\t{FIRST + k * STEP}\tm{k + 1}\tA\tG\t.\tPASS\t.\tGT\t"
                    + "\t".join(table[codes]) + "\n")
    subprocess.run(["bgzip", "-f", vcf], check=True)
    subprocess.run(["bcftools", "index", "-f", vcf + ".gz"], check=True)
    with open(os.path.join(args.outdir, "pheno.txt"), "w") as f:
        f.write("IID\tPHENO\n")
        for i, name in enumerate(names):
            f.write(f"{name}\t{2 if i in cases else 1}\n")
    with open(os.path.join(args.outdir, "map.txt"), "w") as f:
        f.write("position\trate\tcM\n")
        for pos in range(0, 10_000_001, 1_000_000):
            f.write(f"{max(pos, 1)}\t1\t{pos / 1e6:g}\n")


if __name__ == "__main__":
    main()
