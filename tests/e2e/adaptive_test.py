#!/usr/bin/env python3
"""Adaptive permutation (--permutation adaptive): the joint scheme's replicates,
stopped early by Besag and Clifford's rule.

- A strong study never stops early: with --max-permutations P its result file
  and cluster report are byte for byte those of the joint run with P
  permutations in the parameter file, and its record carries the same
  p-values, scheme "adaptive", count P and P replicates drawn.
- A null study stops early: fewer replicates than the bound, every
  statistic's p is hits / replicates with at least 10 hits and exactly 10 for
  the statistic that stopped it, the result file's p is the record's, and one
  or two threads give the same bytes.

Both modes; the studies are generated here from a fixed seed.

usage: adaptive_test.py ORVANE WORK_DIR
"""
import json
import os
import random
import shutil
import subprocess
import sys

HITS = 10
HAPLOTYPES, MARKERS, CAUSAL = 400, 15, 7
orvane, work = os.path.abspath(sys.argv[1]), sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def write_study(folder, mode, strong, permutations, seed):
    """Random alleles; the status (or trait) follows marker CAUSAL when strong."""
    os.makedirs(folder)
    rng = random.Random(seed)
    with open(os.path.join(folder, "data.txt"), "w") as f:
        f.write("header\n")
        for h in range(HAPLOTYPES):
            alleles = [rng.choice("12") for _ in range(MARKERS)]
            carrier = alleles[CAUSAL] == "1"
            if mode == "s":
                affected = (carrier if rng.random() < 0.9 else not carrier) if strong else rng.random() < 0.5
                label = "a" if affected else "u"
            else:
                label = "%.4f" % (rng.gauss(0, 1) + (1.5 if strong and carrier else 0))
            f.write("%d %s %s\n" % (h + 1, label, " ".join(alleles)))
    write_params(folder, permutations)


def write_params(folder, permutations):
    with open(os.path.join(folder, "params.txt"), "w") as f:
        f.write("epsilon 2 0.3\nminPtsQuantile 0.5\nwindowSize 5\ndistanceType 1 -254 1\n"
                "permutations %d\nreportThreshold 2.0\n" % permutations)


def run(folder, mode, options, threads=1):
    """Runs orvane afresh in folder; (result file bytes, output bytes, record)."""
    for name in ("data.txt-results", "data.txt-results.jsonl", "output"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    done = subprocess.run([orvane] + options + ["-" + mode, "data.txt", "params.txt"], cwd=folder,
                          capture_output=True, env=dict(os.environ, ORVANE_THREADS=str(threads)))
    check(done.returncode == 0, "%s %s: exit %d %s" % (folder, options, done.returncode, done.stderr))
    outputs = []
    for name in ("data.txt-results", "output"):
        with open(os.path.join(folder, name), "rb") as f:
            outputs.append(f.read())
    with open(os.path.join(folder, "data.txt-results.jsonl")) as f:
        record = json.loads(f.read().splitlines()[-1])
    return outputs[0], outputs[1], record


def ps(record):
    return {name: s["permutation_p"] for name, s in record["statistics"].items()}


for mode in ("s", "q"):
    # Strong: the adaptive run draws every replicate and is the joint run.
    strong = os.path.join(work, mode + "-strong")
    write_study(strong, mode, True, 300, 11)
    joint = run(strong, mode, ["--permutation", "joint"])
    write_params(strong, 50)
    for threads in (1, 2):
        adaptive = run(strong, mode, ["--permutation", "adaptive", "--max-permutations", "300"], threads)
        what = "%s strong, %d thread(s)" % (mode, threads)
        check(adaptive[0] == joint[0], what + ": result file differs from the joint run's")
        check(adaptive[1] == joint[1], what + ": cluster report differs from the joint run's")
        check(adaptive[2]["permutation"] == {"scheme": "adaptive", "count": 300, "replicates": 300},
              what + ": record %r" % adaptive[2]["permutation"])
        check(ps(adaptive[2]) == ps(joint[2]) and adaptive[2]["omnibus_p"] == joint[2]["omnibus_p"],
              what + ": p-values %r against %r" % (ps(adaptive[2]), ps(joint[2])))

    # Null: stops early, the same with one thread or two.
    null = os.path.join(work, mode + "-null")
    write_study(null, mode, False, 5000, 12)
    first = run(null, mode, ["--permutation", "adaptive"], 1)
    second = run(null, mode, ["--permutation", "adaptive"], 2)
    check(first[:2] == second[:2], mode + " null: one thread and two differ")
    record = first[2]
    drawn = record["permutation"]["replicates"]
    check(record["permutation"]["scheme"] == "adaptive" and record["permutation"]["count"] == 5000,
          mode + " null: record %r" % record["permutation"])
    check(HITS <= drawn < 5000, mode + " null: %d replicates drawn" % drawn)
    hits = {name: p * drawn for name, p in ps(record).items()}
    check(all(abs(h - round(h)) < 1e-3 * h and round(h) >= HITS for h in hits.values()),
          mode + " null: hits %r over %d replicates" % (hits, drawn))
    check(min(round(h) for h in hits.values()) == HITS, mode + " null: no statistic stopped at 10 hits: %r" % hits)
    omnibus = record["omnibus_p"] * (drawn + 1)
    check(abs(omnibus - round(omnibus)) < 1e-3 * omnibus, mode + " null: omnibus %r" % record["omnibus_p"])
    summary = first[0].decode().splitlines()[-1].split("\t")
    check(float(summary[3]) == record["statistics"]["cluster"]["permutation_p"],
          mode + " null: result file p %s, record %r" % (summary[3], record["statistics"]["cluster"]))

print("adaptive: %d failed checks" % len(failures))
sys.exit(1 if failures else 0)
