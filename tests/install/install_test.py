#!/usr/bin/env python3
"""`cmake --install` into a temporary prefix gives programs that run there:
the installed orvane-plot (a launcher in bin and its package under share)
prints its version and draws a picture, also through a link from another
folder; with --man-pages, the installed manual pages render with man, and
each names every option that its program's --help lists.

usage: install_test.py BUILD_DIR VERSION [--man-pages]
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

PROGRAMS = ["orvane", "orvane-locate", "orvane-vcf", "orvane-plot", "orvane-sumstats"]
# An option as --help writes it: -s, --seed, --max-permutations (not a negative
# number, nor the middle of a word such as "single-marker").
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9]*(?:-[A-Za-z0-9]+)*)")
# A case/control result block of three markers: the picture's input.
RESULT = ("GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\t"
          "SingleSNPMinusLogP\n"
          "0\t0\t1.5\t0.87\t1.2\t0.57\n"
          "0.0005\t1\t3.2\t2.86\t5.1\t1.62\n"
          "0.001\t2\t-2\t1.34\t2.1\t0.83\n"
          "Orvane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
          "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n"
          "1\t3.2\t2.86\t0.012\t1\t5.1\t1.62\n")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(command, **kwargs):
    env = dict(os.environ, LC_ALL="C", MANWIDTH="400", MAN_DISABLE_SECCOMP="1")
    return subprocess.run(command, capture_output=True, text=True, env=env, **kwargs)


def check_plot(prefix, version, work):
    """The installed launcher finds its package under the prefix, also when
    run through a link (as the workflow's bin folders hold it)."""
    plot = os.path.join(prefix, "bin", "orvane-plot")
    check(os.access(plot, os.X_OK), "bin/orvane-plot is not installed as a program")
    check(os.path.isfile(os.path.join(prefix, "share", "orvane", "python", "orvane_plot",
                                      "cli.py")),
          "the package orvane_plot is not installed in share/orvane/python")
    links = os.path.join(work, "links")
    os.makedirs(links)
    os.symlink(plot, os.path.join(links, "orvane-plot"))
    result = os.path.join(work, "example.dat-results")
    with open(result, "w") as f:
        f.write(RESULT)
    for program in (plot, os.path.join(links, "orvane-plot")):
        shown = run([program, "--version"], cwd=work)
        check(shown.returncode == 0 and shown.stdout == f"orvane-plot {version}\n",
              f"{program} --version: {shown.returncode} {shown.stdout!r} {shown.stderr!r}")
        picture = os.path.join(work, "picture.svg")
        drawn = run([program, result, "-o", picture], cwd=work)
        check(drawn.returncode == 0, f"{program} draws nothing: {drawn.stderr}")
        if drawn.returncode == 0:
            svg = "{http://www.w3.org/2000/svg}"
            root = ET.parse(picture).getroot()
            texts = " ".join("".join(t.itertext()) for t in root.iter(svg + "text"))
            check("predicted by cluster score, single marker: marker 1" in " ".join(texts.split()),
                  f"{program}: the picture lacks the predicted position: {texts}")
            os.remove(picture)


def check_man_pages(build, prefix):
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


def main(build, version, man_pages):
    with tempfile.TemporaryDirectory() as prefix, tempfile.TemporaryDirectory() as work:
        installed = run(["cmake", "--install", build, "--prefix", prefix])
        check(installed.returncode == 0, "cmake --install failed: " + installed.stderr)
        if os.path.exists(os.path.join(build, "orvane-plot")):
            check_plot(prefix, version, work)
        if man_pages:
            check_man_pages(build, prefix)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failed" if failures else "install: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], "--man-pages" in sys.argv[3:]))
