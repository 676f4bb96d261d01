"""The memory each rule declares (resources: mem_mb), from the size of its
region: haplotypes times markers for the steps that hold the region's
haplotype matrix, haplotypes alone for the extraction, which streams one site
at a time.

Each step's peak resident memory was measured at 20,000 and 200,000
haplotypes of 300 markers (bench/workflow_times.sh; bench/README.md, "Memory
of the workflow's steps"); the line through the two points, times MARGIN,
plus the step's extra, is declared, and never less than its FLOOR.
"""
import math
import subprocess

MARGIN = 1.5
# Peak MB at (20,000, 200,000) haplotypes, 300 markers; the size they grow with.
MEASURED = {
    "extract": ((5, 19), "haplotypes"),     # bcftools view -r
    "trim": ((5, 19), "haplotypes"),        # bcftools view -r
    "plink2": ((11, 39), "haplotypes"),     # plink2 --export vcf, from a BGEN
    "convert": ((28, 242), "cells"),        # orvane-vcf
    "analyse": ((89, 747), "cells"),        # orvane, 2 threads
    "plot": ((118, 689), "cells"),          # orvane-plot --data
    "sumstats": ((43, 126), "cells"),       # orvane-sumstats (bench/biobank_region.sh)
}
SIZES = (20_000, 200_000)
MARKERS = 300
# orvane also holds, for one window, a byte per pair of its distinct
# patterns, of which there are at most as many as haplotypes: varied
# haplotypes (35,000 patterns a window) need up to 1.25 GB more than the
# measured regions, whose patterns are few.
PATTERNS = 35_000


def extra(step, haplotypes):
    if step != "analyse":
        return 0
    return min(haplotypes, PATTERNS) ** 2 / 1e6


# Today's declarations are the floor: small regions ask what they always did,
# and plink2 keeps its 2,000 MB (80 % its workspace).
FLOOR = {"extract": 500, "trim": 500, "plink2": 2000, "convert": 500, "analyse": 1000,
         "plot": 500, "sumstats": 1000}


def on_the_line(step, haplotypes, markers):
    """The measured peak MB extended along its line to this size."""
    (low, high), grows = MEASURED[step]
    size = haplotypes * (markers if grows == "cells" else 1)
    scale = MARKERS if grows == "cells" else 1
    small, large = SIZES[0] * scale, SIZES[1] * scale
    return low + (high - low) * (size - small) / (large - small)


def declared(step, haplotypes, markers=MARKERS):
    """The step's mem_mb for a region of this many haplotypes and markers."""
    need = extra(step, haplotypes) + MARGIN * on_the_line(step, haplotypes, markers)
    return max(FLOOR[step], int(math.ceil(need)))


def count_lines(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def converted_size(directory):
    """(haplotypes, markers) of a converted region: the rows of
    orvane.haplotypes.tsv and orvane.markers.tsv, less their headers."""
    return (count_lines(f"{directory}/orvane.haplotypes.tsv") - 1,
            count_lines(f"{directory}/orvane.markers.tsv") - 1)


def vcf_haplotypes(vcf):
    """Twice the VCF's samples, from its header."""
    out = subprocess.run(["bcftools", "query", "-l", vcf], capture_output=True, text=True,
                         check=True)
    return 2 * len(out.stdout.split())


def vcf_size(vcf):
    """(haplotypes, sites) of an indexed VCF: its samples and its index's record count."""
    out = subprocess.run(["bcftools", "index", "-n", vcf], capture_output=True, text=True,
                         check=True)
    return vcf_haplotypes(vcf), int(out.stdout.split()[0])


def sample_haplotypes(files):
    """Twice the samples of a BGEN's .sample (two header lines) or a .psam
    (header lines start with '#')."""
    path = next(f for f in files if f.endswith((".sample", ".psam")))
    with open(path) as f:
        lines = [line for line in f if line.strip()]
    if path.endswith(".sample"):
        return 2 * (len(lines) - 2)
    return 2 * sum(not line.startswith("#") for line in lines)


def rule_memory(step, size):
    """A resources callable for Snakemake: `size(wildcards, input)` gives
    (haplotypes, markers). A size that cannot be read yet (a dry run, a
    missing file) declares the step's FLOOR."""
    def mem_mb(wildcards, input):
        try:
            return declared(step, *size(wildcards, input))
        except (OSError, ValueError, IndexError, StopIteration, subprocess.CalledProcessError):
            return FLOOR[step]
    return mem_mb
