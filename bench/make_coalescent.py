#!/usr/bin/env python3
"""Makes the coalescent study sets: simulated studies with a known causal
variant, for power and localisation benchmarks on data that this project's
own generators did not make (bench/coalescent.py reads them).

Each study is one region of 300 kb in a population of 6,000 chromosomes,
simulated by Debian's scrm (apt-get install scrm): Ne 10,000, mutation
1.25e-8 and recombination 1e-8 per bp per generation, constant size.
- A causal SNP is drawn among the region's middle-third sites whose derived
  allele frequency in the population lies in the setting's range (0.1-0.3,
  or 0.005-0.03 for the rare setting). The chromosomes are paired at random
  into people.
- Case/control (cc_*): P(affected | g) = min(1, 0.15 x GRR^g), g the number of
  causal alleles carried; 300 cases and 300 controls are drawn (1,200
  haplotypes, cases first). Trait (qt_*): y = beta g + e, beta chosen so that
  g explains h2 of the variance in the population, e standard normal; 600
  people are drawn.
- Typed markers: sites with minor allele frequency >= 0.05 in the sample, the
  causal SNP removed (untyped), thinned evenly to 100. Allele 1 = derived,
  2 = ancestral. Distances at 1 cM per Mb. Haplotypes 2i-1 and 2i belong to
  person i.
A seed's population (scrm's seed 100 x SEED + 1), pairing and causal SNP are
shared by every setting with the same causal frequency range, so settings
can be compared pairwise. Seeded: the same command gives the same files.

Files of a study (OUTDIR/SETTING/seedN/): data.txt, dist.txt, params.txt
(epsilon mode 2 fraction 0.3, minPtsQuantile 0.5, window 21, distance type 1
with a decay of about e^-1 at the window's edge, permutations 0), args (a run's
arguments in the folder), markers.tsv (index, position in bp, cM, minor allele
frequency in the sample) and truth.json (the causal SNP's position and
frequencies, the typed markers around it, scrm's command line).

usage: make_coalescent.py OUTDIR [--seeds FIRST LAST] [--settings NAME ...]
           [--jobs J] [--population N] [--people N] [--markers M]
Full sets (seeds 1001-1030, six settings): about 106 s of processor time.
"""
import argparse
import bisect
import json
import math
import os
import random
import subprocess
import sys
from multiprocessing import Pool

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402

LENGTH_BP = 300000
NE = 10000
MUTATION, RECOMBINATION = 1.25e-8, 1e-8
COMMON, RARE = (0.1, 0.3), (0.005, 0.03)
# setting: (mode, causal frequency range, GRR or h2)
SETTINGS = {"cc_null": ("cc", COMMON, 1.0), "cc_common_grr1.5": ("cc", COMMON, 1.5),
            "cc_common_grr2": ("cc", COMMON, 2.0), "cc_rare_grr6": ("cc", RARE, 6.0),
            "qt_null": ("qt", COMMON, 0.0), "qt_common_h2_0.03": ("qt", COMMON, 0.03)}
BASE_RISK = 0.15
MIN_MAF = 0.05


def scrm_command(chromosomes, seed):
    """scrm's arguments: theta = 4 Ne mu L, rho = 4 Ne r L, absolute positions."""
    theta = 4 * NE * MUTATION * LENGTH_BP
    rho = 4 * NE * RECOMBINATION * LENGTH_BP
    return ["scrm", str(chromosomes), "1", "-t", "%g" % theta, "-r", "%g" % rho,
            str(LENGTH_BP), "-SC", "abs", "-p", "12", "-seed", str(100 * seed + 1)]


def parse_ms(text):
    """positions (bp) and haplotypes (strings of 0/1, one per chromosome) of
    ms-format output with one replicate."""
    lines = text.split("//", 1)[1].splitlines()
    positions = [float(x) for x in next(l for l in lines if l.startswith("positions:")).split()[1:]]
    start = next(k for k, l in enumerate(lines) if l.startswith("positions:")) + 1
    haplotypes = [l.strip() for l in lines[start:] if l.strip()]
    return positions, haplotypes


def simulate(chromosomes, seed):
    command = scrm_command(chromosomes, seed)
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    positions, haplotypes = parse_ms(out)
    return " ".join(command), positions, haplotypes


def draw_causal(rng, positions, haplotypes, low, high):
    """A middle-third site with a derived frequency in [low, high]."""
    n = len(haplotypes)
    fits = []
    for site, pos in enumerate(positions):
        if LENGTH_BP / 3 <= pos < 2 * LENGTH_BP / 3:
            freq = sum(h[site] == "1" for h in haplotypes) / n
            if low <= freq <= high:
                fits.append((site, freq))
    if not fits:
        raise RuntimeError("no middle-third site with a derived frequency in [%g, %g]" % (low, high))
    return rng.choice(fits)


def sample_people(rng, kind, effect, people, wanted):
    """(label, person) pairs; people are (g, haplotype index a, index b)."""
    if kind == "cc":
        cases, controls = [], []
        for person in people:
            affected = rng.random() < min(1.0, BASE_RISK * effect ** person[0])
            (cases if affected else controls).append(person)
        half = wanted // 2
        if len(cases) < half or len(controls) < wanted - half:
            raise RuntimeError("too few cases (%d) or controls (%d)" % (len(cases), len(controls)))
        return ([("a", p) for p in rng.sample(cases, half)] +
                [("u", p) for p in rng.sample(controls, wanted - half)]), None
    g = [p[0] for p in people]
    mean = sum(g) / len(g)
    variance = sum((x - mean) ** 2 for x in g) / len(g)
    beta = math.sqrt(effect / ((1 - effect) * variance)) if effect > 0 and variance > 0 else 0.0
    chosen = rng.sample(people, wanted)
    return [("%g" % (beta * p[0] + rng.gauss(0.0, 1.0)), p) for p in chosen], beta


