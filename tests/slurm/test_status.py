#!/usr/bin/python3
"""The SLURM profile's status script against canned scontrol and squeue
answers (stand-ins on PATH), so that it runs without SLURM: every state it
may meet, the job id as `sbatch --parsable` prints it, a job SLURM forgot and
a controller that does not answer.

usage: test_status.py PROFILE_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys
import unittest

PROFILE, WORK = sys.argv[1], sys.argv[2]
STATUS = os.path.join(PROFILE, "status.py")


def fake(name, stdout, status=0, stderr=""):
    """A stand-in program that logs its arguments and answers as given."""
    path = os.path.join(WORK, "bin", name)
    with open(path, "w") as f:
        f.write(f"#!/bin/sh\necho \"$@\" >> {WORK}/{name}.args\n"
                f"printf '%s' '{stdout}'\nprintf '%s' '{stderr}' >&2\nexit {status}\n")
    os.chmod(path, 0o755)


def ask(jobid):
    env = {**os.environ, "PATH": os.path.join(WORK, "bin") + os.pathsep + os.environ["PATH"]}
    out = subprocess.run([sys.executable, STATUS, jobid], capture_output=True, text=True, env=env)
    return out.returncode, out.stdout, out.stderr


class Status(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(os.path.join(WORK, "bin"))

    def test_states(self):
        cases = [("COMPLETED", "success"), ("PENDING", "running"), ("CONFIGURING", "running"),
                 ("RUNNING", "running"), ("COMPLETING", "running"), ("SUSPENDED", "running"),
                 ("REQUEUED", "running"), ("FAILED", "failed"), ("CANCELLED", "failed"),
                 ("TIMEOUT", "failed"), ("NODE_FAIL", "failed"), ("OUT_OF_MEMORY", "failed"),
                 ("PREEMPTED", "failed"), ("BOOT_FAIL", "failed"), ("DEADLINE", "failed"),
                 ("SPECIAL_EXIT", "failed")]
        for state, expected in cases:
            fake("scontrol", f"JobId=42 JobName=smk.analyse.region=a UserId=root(0) "
                             f"JobState={state} Reason=None ExitCode=0:0\n")
            self.assertEqual(ask("42")[:2], (0, expected + "\n"), state)

    def test_parsable_id_with_a_cluster_name(self):
        fake("scontrol", "JobId=7 JobState=COMPLETED\n")
        self.assertEqual(ask("7;orvanetest")[1], "success\n")
        with open(os.path.join(WORK, "scontrol.args")) as f:
            self.assertEqual(f.read(), "show job -o 7\n")

    def test_squeue_when_scontrol_shows_no_state(self):
        fake("scontrol", "", status=1, stderr="slurm_load_jobs error: Socket timed out")
        fake("squeue", "RUNNING\n")
        self.assertEqual(ask("9")[1], "running\n")
        fake("squeue", "TIMEOUT\n")
        self.assertEqual(ask("9")[1], "failed\n")

    def test_forgotten_job_fails_and_silent_controller_waits(self):
        fake("scontrol", "", status=1, stderr="slurm_load_jobs error: Invalid job id specified")
        code, out, err = ask("5")
        self.assertEqual((code, out), (0, "failed\n"))
        self.assertIn("status.py: warning: SLURM no longer knows job 5", err)
        fake("scontrol", "", status=1, stderr="Unable to contact slurm controller")
        fake("squeue", "", status=1, stderr="Unable to contact slurm controller")
        code, out, err = ask("5")
        self.assertEqual((code, out), (0, "running\n"))
        self.assertIn("did not answer for job 5 (Unable to contact slurm controller)", err)

    def test_unknown_state_waits_with_a_warning(self):
        fake("scontrol", "JobId=3 JobState=NEWSTATE\n")
        code, out, err = ask("3")
        self.assertEqual(out, "running\n")
        self.assertIn("unknown SLURM job state 'NEWSTATE'", err)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
