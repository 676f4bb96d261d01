#!/usr/bin/env python3
"""The C++ source keeps its floors: a file includes only headers of its own
floor or of floors below it, and no unit (a header with its source file)
reaches itself through the units it includes, so that every folder has an
order too.

usage: check_floors.py SOURCE_DIR
"""
import os
import re
import sys

# Bottom up; a floor may include its own and every earlier one.
FLOORS = ["stats", "model", "cluster", "scoring", "permutation", "driver", "locate"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def includes(path):
    with open(path, encoding="utf-8") as f:
        return INCLUDE.findall(f.read())


def cycles(graph):
    """Every unit that reaches itself through the include graph."""
    found = []
    for start in graph:
        stack, seen = list(graph[start]), set()
        while stack:
            node = stack.pop()
            if node == start:
                found.append(start)
                break
            if node in seen:
                continue
            seen.add(node)
            stack.extend(graph.get(node, ()))
    return found


def main(source):
    failures = []
    graph = {}
    for level, floor in enumerate(FLOORS):
        folder = os.path.join(source, floor)
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp")):
                continue
            here = f"{floor}/{name}"
            for target_floor, target in includes(os.path.join(folder, name)):
                if target_floor not in FLOORS:
                    continue
                if FLOORS.index(target_floor) > level:
                    failures.append(f"{here} includes {target_floor}/{target}, a floor above {floor}")
                unit = os.path.splitext(here)[0]
                included = os.path.splitext(f"{target_floor}/{target}")[0]
                if included != unit:
                    graph.setdefault(unit, set()).add(included)
    for unit in cycles(graph):
        failures.append(f"{unit} (.h/.cpp) includes itself through other units")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failed" if failures else f"floors: {' -> '.join(FLOORS)} kept")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
