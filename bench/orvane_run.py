"""One orvane run of a benchmark study and what it says about the region.

Every benchmark that needs a run's peaks and permutation p-values reads them
here: from the run record (`DATAFILE-results.jsonl`, one JSON line per run)
when the build writes one, else from the summary line of the result file,
which carries the cluster score's and (trait mode) T's and Z's peaks and
p-values, and the single-marker chi-square's peak without a permutation p.
Both readings give the record's shape: {"statistics": {name: {"peak",
"value", "minus_log10_p", "permutation_p"}}, "omnibus_p", "scheme", "mode"}.
"""
import json
import os
import subprocess
import tempfile

# The mode's statistics in the record's names and order.
STATISTICS = {"s": ("cluster", "chisq"), "q": ("cluster", "T", "Z")}
# Summary line: the fields of the peak, the value, its nominal -log10 p and its
# permutation p (None: the summary has none).
SUMMARY_FIELDS = {
    "s": {"cluster": (0, 1, 2, 3), "chisq": (4, 5, 6, None)},
    "q": {"cluster": (0, 1, 2, 3), "T": (4, 5, 6, 7), "Z": (8, 9, 10, 11)},
}


def read_summary(line, mode):
    """The statistics of a result file's summary line (the block's last line)."""
    fields = line.rstrip("\n").split("\t")
    out = {}
    for name, (peak, value, minus_log10_p, p) in SUMMARY_FIELDS[mode].items():
        out[name] = {"peak": int(fields[peak]), "value": float(fields[value]),
                     "minus_log10_p": float(fields[minus_log10_p]),
                     "permutation_p": float(fields[p]) if p is not None else None}
    return out


def read_record(line):
    """A run record's statistics, omnibus p and scheme (p-values not computed: None)."""
    record = json.loads(line)
    statistics = {}
    for name, s in record["statistics"].items():
        statistics[name] = {key: s.get(key)
                            for key in ("peak", "value", "minus_log10_p", "permutation_p")}
    return {"statistics": statistics, "omnibus_p": record.get("omnibus_p"),
            "scheme": record.get("permutation", {}).get("scheme"), "mode": record.get("mode")}


def last_line(path):
    with open(path) as f:
        lines = f.read().splitlines()
    return lines[-1] if lines else ""


def command(orvane, mode, scheme=None):
    """The command of a run in the study's folder; scheme None leaves the
    build's default (the only one a build without schemes has)."""
    args = [orvane, "-" + mode, "data.txt", "params.txt", "dist.txt"]
    return args + (["--permutation=" + scheme] if scheme else [])


def run(orvane, workdir, mode, scheme=None, threads=1):
    """Runs orvane on WORKDIR/data.txt, params.txt, dist.txt (a fresh result
    file and record) and returns the run as read by read_record or, without a
    record, read_summary (scheme None: the build's default, chained before
    schemes existed). Adds "summary": the summary's statistics, for checks,
    and "record": whether the run wrote a record."""
    data = os.path.join(workdir, "data.txt")
    for path in (data + "-results", data + "-results.jsonl"):
        if os.path.exists(path):
            os.remove(path)
    subprocess.run(command(orvane, mode, scheme), cwd=workdir, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, ORVANE_THREADS=str(threads)))
    summary = read_summary(last_line(data + "-results"), mode)
    if os.path.exists(data + "-results.jsonl"):
        out = read_record(last_line(data + "-results.jsonl"))
        out["record"] = True
    else:
        out = {"statistics": summary, "omnibus_p": None, "scheme": scheme or "chained",
               "mode": mode, "record": False}
    out["summary"] = summary
    return out


def permutation_ps(result):
    """{statistic: permutation p} of a run, the omnibus p as "omnibus" (None:
    not computed)."""
    out = {name: s["permutation_p"] for name, s in result["statistics"].items()}
    out["omnibus"] = result["omnibus_p"]
    return out


def record_agrees(result):
    """Whether a run's record gives the summary's peaks, values and p-values."""
    for name, s in result["summary"].items():
        r = result["statistics"].get(name)
        if r is None or r["peak"] != s["peak"]:
            return False
        for key in ("value", "minus_log10_p", "permutation_p"):
            if s[key] is not None and (r[key] is None or abs(r[key] - s[key]) > 1e-5 * max(1.0, abs(s[key]))):
                return False
    return True


def has_schemes(orvane):
    """Whether the build takes --permutation: a build without it reads the
    option as a fifth argument and names it in a warning."""
    import generate
    orvane = os.path.abspath(orvane)
    with tempfile.TemporaryDirectory() as workdir:
        chosen = [("a" if i % 2 else "c", [1 + (i * 7 + k) % 3 // 2 for k in range(6)])
                  for i in range(20)]
        generate.write_study(workdir, "s", chosen, [0.01] * 5, 3, 0.3, 1, 0)
        done = subprocess.run(command(orvane, "s", "chained"), cwd=workdir,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        return done.returncode == 0 and "--permutation" not in done.stderr
