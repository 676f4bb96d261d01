#!/usr/bin/env python3
"""The installed manual pages render with man, and each names every option that
its program's --help lists.

usage: man_pages_test.py BUILD_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

PROGRAMS = ["orvane", "orvane-locate", "orvane-vcf", "orvane-plot", "orvane-sumstats"]
# An option as --help writes it: -s, --seed, --max-permutations (not a negative
# number, nor the middle of a word such as "single-marker").
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9]*(?:-[A-Za-z0-9]+)*)")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(command, **kwargs):
    env = dict(os.environ, LC_ALL="C", MANWIDTH="400", MAN_DISABLE_SECCOMP="1")
    return subprocess.run(command, capture_output=True, text=True, env=env, **kwargs)


def main(build):
    with tempfile.TemporaryDirectory() as prefix:
        installed = run(["cmake", "--install", build, "--prefix", prefix])
        check(installed.returncode == 0, "cmake --install failed: " + installed.stderr)
        man_root = os.path.join(prefix, "share", "man")
        for program in PROGRAMS:
            binary = os.path.join(build, program)
            if not os.path.exists(binary):
                continue  # a build without the companion tools
            page = os.path.join(man_root, "man1", program + ".1")
            check(os.path.isfile(page), f"{program}.1 is not installed in share/man/man1")
            if not os.path.isfile(page):
                continue
            found = run(["man", "-M", man_root, "-w", program])
            check(found.returncode == 0 and found.stdout.strip() == page,
                  f"man -w {program} does not find the installed page: {found.stdout}{found.stderr}")
            rendered = run(["man", "-l", page])
            check(rendered.returncode == 0, f"man -l {program}.1 failed: {rendered.stderr}")
            text = rendered.stdout
            check(re.search(r"^NAME\s*$", text, re.M) is not None, f"{program}.1 has no NAME section")
            check(program in text, f"{program}.1 does not name its program")
            help_text = run([binary, "--help"]).stdout
            options = sorted(set(OPTION.findall(help_text)))
            check("--help" in options and "--version" in options,
                  f"{program} --help does not list --help and --version: {options}")
            for option in options:
                check(re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", text) is not None,
                      f"{program}.1 does not name {option}, which {program} --help lists")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failed" if failures else "man pages: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
