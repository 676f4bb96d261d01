#!/usr/bin/python3
"""How the scan's time grows with the distinct haplotype patterns of a window.

usage: pattern_growth.py BUILD_DIR [WORK_DIR] [--haplotypes N] [--markers M]
                         [--founders F,F,...]

For each founder count, bench/make_region_vcf.py makes a seeded varied region
(N haplotypes, default 200,000, M markers, default 60), orvane-vcf converts
it, and orvane scans it with bench/region_params.txt (windows of 21 markers,
no permutations, no cluster report) on one thread. Prints per region the
median number of distinct 21-marker patterns over its windows, the
processor seconds per window (user + system, from /usr/bin/time) and the
exponent b of time ~ patterns^b between neighbouring rows. Needs numpy,
bgzip and bcftools.
"""
import argparse
import math
import os
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
WINDOW = 21


def distinct_patterns(dat_path, markers):
    """Median over the windows of the distinct patterns of WINDOW markers."""
    alleles = np.loadtxt(dat_path, skiprows=1, usecols=range(2, 2 + markers), dtype=np.int8)
    counts = []
    for start in range(0, markers - WINDOW + 1):
        window = np.ascontiguousarray(alleles[:, start:start + WINDOW])
        counts.append(len(np.unique(window.view(np.dtype((np.void, WINDOW))))))
    return int(np.median(counts))


def scan_seconds(orvane, folder):
    """Processor seconds of one scan of the converted region in folder."""
    subprocess.run(["/usr/bin/time", "-f", "%U %S", "-o", "time.txt", orvane, "--threads", "1",
                    "-s", "orvane.dat", "params.txt", "orvane.dist"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "time.txt")) as f:
        user, system = f.read().split()[-2:]
    return float(user) + float(system)


def prepare(build, folder, haplotypes, markers, founders):
    if os.path.exists(os.path.join(folder, "orvane.dat")):
        return
    subprocess.run([sys.executable, os.path.join(HERE, "make_region_vcf.py"), folder, "--haplotypes",
                    str(haplotypes), "--markers", str(markers), "--varied", "--founders", str(founders)],
                   check=True)
    last = 1_000_000 + (markers - 1) * 1_000
    subprocess.run([os.path.join(build, "orvane-vcf"), "--vcf", os.path.join(folder, "region.vcf.gz"),
                    "--pheno", os.path.join(folder, "pheno.txt"), "--map", os.path.join(folder, "map.txt"),
                    "--region", f"1:1000000-{last}", "--out", os.path.join(folder, "orvane")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(HERE, "region_params.txt")) as f:
        kept = [line for line in f if not line.startswith(("permutations", "reportThreshold"))]
    with open(os.path.join(folder, "params.txt"), "w") as f:
        f.writelines(kept + ["permutations 0\n", "reportThreshold 1e9\n"])


def exponents(rows):
    """The local exponent between each row and the one before (None for the first)."""
    out = [None]
    for (k0, s0), (k1, s1) in zip(rows, rows[1:]):
        out.append(math.log(s1 / s0) / math.log(k1 / k0) if k1 != k0 and s0 > 0 and s1 > 0 else None)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("work", nargs="?", default="/tmp/orvane-pattern-growth")
    ap.add_argument("--haplotypes", type=int, default=200_000)
    ap.add_argument("--markers", type=int, default=60)
    ap.add_argument("--founders", default="4,8,16,32,48,96")
    args = ap.parse_args()
    orvane = os.path.join(os.path.abspath(args.build), "orvane")
    rows = []
    for founders in [int(f) for f in args.founders.split(",")]:
        folder = os.path.join(args.work, f"f{founders}-h{args.haplotypes}-m{args.markers}")
        prepare(os.path.abspath(args.build), folder, args.haplotypes, args.markers, founders)
        patterns = distinct_patterns(os.path.join(folder, "orvane.dat"), args.markers)
        rows.append((patterns, scan_seconds(orvane, folder) / args.markers, founders))
    print("founders\tpatterns\tseconds_per_window\texponent")
    for (patterns, seconds, founders), b in zip(rows, exponents([(k, s) for k, s, _ in rows])):
        print(f"{founders}\t{patterns}\t{seconds:.4f}\t{'-' if b is None else f'{b:.2f}'}")


if __name__ == "__main__":
    main()