def typed_markers(haplotypes, causal, n_markers):
    """Sites with sample MAF >= 0.05 except the causal one, thinned evenly."""
    n = len(haplotypes)
    candidates = []
    for site in range(len(haplotypes[0])):
        if site == causal:
            continue
        freq = sum(h[site] == "1" for h in haplotypes) / n
        if min(freq, 1 - freq) >= MIN_MAF:
            candidates.append((site, min(freq, 1 - freq)))
    if len(candidates) < n_markers:
        raise RuntimeError("only %d sites with MAF >= %g" % (len(candidates), MIN_MAF))
    step = (len(candidates) - 1) / (n_markers - 1)
    return [candidates[round(k * step)] for k in range(n_markers)]


def write_study(folder, setting, seed, command, positions, haplotypes, causal, pop_freq,
                labelled, beta, n_markers):
    kind, _, effect = SETTINGS[setting]
    mode = "s" if kind == "cc" else "q"
    sample = [haplotypes[i] for _, p in labelled for i in p[1:]]
    labels = [label for label, _ in labelled for _ in (0, 1)]
    typed = typed_markers(sample, causal, n_markers)
    sites = [site for site, _ in typed]
    pos = [positions[s] for s in sites]
    cm = [(p - pos[0]) * 1e-6 for p in pos]  # 1 cM per Mb
    gaps = [b - a for a, b in zip(cm, cm[1:])]
    os.makedirs(folder, exist_ok=True)
    chosen = [(label, [1 if h[s] == "1" else 2 for s in sites]) for label, h in zip(labels, sample)]
    generate.write_data(folder, mode, chosen, n_markers)
    with open(os.path.join(folder, "dist.txt"), "w") as out:
        out.write(" ".join("%g" % g for g in gaps) + "\n")
    generate.write_params(folder, gaps, 21, 0.3, 1, 0, report_threshold="1000")
    with open(os.path.join(folder, "args"), "w") as out:
        out.write("-%s data.txt params.txt dist.txt\n" % mode)
    with open(os.path.join(folder, "markers.tsv"), "w") as out:
        out.write("marker\tpos_bp\tcm\tsample_maf\n")
        for k, ((_, maf), p, c) in enumerate(zip(typed, pos, cm)):
            out.write("%d\t%.3f\t%g\t%.4f\n" % (k, p, c, maf))
    right = bisect.bisect_left(pos, positions[causal])
    left = right - 1
    truth = {"seed": seed, "mode": kind, "grr": effect if kind == "cc" else None,
             "h2": effect if kind == "qt" else None, "beta": beta, "scrm": command,
             "causal_pos_bp": positions[causal], "causal_pop_freq": pop_freq,
             "causal_sample_freq": sum(h[causal] == "1" for h in sample) / len(sample),
             "left_marker": left if left >= 0 else None,
             "right_marker": right if right < n_markers else None,
             "left_pos_bp": pos[left] if left >= 0 else None,
             "right_pos_bp": pos[right] if right < n_markers else None,
             "n_markers": n_markers, "n_haplotypes": len(sample), "segsites": len(positions),
             "length_bp": LENGTH_BP, "cm_per_mb": 1.0}
    with open(os.path.join(folder, "truth.json"), "w") as out:
        json.dump(truth, out, indent=1)


def make_seed(job):
    """Every requested setting of one seed: one simulation, one pairing and
    one causal SNP per frequency range."""
    seed, settings, outdir, population, people, n_markers = job
    command, positions, haplotypes = simulate(population, seed)
    pairing = list(range(population))
    random.Random("pairs-%d" % seed).shuffle(pairing)
    causal_of = {}
    for setting in settings:
        kind, freq_range, effect = SETTINGS[setting]
        if freq_range not in causal_of:
            rng = random.Random("causal-%d-%g-%g" % (seed, *freq_range))
            causal_of[freq_range] = draw_causal(rng, positions, haplotypes, *freq_range)
        causal, pop_freq = causal_of[freq_range]
        persons = [(sum(haplotypes[i][causal] == "1" for i in pairing[k:k + 2]),
                    pairing[k], pairing[k + 1]) for k in range(0, population - 1, 2)]
        rng = random.Random("%s-%d" % (setting, seed))
        labelled, beta = sample_people(rng, kind, effect, persons, people)
        write_study(os.path.join(outdir, setting, "seed%d" % seed), setting, seed, command,
                    positions, haplotypes, causal, pop_freq, labelled, beta, n_markers)
    return seed


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("outdir")
    ap.add_argument("--seeds", type=int, nargs=2, default=(1001, 1030), metavar=("FIRST", "LAST"))
    ap.add_argument("--settings", nargs="+", choices=sorted(SETTINGS), default=list(SETTINGS))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--population", type=int, default=6000, help="chromosomes simulated")
    ap.add_argument("--people", type=int, default=600, help="people drawn per study")
    ap.add_argument("--markers", type=int, default=100, help="typed markers per study")
    args = ap.parse_args(argv)
    jobs = [(seed, args.settings, args.outdir, args.population, args.people, args.markers)
            for seed in range(args.seeds[0], args.seeds[1] + 1)]
    with Pool(args.jobs) as pool:
        for seed in pool.imap(make_seed, jobs):
            print("seed %d done" % seed, file=sys.stderr)


if __name__ == "__main__":
    main()
