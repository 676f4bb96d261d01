#!/usr/bin/python3
"""Snakemake 7's cluster-status command for SLURM: prints success, running or
failed for one job, from `scontrol show job` (else `squeue`), so that no
accounting daemon (sacct) is needed.

usage: status.py JOBID   (as `sbatch --parsable` printed it: ID or ID;CLUSTER)

A job SLURM cancelled, timed out, ran out of memory, lost its node or failed
is failed. A controller that does not answer is not a verdict: the job counts
as running and Snakemake asks again later. A job the controller no longer
knows (purged MinJobAge seconds after it ended, 300 by default; Snakemake asks
every few seconds) counts as failed.
"""
import subprocess
import sys

PROGRAM = "status.py"
SUCCESS = {"COMPLETED"}
RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "STOPPED",
           "REQUEUED", "REQUEUE_HOLD", "REQUEUE_FED", "RESIZING", "SIGNALING",
           "STAGE_OUT", "RESV_DEL_HOLD", "POWER_UP_NODE", "UPDATE_DB"}
FAILED = {"FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "OUT_OF_MEMORY", "PREEMPTED",
          "BOOT_FAIL", "DEADLINE", "REVOKED", "SPECIAL_EXIT"}


def verdict(state):
    """Snakemake's word for a SLURM job state ("CANCELLED by 0" counts as CANCELLED)."""
    state = state.split()[0].rstrip("+") if state.strip() else ""
    if state in SUCCESS:
        return "success"
    if state in FAILED:
        return "failed"
    if state not in RUNNING:
        print(f"{PROGRAM}: warning: unknown SLURM job state '{state}'; asking again later",
              file=sys.stderr)
    return "running"


def scontrol_state(text):
    """JobState=... from `scontrol show job -o` (one line per job)."""
    for field in text.split():
        if field.startswith("JobState="):
            return field[len("JobState="):]
    return None


def job_state(jobid):
    """The job's state, "" when SLURM no longer knows the job, None when it did not answer."""
    shown = subprocess.run(["scontrol", "show", "job", "-o", jobid],
                           capture_output=True, text=True)
    if shown.returncode == 0:
        state = scontrol_state(shown.stdout)
        if state:
            return state
    elif "invalid job id" in shown.stderr.lower():
        return ""
    queued = subprocess.run(["squeue", "-h", "-j", jobid, "-o", "%T"],
                            capture_output=True, text=True)
    if queued.returncode == 0 and queued.stdout.strip():
        return queued.stdout.split()[0]
    if "invalid job id" in (queued.stderr + shown.stderr).lower():
        return ""
    print(f"{PROGRAM}: warning: SLURM did not answer for job {jobid} "
          f"({(shown.stderr or queued.stderr).strip()}); asking again later", file=sys.stderr)
    return None


def main(argv):
    if len(argv) != 2:
        print(f"usage: {PROGRAM} JOBID", file=sys.stderr)
        return 2
    jobid = argv[1].split(";")[0].strip()
    state = job_state(jobid)
    if state is None:
        print("running")
    elif state == "":
        print(f"{PROGRAM}: warning: SLURM no longer knows job {jobid}; counted as failed "
              "(raise MinJobAge in slurm.conf if finished jobs vanish before Snakemake asks)",
              file=sys.stderr)
        print("failed")
    else:
        print(verdict(state))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
