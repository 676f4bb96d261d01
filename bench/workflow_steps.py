#!/usr/bin/python3
"""Tables of a timed workflow run, for biobank_region.sh and slurm_chromosome.sh.

usage: workflow_steps.py local SNAKEMAKE_LOG TIMES
       workflow_steps.py slurm JOBS TIMES OUTDIR

TIMES is the programs' own record (bench_timed_bin in workflow_lib.sh: one
line per program run: name, wall seconds, peak resident KB, command). local:
each job's wall time from Snakemake's log (whole seconds), and the programs'
seconds and peak memory, per rule. slurm: JOBS holds each job as scontrol
showed it (one line a job); per rule the jobs' RunTime and peak memory, the
waits between a job's end and its successor's submission (Snakemake's status
checks) and between submission and start (the queue), and per tile its
markers and the replicates the permutation test drew (OUTDIR/summary.tsv).
"""
import datetime
import os
import re
import statistics
import sys

# Each rule's job in a region, and the rule whose end it waits for.
AFTER = {"trim": "extract", "convert": "trim", "analyse": "convert",
         "plot": "analyse", "sumstats": "analyse"}
ORDER = ["extract", "trim", "convert", "analyse", "plot", "sumstats", "study_sumstats",
         "summary", "versions", "report"]


def step_of(program, command):
    """The rule a program run belongs to, None for the workflow's own checks
    (orvane --check on the parameter file, --version)."""
    words = command.split()
    if "--version" in words or "--check" in words:
        return None
    if program == "plink2":
        return "extract" if "--export" in words else None
    if program == "bcftools":
        # The convert rule's allele check (allele_check.py) counts the alleles.
        if len(words) > 1 and (words[1] == "+fill-tags" or (words[1] == "query" and "-f" in words)):
            return "convert"
        if len(words) < 2 or words[1] not in ("view", "index") or "-s" in words or "-H" in words:
            return None
        target = words[-1]
        if "-o" in words:
            target = words[words.index("-o") + 1]
        name = os.path.basename(target)
        if name.startswith(("flank.", "phased.")):
            return "extract"
        return "trim" if name.startswith("region.") else None
    if program == "orvane-sumstats":
        return "study_sumstats" if "--merge" in words else "sumstats"
    return {"orvane-vcf": "convert", "orvane-plot": "plot"}.get(program) or (
        "analyse" if program == "orvane" and "orvane.dat" in words else None)


def read_times(path):
    """(rule, seconds, peak MB) of each program run that belongs to a rule."""
    runs = []
    with open(path) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t", 3)
            if len(fields) < 4 or not re.fullmatch(r"[\d.]+", fields[1]):
                continue  # a message of /usr/bin/time, such as a nonzero exit status
            rule = step_of(fields[0], fields[3])
            if rule:
                runs.append((rule, float(fields[1]), int(fields[2]) / 1024))
    return runs


def per_rule(runs):
    """rule -> (program seconds summed per job kind, largest peak MB)."""
    table = {}
    for rule, seconds, mb in runs:
        total, peak = table.get(rule, (0.0, 0.0))
        table[rule] = (total + seconds, max(peak, mb))
    return table


STAMP = re.compile(r"^\[(\w{3} \w{3} +\d+ \d\d:\d\d:\d\d \d{4})\]$")


def snakemake_jobs(text):
    """{jobid: [rule, wildcards, start, end]} from Snakemake 7's log (times in
    seconds since the epoch, whole seconds)."""
    jobs, stamp, rule = {}, None, None
    for line in text.splitlines():
        m = STAMP.match(line)
        if m:
            stamp = datetime.datetime.strptime(m.group(1), "%a %b %d %H:%M:%S %Y").timestamp()
            continue
        m = re.match(r"^(?:local)?rule (\w+):$", line)
        if m:
            rule = [m.group(1), "", stamp, None]
            continue
        m = re.match(r"^\s+wildcards: (.*)$", line)
        if m and rule:
            rule[1] = m.group(1)
            continue
        m = re.match(r"^\s+jobid: (\d+)$", line)
        if m and rule:
            jobs[int(m.group(1))] = rule
            continue
        m = re.match(r"^Finished job (\d+)\.$", line)
        if m and int(m.group(1)) in jobs:
            jobs[int(m.group(1))][3] = stamp
    return jobs


