#!/usr/bin/env python3
"""Runs the README's one-line examples that build and then work in a folder of
their own (`cmake ... && mkdir -p DIR && ...`): the quick start, the first
study from a VCF to a plot and the locus interval. The build step is the one
under test already; the rest runs as written, in a scratch copy of the
repository's layout, and must exit 0 and leave the files it promises.

usage: readme_commands_test.py SOURCE_DIR BUILD_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

BUILD_PREFIX = "cmake -S . -B build && cmake --build build -j2 && "
# What each example must leave, by the folder it works in.
PROMISED = {
    "example-run": ["data.txt-results", "data.txt-results.jsonl", "output"],
    "vcf-run": ["example.dat-results", "example.dat-results.jsonl", "association.png"],
    "locate-run": ["data.txt.interval.tsv", "data.txt.location.tsv"],
}


def examples(readme):
    for block in re.findall(r"^```sh\n(.*?)^```", readme, re.M | re.S):
        command = block.strip()
        if command.startswith(BUILD_PREFIX) and "&& mkdir -p " in command:
            yield command[len(BUILD_PREFIX):]


def main(source, build):
    source = os.path.abspath(source)
    failures = []
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        commands = list(examples(f.read()))
    folders = set()
    for command in commands:
        folder = re.match(r"mkdir -p (\S+)", command).group(1)
        folders.add(folder)
        with tempfile.TemporaryDirectory() as work:
            # The repository's layout, with the tested build as build/.
            for name in os.listdir(source):
                if name not in ("build", ".git"):
                    os.symlink(os.path.join(source, name), os.path.join(work, name))
            os.symlink(os.path.abspath(build), os.path.join(work, "build"))
            run = subprocess.run(["sh", "-c", command], cwd=work, capture_output=True, text=True)
            if run.returncode != 0:
                failures.append(f"{folder}: status {run.returncode}\n{run.stderr[-2000:]}")
                continue
            for name in PROMISED.get(folder, []):
                path = os.path.join(work, folder, name)
                if not os.path.isfile(path) or os.path.getsize(path) == 0:
                    failures.append(f"{folder}: {name} is missing or empty")
    for missing in sorted(set(PROMISED) - folders):
        failures.append(f"the README no longer shows the {missing} example")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failed" if failures else f"README examples: {len(commands)} ran")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
