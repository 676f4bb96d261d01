#!/usr/bin/env python3
"""Every relative link of README.md and docs/*.md resolves to a file of the
repository, and every program that a README command block runs exists: a
command on PATH, a file of the repository, or a program the build makes.

usage: check_docs.py SOURCE_DIR BUILD_DIR
"""
import glob
import os
import re
import shlex
import shutil
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
# The project's programs, by the source each is made from: a build without the
# companion tools still knows them.
PROGRAM_SOURCES = {"orvane": "driver/main.cpp", "orvane-locate": "locate/main.cpp",
                   "orvane-vcf": "vcf/main.cpp", "orvane-plot": "plot/orvane-plot",
                   "orvane-sumstats": "sumstats/orvane-sumstats"}
# Words that start a shell line without naming a program.
SHELL_WORDS = {"cd", "export", "for", "do", "done", "if", "then", "fi", "while", "set", "source", "."}


def relative_links(text):
    for target in LINK.findall(text):
        if re.match(r"^(https?|mailto|ftp):", target) or target.startswith("#"):
            continue
        yield target.split("#", 1)[0]


def command_blocks(text):
    """The bodies of fenced blocks marked sh, bash or shell."""
    return re.findall(r"^```(?:sh|bash|shell)\n(.*?)^```", text, re.M | re.S)


def programs(block):
    """The first word of every simple command of a block."""
    # Command substitutions stand for a word; line continuations join lines.
    block = re.sub(r"\$\([^)]*\)", "X", block.replace("\\\n", " "))
    for line in block.split("\n"):
        line = line.split(" #", 1)[0].strip()
        if not line or line.startswith("#"):
            continue
        for command in re.split(r"&&|\|\||[|;]", line):
            try:
                words = shlex.split(command)
            except ValueError:
                words = command.split()
            words = [w for w in words if not re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", w)]
            if words and words[0] not in SHELL_WORDS:
                yield words[0]


def main(source, build):
    failures = []
    pages = [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md")))
    for page in pages:
        text = open(page, encoding="utf-8").read()
        for target in relative_links(text):
            path = os.path.normpath(os.path.join(os.path.dirname(page), target))
            if not os.path.exists(path):
                failures.append(f"{os.path.relpath(page, source)}: link to {target} does not resolve")
    built = {os.path.basename(p) for p in glob.glob(os.path.join(build, "orvane*"))}
    built |= {name for name, made_from in PROGRAM_SOURCES.items()
              if os.path.exists(os.path.join(source, made_from))}
    readme = open(pages[0], encoding="utf-8").read()
    for block in command_blocks(readme):
        for program in programs(block):
            name = os.path.basename(program)
            known = (shutil.which(program) is not None or name in built
                     or os.path.exists(os.path.join(source, program)))
            if not known:
                failures.append(f"README.md: a command block runs {program}, which does not exist")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failed" if failures else f"docs: {len(pages)} pages, all links and programs found")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
