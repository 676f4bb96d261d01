#!/usr/bin/python3
"""Seeded orvane input of one large region, written directly (no VCF), for
timing orvane-plot at biobank size.

usage: make_plot_region.py OUTDIR --haplotypes N [--markers M] [--seed S]

The haplotypes follow bench/make_region_vcf.py's model: mosaics of eight
founders (a switch between neighbouring markers with probability 0.02), rare
mutations, carriers of founder 0 at the middle marker more often cases. They
are written in blocks, as orvane-vcf writes them (tab-separated, REF = 2,
ALT = 1), so that a million haplotypes need little memory: OUTDIR/orvane.dat,
OUTDIR/orvane.dist (1 cM/Mb, one marker per kb) and OUTDIR/orvane.markers.tsv.
"""
import argparse
import os

import numpy as np

FOUNDERS = 8
SWITCH = 0.02
MUTATION = 0.002
FIRST, STEP = 1_000_000, 1_000
BLOCK = 20_000  # haplotypes generated and written at a time (even)


def haplotype_block(rng, founders, n):
    """n mosaic haplotypes (alleles 0/1) and the founder at the middle marker."""
    m = founders.shape[1]
    switches = rng.random((n, m)) < SWITCH
    switches[:, 0] = True
    segment = np.cumsum(switches, axis=1, dtype=np.int32) - 1
    choice = rng.integers(0, FOUNDERS, size=(n, int(segment.max()) + 1), dtype=np.int8)
    founder = np.take_along_axis(choice, segment, axis=1)
    alleles = founders[founder, np.arange(m)]
    alleles ^= (rng.random((n, m)) < MUTATION).astype(np.uint8)
    return alleles, founder[:, m // 2]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("outdir")
    ap.add_argument("--haplotypes", type=int, required=True)
    ap.add_argument("--markers", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = np.random.default_rng(args.seed)
    n, m = args.haplotypes - args.haplotypes % 2, args.markers
    founders = (rng.random((FOUNDERS, m)) < rng.uniform(0.1, 0.5, m)).astype(np.uint8)

    os.makedirs(args.outdir, exist_ok=True)
    names = [f"m{k + 1}" for k in range(m)]
    with open(os.path.join(args.outdir, "orvane.dat"), "wb") as f:
        f.write(("id\tstatus\t" + "\t".join(names) + "\n").encode())
        for start in range(0, n, BLOCK):
            rows = min(BLOCK, n - start)
            alleles, middle = haplotype_block(rng, founders, rows)
            # Two haplotypes per sample; a liability threshold near the median.
            risk = (middle == 0).reshape(rows // 2, 2).sum(axis=1)
            liability = 1.5 * risk + rng.normal(size=rows // 2)
            status = np.repeat(np.where(liability > 0.45, "a", "c"), 2)
            text = np.full((rows, 2 * m + 1), ord("\t"), dtype=np.uint8)
            text[:, 1::2] = ord("2") - alleles  # ALT (1) -> "1", REF (0) -> "2"
            text[:, -1] = ord("\n")
            f.write(b"".join(f"{start + i + 1}\t{status[i]}".encode() + text[i].tobytes()
                             for i in range(rows)))
    cm = [k * STEP / 1e6 for k in range(m)]
    with open(os.path.join(args.outdir, "orvane.dist"), "w") as f:
        f.write(" ".join(f"{b - a:.8g}" for a, b in zip(cm, cm[1:])) + "\n")
    with open(os.path.join(args.outdir, "orvane.markers.tsv"), "w") as f:
        f.write("index\tchrom\tpos\tid\tref\talt\tcm\n")
        for k in range(m):
            f.write(f"{k}\t1\t{FIRST + k * STEP}\t{names[k]}\tA\tG\t{FIRST / 1e6 + cm[k]:.10g}\n")


if __name__ == "__main__":
    main()
