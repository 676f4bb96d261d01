#!/usr/bin/python3
"""The bundled study through a real SLURM cluster with the shipped profile
(workflow/profiles/slurm), against the same study run locally; then one
region's orvane job cancelled with scancel while it runs. Runs inside
slurm_cluster.sh, which provides the cluster (SLURM_CONF).

usage: test_slurm.py ORVANE ORVANE_VCF ORVANE_PLOT SOURCE_DIR WORK_DIR

Writes WORK_DIR/slurm-jobs.tsv: every job submitted, its id, name and the
state scontrol reports. Exits 77 (skipped) without snakemake, except with
CI=true.
"""
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "workflow"))
from checks_harness import check, failures, read, sh  # noqa: E402

ORVANE, ORVANE_VCF, ORVANE_PLOT, SOURCE, WORK = sys.argv[1:6]
SKIPPED = 77
STUDY = os.path.join(SOURCE, "examples", "study")
PROFILE = os.path.join(SOURCE, "workflow", "profiles", "slurm")
REGIONS = ("locus1", "locus2", "locus3")
CANCELLED = "locus2"
# The files that must be the same byte for byte wherever the jobs ran.
COMPARED = ["summary.tsv"] + [f"regions/{r}/orvane.dat-results" for r in REGIONS]


def tool_folder():
    """The three programs, orvane behind a wrapper that holds a region's run
    while the file HOLD names that region, long enough to cancel it. The
    wrapper stays for every run, so that no rule's command changes between them."""
    tools = os.path.join(WORK, "bin")
    os.makedirs(tools)
    for program in (ORVANE_VCF, ORVANE_PLOT):
        os.symlink(os.path.abspath(program), os.path.join(tools, os.path.basename(program)))
    hold = os.path.join(WORK, "HOLD")
    with open(os.path.join(tools, "orvane"), "w") as f:
        f.write("#!/bin/sh\n"
                f'if [ -f "{hold}" ] && [ "$(basename "$PWD")" = "$(cat "{hold}")" ]; then\n'
                f'    touch "{hold}.started"; sleep 300\n'
                "fi\n"
                f'exec "{os.path.abspath(ORVANE)}" "$@"\n')
    os.chmod(os.path.join(tools, "orvane"), 0o755)
    return tools, hold


def write_config(tools):
    """phasing: none on the study written with every sample phased: fast and
    deterministic, with 50 permutations."""
    folder = os.path.join(WORK, "study")
    sh(sys.executable, os.path.join(STUDY, "make_study.py"), folder, "--all-phased")
    params = os.path.join(WORK, "params.txt")
    with open(os.path.join(STUDY, "params.txt")) as f:
        text = f.read()
    with open(params, "w") as f:
        f.write(text.replace("permutations 200", "permutations 50"))
    config = {"vcf": os.path.join(folder, "study.vcf.gz"),
              "pheno": os.path.join(folder, "pheno.txt"), "mode": "s",
              "regions": os.path.join(folder, "loci.bed"),
              "map": os.path.join(folder, "chr{chrom}.map"), "min_maf": 0.01,
              "phasing": "none", "params": params, "bin": tools}
    path = os.path.join(WORK, "config.yaml")
    with open(path, "w") as f:
        json.dump(config, f, indent=1)  # JSON is YAML
    return path


def snakemake_command(config, outdir, *extra):
    return ["snakemake", "-s", os.path.join(SOURCE, "workflow", "Snakefile"),
            "--configfile", config, "--config", f"outdir={outdir}", *extra]


# Snakemake 7 looks at its cluster jobs every 10 s, or every second where CI=true.
ENV = {**os.environ, "CI": "true"}


def run(config, outdir, *extra):
    return subprocess.run(snakemake_command(config, outdir, *extra), cwd=WORK,
                          capture_output=True, text=True, env=ENV)


def submitted(log):
    """The SLURM job ids of a Snakemake log ("Submitted job N with external jobid 'ID'.")."""
    ids = []
    for line in log.splitlines():
        if line.startswith("Submitted job") and "external jobid" in line:
            ids.append(line.split("'")[1].split(";")[0])
    return ids


def job_record(jobid):
    """JobName and JobState as scontrol shows them."""
    fields = dict(f.split("=", 1) for f in sh("scontrol", "show", "job", "-o", jobid).split()
                  if "=" in f)
    return fields.get("JobName", "?"), fields.get("JobState", "?")


def record_jobs(run_name, ids, table):
    records = {}
    for jobid in ids:
        name, state = job_record(jobid)
        records[jobid] = (name, state)
        table.append(f"{run_name}\t{jobid}\t{name}\t{state}\n")
    return records


def status(jobid):
    return sh(os.path.join(PROFILE, "status.py"), jobid).strip()


def squeue(name):
    """(id, state) of the job of that name, or None."""
    out = sh("squeue", "-h", "-n", name, "-o", "%i %T").split()
    return (out[0], out[1]) if out else None


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise RuntimeError(f"timed out after {seconds} s waiting for {what}")


