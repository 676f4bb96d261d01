#!/usr/bin/env python3
"""Writes the golden corpus: generated runs whose outputs are frozen.

usage: make_corpus.py CASES_DIR

Each case is a folder in the end-to-end layout (input files, `args`); its
expected/ folder is made by running a trusted build over it with
tests/e2e/run_case.sh --update (see tests/golden/README.md). Small cases come
from the random case builder of the reference comparison (both modes, every
distance type and LD variant, both radius modes, missing alleles, multi-allelic
and negative codes, small permutation counts, input errors, fatal stops);
medium cases are grown from founder haplotypes with recombination, so that
windows hold few patterns with realistic sharing.
"""
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'reference'))
import compare  # noqa: E402

SMALL_CASES = 240
MEDIUM_CASES = 40


def write_case(folder, args, files):
    os.makedirs(folder, exist_ok=True)
    for name, text in files.items():
        with open(os.path.join(folder, name), 'w', newline='') as f:
            f.write(text)
    with open(os.path.join(folder, 'args'), 'w') as f:
        f.write(' '.join(args) + '\n')


def medium_case(rng):
    """Haplotypes of a small founder population grown with recombination."""
    trait = rng.random() < 0.5
    n, m = rng.randint(40, 220), rng.randint(15, 60)
    codes = rng.choice([[1, 2], [1, 2], [1, 2, 3, 4]])
    founders = [[rng.choice(codes) for _ in range(m)] for _ in range(rng.randint(3, 8))]
    population = [list(rng.choice(founders)) for _ in range(200)]
    for _ in range(rng.randint(5, 30)):
        nxt = []
        for _ in range(200):
            a, b = rng.choice(population), rng.choice(population)
            cut = rng.randrange(m)
            child = a[:cut] + b[cut:]
            if rng.random() < 0.05:
                k = rng.randrange(m)
                child[k] = rng.choice(codes)
            nxt.append(child)
        population = nxt
    causal = rng.randrange(m)
    missing = rng.choice([0.0, 0.0, 0.01, 0.05])
    lines = ['id\t%s' % ('trait' if trait else 'status')]
    for i in range(n):
        h = rng.choice(population)
        if trait:
            label = '%.3f' % rng.gauss(1.0 if h[causal] == 1 else 0.0, 1.0)
        else:
            label = 'a' if rng.random() < (0.75 if h[causal] == 1 else 0.3) else 'c'
        alleles = [0 if rng.random() < missing else a for a in h]
        lines.append('%d\t%s\t%s' % (i + 1, label, '\t'.join(map(str, alleles))))
    dtype = rng.choice([0, 1, 1, 2, 3, 4, 5, 6])
    params = {
        0: 'distanceType 0',
        1: 'distanceType 1 %.4g 1' % rng.uniform(-300, -20),
        2: 'distanceType 2 %.4g 1' % rng.uniform(-80, -5),
        3: 'distanceType 3 %d' % rng.choice([1, 2, 3]),
        4: 'distanceType 4 %.4g 1 %.4g 0.5' % (rng.uniform(-300, -20), rng.uniform(-300, -20)),
        5: 'distanceType 5 %.4g 1 %.4g 0.5' % (rng.uniform(-80, -5), rng.uniform(-80, -5)),
        6: 'distanceType 6 1 %.3g' % rng.uniform(0, 2),
    }[dtype]
    if rng.random() < 0.5:
        epsilon = 'epsilon 2 %.3g' % rng.choice([0.1, 0.2, 0.3, 0.5])
    else:
        epsilon = 'epsilon 1 %.3g' % rng.choice([0.1, 0.2, 0.3])
    text = '%s\nminPtsQuantile %.3g\nwindowSize %d\n%s\npermutations %d\nreportThreshold %s\n' % (
        epsilon, rng.choice([0.0, 0.25, 0.5, 0.8]), rng.choice([3, 5, 7, 11, 21]), params,
        rng.choice([0, 3, 10, 25]), rng.choice(['2.0', '3', '4']))
    gaps = ' '.join('%.4g' % rng.uniform(0.005, 0.05) for _ in range(m - 1))
    files = {'data.txt': '\n'.join(lines) + '\n', 'params.txt': text, 'dist.txt': gaps + '\n'}
    return ['-q' if trait else '-s', 'data.txt', 'params.txt', 'dist.txt'], files


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for k in range(SMALL_CASES):
        args, files = compare.make_case(random.Random('golden-small/%d' % k))
        write_case(os.path.join(out, 'small%03d' % k), args, files)
    for k in range(MEDIUM_CASES):
        args, files = medium_case(random.Random('golden-medium/%d' % k))
        write_case(os.path.join(out, 'medium%03d' % k), args, files)


if __name__ == '__main__':
    main()
