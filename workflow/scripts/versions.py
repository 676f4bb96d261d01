#!/usr/bin/python3
"""Lists the version of every program a study used, one tab-separated line
each: program, path, version.

usage: versions.py OUT.tsv SOURCE_TREE NAME=PATH...
Each program is asked the way it answers: `--version` where that exists, the
banner of a run without arguments for beagle and shapeit4. orvane has no
--version (any unknown option prints its usage): its version is the one of the
source tree's CMakeLists.txt when the workflow runs from a source tree, else
"unknown".
"""
import os
import re
import shutil
import subprocess
import sys

VERSION = re.compile(r"\d+\.\d+(\.\d+)?")


def output(command):
    try:
        p = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None, ""
    return p.returncode, p.stdout + p.stderr


def project_version(source_tree):
    try:
        with open(os.path.join(source_tree, "CMakeLists.txt")) as f:
            text = f.read()
    except OSError:
        return None
    m = re.search(r"project\(\s*orvane\s+VERSION\s+([0-9.]+)", text)
    return m.group(1) if m else None


def version(name, path, source_tree):
    if name == "beagle":
        _, text = output([path])
        m = re.search(r"^(beagle\S*\s*\(version [^)]*\))", text, re.M)
        return m.group(1) if m else "unknown"
    if name == "shapeit4":
        _, text = output([path])
        m = re.search(r"Version\s*:\s*(\S+)", text)
        return m.group(1) if m else "unknown"
    if name != "orvane":
        status, text = output([path, "--version"])
        first = text.strip().splitlines()[0] if text.strip() else ""
        if status == 0 and VERSION.search(first) and "usage" not in first.lower():
            return first
    found = project_version(source_tree)
    return f"{found} (the source tree's CMakeLists.txt)" if found else "unknown"


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__.split("\n\n")[1])
    out, source_tree = argv[1:3]
    lines = []
    for pair in argv[3:]:
        name, path = pair.split("=", 1)
        path = shutil.which(path) or path
        lines.append(f"{name}\t{path}\t{version(name, path, source_tree)}\n")
    import matplotlib
    lines.append(f"python\t{sys.executable}\t{sys.version.split()[0]}\n")
    lines.append(f"matplotlib\t{os.path.dirname(matplotlib.__file__)}\t{matplotlib.__version__}\n")
    with open(out + ".tmp", "w") as f:
        f.writelines(lines)
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main(sys.argv)
