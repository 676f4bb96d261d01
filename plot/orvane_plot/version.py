"""The program's version."""
import os
import re

# CMake writes PROJECT_VERSION here when it copies the package into the build
# tree; a copy run from the source tree reads it from the project's
# CMakeLists.txt, two folders up (plot/orvane_plot/).
VERSION = "@PROJECT_VERSION@"


def version():
    if not VERSION.startswith("@"):
        return VERSION
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        project = os.path.join(here, os.pardir, os.pardir, "CMakeLists.txt")
        with open(project, encoding="utf-8") as f:
            found = re.search(r"project\(\s*orvane\s+VERSION\s+([0-9.]+)", f.read())
        return found.group(1) if found else "unknown"
    except OSError:
        return "unknown"
