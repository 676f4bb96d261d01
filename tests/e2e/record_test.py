#!/usr/bin/env python3
"""The run record: every run appends exactly one line of strict JSON whose
numbers are the result file's summary line.

Runs orvane on golden cases of both modes, with both permutation schemes and
without permutations, twice into the same record, and checks the line count,
the fields, and each statistic's peak, value, -log10 p and permutation p
against the summary line's text (null where the result file says nan; a
finite -log10 p past 300 where it says inf;
a p-value the result file has no column for is checked for its range).

usage: record_test.py ORVANE GOLDEN_CASES_DIR WORK_DIR
"""
import json
import math
import os
import shutil
import subprocess
import sys

orvane, cases, work = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def strict(text):
    def refuse(constant):
        raise ValueError("not JSON: " + constant)
    return json.loads(text, parse_constant=refuse)


def same(recorded, written):
    if recorded is None:
        return not math.isfinite(float(written))
    return float(written) == recorded


def same_minus_log10_p(recorded, written):
    """The record's -log10 p is the result file's, but finite where the result
    file's tail underflowed to inf: there it is at least 300 (p below 1e-300)."""
    if float(written) == math.inf:
        return recorded is not None and math.isfinite(recorded) and recorded >= 300
    return same(recorded, written)


def summary_fields(results):
    with open(results) as f:
        return f.read().splitlines()[-1].rstrip("\t").split("\t")


FIELDS = {"s": [("cluster", 0), ("chisq", 4)], "q": [("cluster", 0), ("T", 4), ("Z", 8)]}
runs = 0
for name in ("medium001", "medium024", "small005", "small050", "small100"):
    source = os.path.join(cases, name)
    with open(os.path.join(source, "args")) as f:
        args = f.read().split()
    for scheme in ("joint", "chained"):
        here = os.path.join(work, name + "-" + scheme)
        shutil.rmtree(here, ignore_errors=True)
        shutil.copytree(source, here, ignore=shutil.ignore_patterns("expected*", "args"))
        record_path = os.path.join(here, args[1] + "-results.jsonl")
        for attempt in (1, 2):
            run = subprocess.run([orvane, "--permutation", scheme] + args, cwd=here, capture_output=True)
            if run.returncode != 0:
                check(not os.path.exists(record_path), "%s: a failed run wrote no record" % name)
                break
            runs += 1
            with open(record_path) as f:
                lines = f.read().splitlines()
            check(len(lines) == attempt, "%s %s: %d lines after %d runs" % (name, scheme, len(lines), attempt))
            record = strict(lines[-1])
            mode = args[0][1]
            check(record["mode"] == mode and record["command"] == ["orvane", "--permutation", scheme] + args,
                  "%s: mode and command" % name)
            check(record["permutation"]["scheme"] == scheme, "%s: scheme" % name)
            count = record["permutation"]["count"]
            check(record["permutation"]["replicates"] == max(count, 0), "%s %s: replicates drawn" % (name, scheme))
            fields = summary_fields(os.path.join(here, args[1] + "-results"))
            check(sorted(record["statistics"]) == sorted(n for n, _ in FIELDS[mode]), "%s: statistics" % name)
            for statistic, at in FIELDS[mode]:
                got = record["statistics"][statistic]
                check(same(got["peak"], fields[at]) and same(got["value"], fields[at + 1]) and
                      same_minus_log10_p(got["minus_log10_p"], fields[at + 2]),
                      "%s %s %s: %r against %r" % (name, scheme, statistic, got, fields[at:at + 4]))
                has_column = mode == "q" or statistic == "cluster"
                p = got["permutation_p"]
                if count <= 0 or (scheme == "chained" and not has_column):
                    check(p is None, "%s %s %s: p not computed is null" % (name, scheme, statistic))
                elif has_column:
                    check(same(p, fields[at + 3]), "%s %s %s: permutation p" % (name, scheme, statistic))
                else:
                    check(1 / (count + 1) - 1e-6 <= p <= 1, "%s %s %s: p %r" % (name, scheme, statistic, p))
            omnibus = record["omnibus_p"]
            if scheme == "joint" and count > 0:
                check(omnibus is not None and 1 / (count + 1) - 1e-6 <= omnibus <= 1, "%s: omnibus %r" % (name, omnibus))
            else:
                check(omnibus is None, "%s %s: omnibus null" % (name, scheme))

check(runs >= 12, "only %d runs completed" % runs)
print("record: %d runs, %d failed checks" % (runs, len(failures)))
sys.exit(1 if failures else 0)
