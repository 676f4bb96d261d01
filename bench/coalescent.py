"""The coalescent study sets that bench/make_coalescent.py makes with scrm
(see its description), by default in build/coalescent.

Each setting (`cc_*` case/control, `qt_*` trait) holds studies `seedN/` with
the tool's data, distance and parameter files, the typed markers' positions
and the truth (the untyped causal SNP and the typed markers around it).
"""
import json
import os
import re
import shutil
import sys

import generate

DEFAULT_ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build",
                            "coalescent")


def ensure_sets(root, jobs):
    """The sets' folder, made first (seeded, a few minutes) when it does not
    exist; None when it cannot be made (scrm not installed)."""
    if os.path.isdir(root):
        return root
    if shutil.which("scrm") is None:
        return None
    import make_coalescent
    print("making the coalescent study sets in %s (python3 bench/make_coalescent.py %s)"
          % (root, root), file=sys.stderr)
    make_coalescent.main([root, "--jobs", str(jobs)])
    return root


def mode_of(setting):
    return "s" if setting.startswith("cc_") else "q"


def settings(root):
    """The settings of the sets, case/control first, null settings first."""
    names = [d for d in os.listdir(root) if os.path.isdir(os.path.join(root, d))
             and (d.startswith("cc_") or d.startswith("qt_"))]
    return sorted(names, key=lambda d: (mode_of(d) != "s", not d.endswith("_null"), d))


def seeds(root, setting):
    return sorted(d for d in os.listdir(os.path.join(root, setting)) if d.startswith("seed"))


def read_study(root, setting, seed):
    """{labels, haplotypes (allele tokens), dist (the file's line), params
    (the file's text), truth, pos_bp, cm} of one study."""
    folder = os.path.join(root, setting, seed)
    labels, haplotypes = [], []
    with open(os.path.join(folder, "data.txt")) as f:
        f.readline()
        for line in f:
            fields = line.split()
            if not fields:
                break
            labels.append(fields[1])
            haplotypes.append(fields[2:])
    with open(os.path.join(folder, "dist.txt")) as f:
        dist = f.readline().strip()
    with open(os.path.join(folder, "params.txt")) as f:
        params = f.read()
    with open(os.path.join(folder, "truth.json")) as f:
        truth = json.load(f)
    pos_bp, cm = [], []
    with open(os.path.join(folder, "markers.tsv")) as f:
        f.readline()
        for line in f:
            fields = line.split("\t")
            pos_bp.append(float(fields[1]))
            cm.append(float(fields[2]))
    return {"setting": setting, "seed": seed, "mode": mode_of(setting), "labels": labels,
            "haplotypes": haplotypes, "dist": dist, "params": params, "truth": truth,
            "pos_bp": pos_bp, "cm": cm}


def with_permutations(params, permutations):
    """The parameter file's text with its permutation count replaced."""
    return re.sub(r"(?m)^permutations\s+\S+", "permutations %d" % permutations, params)


def write(study, outdir, chosen, permutations):
    """The study's distance and parameter files (with this permutation count)
    and a data file of (label, haplotype) pairs, e.g. a subset with shuffled labels."""
    os.makedirs(outdir, exist_ok=True)
    generate.write_data(outdir, study["mode"], chosen, len(study["haplotypes"][0]))
    with open(os.path.join(outdir, "dist.txt"), "w") as out:
        out.write(study["dist"] + "\n")
    with open(os.path.join(outdir, "params.txt"), "w") as out:
        out.write(with_permutations(study["params"], permutations))


def add_study_options(parser, permutations, seed):
    """The options both study benchmarks share: permutations, processes, seed,
    the coalescent sets and the work folder."""
    parser.add_argument("--permutations", type=int, default=permutations)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=seed)
    parser.add_argument("--coalescent", default=DEFAULT_ROOT)
    parser.add_argument("--work", help="folder for the studies (default: a temporary one)")


def study_counts(args, quick, full):
    """The study counts of a run: --quick's or the full ones, each overridden
    by its own option when given."""
    counts = dict(quick if args.quick else full)
    for key in counts:
        if getattr(args, key) is not None:
            counts[key] = getattr(args, key)
    return counts
