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
OUTDIR/pheno.txt and OUTDIR/map.txt (1 cM/Mb). With --unphased every call is
written 0/1-style, as input for a phasing program. Needs numpy (python3-numpy), bgzip and bcftools.
"""
import argparse
import os
import subprocess

import numpy as np

# (founders, switch, mutation, share of rare-variant markers)
EASY = (8, 0.02, 0.002, 0.0)
VARIED = (48, 0.03, 0.0045, 0.1)
FIRST, STEP = 1_000_000, 1_000
# Random draws (doubles) made at a time: 128 MB.
BLOCK = 16_000_000


def haplotypes(rng, n, m, n_founders, switch, mutation, rare):
    """The alleles (n x m, uint8) and each haplotype's founder at the middle
    marker. The draws are made in blocks of haplotypes, in the order and
    number of one draw over the whole matrix (so the output of a seed does not
    depend on the block size), and the switches are kept as bits: at 200,000
    haplotypes x 6,000 markers the matrix of doubles alone would be 10 GB."""
    founders = (rng.random((n_founders, m)) < rng.uniform(0.1, 0.5, m)).astype(np.uint8)
    blocks = [(start, min(start + BLOCK // m + 1, n)) for start in range(0, n, BLOCK // m + 1)]
    switches = np.empty((n, (m + 7) // 8), dtype=np.uint8)
    last = 0
    for a, b in blocks:
        drawn = rng.random((b - a, m)) < switch
        drawn[:, 0] = True
        last = max(last, int(drawn.sum(axis=1).max()) - 1)
        switches[a:b] = np.packbits(drawn, axis=1)
    # One founder per segment: the segments of the longest mosaic, for every haplotype.
    choice = rng.integers(0, n_founders, size=(n, last + 1))
    alleles = np.empty((n, m), dtype=np.uint8)
    middle = np.empty(n, dtype=np.int64)
    for a, b in blocks:
        segment = np.cumsum(np.unpackbits(switches[a:b], axis=1, count=m), axis=1, dtype=np.int32) - 1
        founder = np.take_along_axis(choice[a:b], segment, axis=1)
        middle[a:b] = founder[:, m // 2]
        alleles[a:b] = founders[founder, np.arange(m)]
        alleles[a:b] ^= (rng.random((b - a, m)) < mutation).astype(np.uint8)
    del switches, choice
    if rare > 0:
        # Rare variants follow no founder: each carrier is one more distinct pattern.
        chosen = rng.random(m) < rare
        chosen[m // 2] = False
        frequency = rng.uniform(0.0005, 0.01, m)[chosen]
        columns = np.flatnonzero(chosen)
        step = BLOCK // max(len(columns), 1) + 1
        for a in range(0, n, step):
            b = min(a + step, n)
            alleles[a:b, columns] = (rng.random((b - a, len(columns))) < frequency).astype(np.uint8)
    return alleles, middle


def write_vcf(path, alleles, names, unphased):
    """Piped through bgzip (two threads: it is the slower end of the pipe;
    the blocks come out the same): the text (2.5 GB at 200,000 haplotypes x
    6,000 markers) never reaches the disk. Each line's genotypes are 4-byte
    cells ("0|1<tab>") looked up for a block of markers at once."""
    separator = "/" if unphased else "|"
    cells = [f"0{separator}0", f"0{separator}1", f"1{separator}0", f"1{separator}1"]
    if unphased:
        cells[2] = cells[1]
    table = np.frombuffer("".join(c + "\t" for c in cells).encode(), dtype=np.uint8).reshape(4, 4)
    n, m = alleles.shape
    with open(path, "wb") as out:
        bgzip = subprocess.Popen(["bgzip", "-@", "2", "-c"], stdin=subprocess.PIPE, stdout=out)
        f = bgzip.stdin
        f.write(b"##fileformat=VCFv4.2\n##contig=<ID=1,length=10000000>\n")
        f.write(b'##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write(("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t"
                 + "\t".join(names) + "\n").encode())
        width = max(1, BLOCK // n)
        for k0 in range(0, m, width):
            block = np.ascontiguousarray(alleles[:, k0:k0 + width].T)
            text = table[block[:, 0::2] * 2 + block[:, 1::2]]
            text[:, -1, 3] = ord("\n")
            for j in range(block.shape[0]):
                k = k0 + j
                f.write(f"1\t{FIRST + k * STEP}\tm{k + 1}\tA\tG\t.\tPASS\t.\tGT\t".encode())
                f.write(text[j].tobytes())
        f.close()
        if bgzip.wait() != 0:
            raise SystemExit(f"make_region_vcf.py: error: {path}: bgzip failed")


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
    alleles, middle = haplotypes(rng, n, m, n_founders, switch, mutation, rare)

    samples = n // 2
    risk = (middle == 0).reshape(samples, 2).sum(axis=1)
    liability = 1.5 * risk + rng.normal(size=samples)
    cases = set(np.argsort(-liability)[: samples // 2].tolist())

    os.makedirs(args.outdir, exist_ok=True)
    names = [f"H{i + 1}" for i in range(samples)]
    vcf = os.path.join(args.outdir, "region.vcf.gz")
    write_vcf(vcf, alleles, names, args.unphased)
    subprocess.run(["bcftools", "index", "-f", vcf], check=True)
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
