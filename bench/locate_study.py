"""Simulated localisation studies shared by the calibration and guidance scripts.

One founder population per (seed, density) serves every mode and effect size of
that seed (the phenotypes are drawn afresh for each), so a setting's studies are
independent of each other while settings are compared on the same haplotypes.
The causal marker is untyped: it is left out of the files, and the truth is the
pair of typed markers around it.
"""
import os
import random
import shutil
import subprocess

import generate

HAPLOTYPES = 600
MARKERS = 80
# Effect sizes from barely detectable to strong: case risk of carriers against
# others (0.35), and the trait mean shift of carriers in standard deviations.
EFFECTS = {"s": [(0.43, 0.35), (0.5, 0.35), (0.7, 0.35)], "q": [0.25, 0.4, 0.7]}
EFFECT_NAMES = ["weak", "moderate", "strong"]
# Map gaps times 1 (0.005 to 0.03 cM, dense) or times 4 (sparse).
DENSITIES = {"dense": 1.0, "sparse": 4.0}


def population(seed, density, founders=6, generations=60, markers=MARKERS):
    """The map, the causal marker and the pool of haplotypes of one seed: markers
    typed ones and the causal one, which write_untyped leaves out."""
    rng = random.Random(seed * 7919 + int(DENSITIES[density] * 100))
    m = markers + 1
    gap_cm = [round(rng.uniform(0.005, 0.03) * DENSITIES[density], 6) for _ in range(m - 1)]
    pool = generate.founders_population(rng, m, n_founders=founders, generations=generations,
                                        pop_size=400, gap_cm=gap_cm)
    pool = [list(rng.choice(pool)) for _ in range(4 * HAPLOTYPES)]
    causal = generate.polymorphic_causal(rng, pool, m)
    return gap_cm, causal, pool


def phenotypes(seed, mode, effect_index, pool, causal):
    """(label, haplotype) pairs of one study."""
    rng = random.Random(seed * 1009 + (0 if mode == "s" else 500) + effect_index)
    return generate.phenotype_pairs(rng, mode, EFFECTS[mode][effect_index], pool, causal,
                                    HAPLOTYPES)


def write_untyped(outdir, chosen, gap_cm, causal, mode, window=21, fraction=0.3, distance_type=1,
                  permutations=0):
    """Writes the study without the causal marker; returns (left, right, causal_cm)."""
    chosen = [(label, h[:causal] + h[causal + 1:]) for label, h in chosen]
    merged = gap_cm[:causal - 1] + [round(gap_cm[causal - 1] + gap_cm[causal], 6)] + gap_cm[causal + 1:]
    os.makedirs(outdir, exist_ok=True)
    generate.write_study(outdir, mode, chosen, merged, window, fraction, distance_type,
                         permutations)
    return causal - 1, causal, sum(merged[:causal - 1]) + gap_cm[causal - 1]


def write_params(outdir, gap_cm, window, fraction, distance_type):
    """params.txt only, for another setting of the same study (no permutations)."""
    generate.write_params(outdir, gap_cm, window, fraction, distance_type, 0, report_threshold="1000")


def orvane_scores(orvane, outdir, mode):
    """Per marker: cm and the result file's statistics (cluster, and chisq or T, Z)."""
    result = os.path.join(outdir, "data.txt-results")
    if os.path.exists(result):
        os.remove(result)
    subprocess.run([orvane, "-" + mode, "data.txt", "params.txt", "dist.txt"], cwd=outdir,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cm, cluster, chisq, t, z = [], [], [], [], []
    with open(result) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) != len(header) or not fields[1].isdigit():
                break
            cm.append(float(fields[0]) * 100.0)
            cluster.append(float(fields[2]))
            if mode == "s":
                chisq.append(float(fields[4]))
            else:
                t.append(float(fields[4]))
                z.append(float(fields[8]))
    if mode == "s":
        return cm, {"cluster": cluster, "chisq": chisq}
    return cm, {"cluster": cluster, "T": t, "Z": z}


def locate_rows(locate, outdir, mode, extra=(), threads=1):
    """orvane-locate's interval rows: {(statistic, construction): (first, last)},
    None for a row of NA (no interval: the statistic has no value anywhere)."""
    env = dict(os.environ, ORVANE_THREADS=str(threads))
    subprocess.run([locate, "-" + mode, "data.txt", "params.txt", "dist.txt"] + list(extra),
                   cwd=outdir, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env)
    rows = {}
    with open(os.path.join(outdir, "data.txt.interval.tsv")) as f:
        f.readline()
        for line in f:
            s, c, _, first, last = line.split("\t")[:5]
            rows["%s/%s" % (s, c)] = None if "NA" in (first, last) else (int(first), int(last))
    return rows


def evidence(name, values):
    """As orvane-locate ranks markers: signed square of the cluster score (0 for
    a trait window without any cluster), the chi-square, the square of T or Z;
    not a number is no evidence."""
    out = []
    for v in values:
        if v != v:
            out.append(float("-inf"))
        elif name == "cluster" and v == -1e7:
            out.append(0.0)
        elif name == "cluster":
            out.append(v * abs(v))
        elif name == "chisq":
            out.append(v)
        else:
            out.append(v * v)
    return out


def peak(ev):
    best, at = float("-inf"), 0
    for k, e in enumerate(ev):
        if e >= best and e > float("-inf"):
            best, at = e, k
    return at


def remove(outdir):
    shutil.rmtree(outdir, ignore_errors=True)
