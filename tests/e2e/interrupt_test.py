#!/usr/bin/env python3
"""Interrupts: a real signal sent to a running orvane puts the result file back.

For SIGINT, SIGTERM and SIGHUP, with a result file that held an earlier block
and with none: start a run long enough to be caught in the middle, wait until
it has written to the result file, send the signal, and check the exit status
(128 + signal), the one line on standard error, that the result file is byte
for byte what it was before (or absent), and that the run stopped within a
second.

usage: interrupt_test.py ORVANE GENERATE_PY WORK_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import time

orvane, generate, work = sys.argv[1], sys.argv[2], sys.argv[3]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
# Trait mode with many shuffles: minutes of work, stopped after a fraction of a second.
subprocess.run([sys.executable, generate, work, "--haplotypes", "400", "--markers", "60",
                "--mode", "q", "--window", "11", "--permutations", "2000000", "--seed", "3"],
               check=True)
results = os.path.join(work, "data.txt-results")
record = results + ".jsonl"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    for earlier in (b"an earlier block\t1\n", None):
        name = "%s, %s" % (sig.name, "earlier block" if earlier else "no result file")
        if earlier is None:
            for path in (results, record):
                if os.path.exists(path):
                    os.remove(path)
        else:
            for path in (results, record):
                with open(path, "wb") as f:
                    f.write(earlier)
        before = len(earlier) if earlier else 0
        run = subprocess.Popen([orvane, "-q", "data.txt", "params.txt", "dist.txt"], cwd=work,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Wait until the run has written past the earlier content (the header at least).
        deadline = time.time() + 60
        while time.time() < deadline and run.poll() is None:
            if os.path.exists(results) and os.path.getsize(results) > before:
                break
            time.sleep(0.01)
        time.sleep(0.2)
        check(run.poll() is None, name + ": the run was still going when signalled")
        sent = time.time()
        run.send_signal(sig)
        try:
            out, err = run.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            run.kill()
            out, err = run.communicate()
        took = time.time() - sent
        check(run.returncode == 128 + sig, "%s: exit status %s, expected %d" % (name, run.returncode, 128 + sig))
        check(err == b"orvane: interrupted: data.txt-results is as it was before the run\n",
              "%s: standard error %r" % (name, err))
        check(took < 1.0, "%s: stopped after %.2f s" % (name, took))
        if earlier is None:
            check(not os.path.exists(results), name + ": the result file the run created is gone")
            check(not os.path.exists(record), name + ": no run record was left")
        else:
            with open(results, "rb") as f:
                check(f.read() == earlier, name + ": the result file is as it was")
            with open(record, "rb") as f:
                check(f.read() == earlier, name + ": the run record is as it was")

print("interrupts: %d passed, %d failed" % (6 - len(set(f.split(":")[0] for f in failures)), len(set(f.split(":")[0] for f in failures))))
sys.exit(1 if failures else 0)
