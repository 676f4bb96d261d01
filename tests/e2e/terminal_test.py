#!/usr/bin/env python3
"""On a terminal: a progress line with the elapsed time, replaced at the end by
one line naming the result file, the block written, the region's p and the
predicted position.
Standard error is a pseudo-terminal here; the result file must be the same as
from a run whose standard error is a pipe (which must print nothing).

usage: terminal_test.py ORVANE CASE_DIR WORK_DIR
"""
import os
import pty
import re
import shutil
import subprocess
import sys

orvane, case, work = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(on_terminal):
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(case, work, ignore=shutil.ignore_patterns("expected", "args"))
    args = open(os.path.join(case, "args")).read().split()
    if not on_terminal:
        done = subprocess.run([orvane] + args, cwd=work, capture_output=True)
        return done.stderr, open(os.path.join(work, "data.txt-results"), "rb").read()
    text = b""
    for block in (1, 2):  # a second run appends the second block
        primary, secondary = pty.openpty()
        proc = subprocess.Popen([orvane] + args, cwd=work, stdout=subprocess.DEVNULL,
                                stderr=secondary, stdin=subprocess.DEVNULL)
        os.close(secondary)
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:
                break
            if not chunk:
                break
            text += chunk
        proc.wait()
        os.close(primary)
    return text, open(os.path.join(work, "data.txt-results"), "rb").read()


piped_err, piped_results = run(False)
check(piped_err == b"", "a run whose standard error is a pipe prints nothing: %r" % piped_err)
shown, results = run(True)
check(results == piped_results * 2, "the result file does not depend on the terminal")
check(re.search(rb"orvane: scanning markers \d+/\d+, \d+:\d\d elapsed", shown) is not None,
      "the progress line names the step, the count and the elapsed time")
for block in (1, 2):
    # The region's p (the omnibus p of the joint scheme) first: the number to report.
    pattern = (rb"\r\x1b\[Korvane: wrote block %d of data.txt-results: the region's p \(omnibus, the one "
               rb"to report\) [0-9.e-]+; predicted position marker \d+, score [-0-9.e+]+\r?\n" % block)
    check(re.search(pattern, shown) is not None, "closing line of block %d" % block)
print("terminal: %d passed, %d failed" % (5 - len(failures), len(failures)))
sys.exit(1 if failures else 0)