def scontrol_jobs(text):
    """One dict per job line of `scontrol show job -o` (fields KEY=VALUE),
    with its rule, region, and times in seconds since the epoch."""
    jobs = []
    for line in text.splitlines():
        fields = dict(word.split("=", 1) for word in line.split() if "=" in word)
        if "JobId" not in fields:
            continue
        m = re.match(r"smk\.(\w+)\.(?:region=(.*))?", fields.get("JobName", ""))
        job = {"id": int(fields["JobId"]), "state": fields.get("JobState", ""),
               "rule": m.group(1) if m else fields.get("JobName", ""),
               "region": (m.group(2) or "") if m else "",
               "runtime": duration(fields.get("RunTime", "0:0"))}
        for key in ("SubmitTime", "StartTime", "EndTime"):
            job[key] = datetime.datetime.strptime(fields[key], "%Y-%m-%dT%H:%M:%S").timestamp()
        jobs.append(job)
    return jobs


def duration(text):
    """Seconds of SLURM's [DAYS-]HH:MM:SS (or MM:SS)."""
    days, _, clock = text.rpartition("-")
    seconds = 0
    for part in clock.split(":"):
        seconds = seconds * 60 + int(part)
    return seconds + 86400 * int(days or 0)


def waits(jobs):
    """(notice, queue) seconds of every job that follows another of its
    region: from the predecessor's end to the submission, and from the
    submission to the start."""
    ends = {(j["region"], j["rule"]): j["EndTime"] for j in jobs}
    notice, queue = [], []
    for j in jobs:
        before = (j["region"], AFTER.get(j["rule"]))
        if before in ends:
            notice.append(j["SubmitTime"] - ends[before])
            queue.append(j["StartTime"] - j["SubmitTime"])
    return notice, queue


def read_summary(outdir):
    """region -> (markers, replicates) from summary.tsv and each region's markers."""
    with open(os.path.join(outdir, "summary.tsv")) as f:
        lines = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
    header, rows = lines[0], lines[1:]
    found = {}
    for row in rows:
        record = dict(zip(header, row))
        name = record["region"]
        markers = os.path.join(outdir, "regions", name, "orvane.markers.tsv")
        with open(markers) as f:
            count = sum(1 for _ in f) - 1
        found[name] = (count, record.get("replicates", ""))
    return found


def spread(values):
    if not values:
        return "-"
    return (f"median {statistics.median(values):g}, {min(values):g} to {max(values):g}, "
            f"{sum(values):g} in all")


def local_table(log_text, runs):
    jobs = snakemake_jobs(log_text)
    rules = per_rule(runs)
    print("rule\tjobs\tjob wall s (Snakemake log)\tprograms s\tpeak MB")
    for rule in ORDER:
        walls = [end - start for r, _, start, end in jobs.values()
                 if r == rule and start is not None and end is not None]
        if not walls and rule not in rules:
            continue
        seconds, peak = rules.get(rule, (None, None))
        print(f"{rule}\t{len(walls)}\t{sum(walls):.0f}\t"
              + (f"{seconds:.1f}\t{peak:.0f}" if seconds is not None else "-\t-"))


def slurm_table(jobs, runs, outdir):
    rules = per_rule(runs)
    print("rule\tjobs\tRunTime s\tpeak MB")
    for rule in ORDER:
        times = [j["runtime"] for j in jobs if j["rule"] == rule]
        if times:
            peak = rules.get(rule, (0, None))[1]
            print(f"{rule}\t{len(times)}\t{spread(times)}\t"
                  + (f"{peak:.0f}" if peak is not None else "-"))
    bad = [f"{j['id']} {j['rule']} {j['region']} {j['state']}" for j in jobs if j["state"] != "COMPLETED"]
    print("jobs not completed:", "; ".join(bad) if bad else "none")
    notice, queue = waits(jobs)
    print(f"from a job's end to its successor's submission, s: {spread(notice)}")
    print(f"from submission to start (the queue), s: {spread(queue)}")
    if jobs:
        first = min(j["SubmitTime"] for j in jobs)
        last = max(j["EndTime"] for j in jobs)
        busy = sum(j["runtime"] for j in jobs)
        print(f"first submission to last end: {last - first:.0f} s; RunTime of all jobs: {busy} s")
    print("tile\tmarkers\treplicates\tanalyse RunTime s")
    analyse = {j["region"]: j["runtime"] for j in jobs if j["rule"] == "analyse"}
    for name, (markers, replicates) in read_summary(outdir).items():
        print(f"{name}\t{markers}\t{replicates}\t{analyse.get(name, '-')}")


def main(argv):
    if len(argv) == 4 and argv[1] == "local":
        with open(argv[2]) as f:
            local_table(f.read(), read_times(argv[3]))
    elif len(argv) == 5 and argv[1] == "slurm":
        with open(argv[2]) as f:
            slurm_table(scontrol_jobs(f.read()), read_times(argv[3]), argv[4])
    else:
        sys.exit(__doc__.strip().split("\n\n")[1])


if __name__ == "__main__":
    main(sys.argv)
