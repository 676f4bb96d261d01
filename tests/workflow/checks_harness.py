"""What the whole-study test scripts share: failed checks collected and
printed as they happen, commands run for their output, files read as bytes."""
import subprocess

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def sh(*command, **kw):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kw).stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()