def expected_names(rules, regions):
    return sorted(f"smk.{rule}.region={region}" for rule in rules for region in regions)


def main():
    if not shutil.which("snakemake"):
        if os.environ.get("CI") == "true":
            print("test_slurm.py: error: snakemake is not installed (CI must install it)")
            return 1
        print("snakemake is not installed (Debian package snakemake): test skipped")
        return SKIPPED
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    tools, hold = tool_folder()
    config = write_config(tools)
    table = ["run\tjobid\tname\tstate\n"]

    local = run(config, "local", "--cores", "2")
    check(local.returncode == 0, f"local run: status {local.returncode}\n{local.stderr[-3000:]}")

    # 1. The whole study through SLURM: the same bytes as the local run.
    slurm = run(config, "slurm", "--profile", PROFILE)
    check(slurm.returncode == 0, f"SLURM run: status {slurm.returncode}\n{slurm.stderr[-3000:]}")
    jobs = record_jobs("slurm", submitted(slurm.stderr), table)
    cluster_rules = ("extract", "trim", "convert", "analyse", "plot", "sumstats")
    check(sorted(name for name, _ in jobs.values()) == expected_names(cluster_rules, REGIONS),
          f"SLURM run: one job per rule and region, got {sorted(jobs.values())}")
    check(all(state == "COMPLETED" for _, state in jobs.values()),
          f"SLURM run: every job COMPLETED: {sorted(jobs.values())}")
    if jobs:
        check(status(next(iter(jobs))) == "success", "status.py: a completed job is success")
    for path in COMPARED:
        local_file, slurm_file = (os.path.join(WORK, out, path) for out in ("local", "slurm"))
        check(os.path.exists(slurm_file) and read(local_file) == read(slurm_file),
              f"SLURM run: {path} differs from the local run's")
    # The analysis jobs asked for the rule's threads and memory.
    analyse = [jobid for jobid, (name, _) in jobs.items() if name.startswith("smk.analyse.")]
    if analyse:
        shown = sh("scontrol", "show", "job", "-o", analyse[0])
        check("NumCPUs=2" in shown and "MinMemoryNode=1000M" in shown and "TimeLimit=01:00:00" in shown,
              f"analyse job's request: {shown}")

    # 2. One region's orvane job cancelled while it runs: the others finish,
    # the run fails naming it, and a rerun submits that region's jobs alone.
    with open(hold, "w") as f:
        f.write(CANCELLED)
    fault = subprocess.Popen(snakemake_command(config, "fault", "--profile", PROFILE),
                             cwd=WORK, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=ENV)
    name = f"smk.analyse.region={CANCELLED}"
    try:
        jobid, _ = wait_for(lambda: (squeue(name) or (0, ""))[1] == "RUNNING" and squeue(name),
                            120, f"{name} to run")
        wait_for(lambda: os.path.exists(hold + ".started"), 60, f"orvane to start in {name}")
        check(status(jobid) == "running", "status.py: a running job is running")
        sh("scancel", jobid)
        out, err = fault.communicate(timeout=240)
    finally:
        if fault.poll() is None:
            fault.kill()
    os.remove(hold)
    check(fault.returncode != 0, "a cancelled job must fail the run")
    check(job_record(jobid)[1] == "CANCELLED", f"scontrol: job {jobid} {job_record(jobid)}")
    check(status(jobid) == "failed", "status.py: a cancelled job is failed")
    check("Error executing rule analyse on cluster" in err and f"external: {jobid}" in err
          and f"region={CANCELLED}" in err,
          f"the run names the cancelled job:\n{err[-3000:]}")
    jobs = record_jobs("fault", submitted(err), table)
    regions = os.path.join(WORK, "fault", "regions")
    for region in REGIONS:
        done = os.path.exists(os.path.join(regions, region, "plot.png"))
        check(done == (region != CANCELLED), f"fault run: {region} finished: {done}")
    check(not os.path.exists(os.path.join(WORK, "fault", "summary.tsv")),
          "fault run: no summary without every region")

    rerun = run(config, "fault", "--profile", PROFILE)
    check(rerun.returncode == 0, f"rerun: status {rerun.returncode}\n{rerun.stderr[-3000:]}")
    jobs = record_jobs("rerun", submitted(rerun.stderr), table)
    check(sorted(name for name, _ in jobs.values()) ==
          expected_names(("analyse", "plot", "sumstats"), [CANCELLED]),
          f"rerun: only {CANCELLED}'s analysis, plot and table are submitted: {sorted(jobs.values())}")
    for path in COMPARED:
        fault_file = os.path.join(WORK, "fault", path)
        check(os.path.exists(fault_file) and
              read(fault_file) == read(os.path.join(WORK, "local", path)),
              f"rerun: {path} differs from the local run's")

    with open(os.path.join(WORK, "slurm-jobs.tsv"), "w") as f:
        f.writelines(table)
    print("".join(table), end="")
    print(f"slurm: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
