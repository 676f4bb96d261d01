#!/usr/bin/env python3
"""The workflow benchmarks run at a tiny size: they finish and print their
tables. usage: workflow_scripts_test.py BUILD_DIR BENCH_DIR WORK_DIR

biobank_region.sh needs snakemake, plink2 and bcftools; slurm_chromosome.sh
also a one-node cluster (tests/slurm/slurm_cluster.sh: slurm, munge, root).
Without them the test is skipped (77); with CI=true that is a failure, as
the other workflow tests have it. Nothing here is timed.
"""
import os
import re
import shutil
import subprocess
import sys
import unittest

BUILD, BENCH, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
del sys.argv[1:4]
SKIPPED = 77


def run(script, *args):
    out = subprocess.run(["bash", os.path.join(BENCH, script), BUILD, *args],
                         capture_output=True, text=True, timeout=900)
    if out.returncode != 0:
        raise AssertionError(f"{script} failed ({out.returncode}):\n{out.stdout}\n{out.stderr}")
    return out.stdout


def rows(text):
    """rule -> its fields, from the rule table of workflow_steps.py."""
    return {line.split("\t")[0]: line.split("\t") for line in text.splitlines()
            if re.match(r"^(extract|trim|convert|analyse|plot|sumstats)\t", line)}


class Region(unittest.TestCase):
    def test_bgen_region(self):
        text = run("biobank_region.sh", os.path.join(WORK, "region"), "400", "bgen")
        self.assertRegex(text, r"(?m)^whole run\t\d+ s$")
        self.assertRegex(text, r"(?m)^run folder, peak\t\d+ MB$")
        found = rows(text)
        self.assertEqual(sorted(found), ["analyse", "convert", "extract", "plot", "sumstats", "trim"])
        for rule, fields in found.items():
            # One job each; its programs timed, with a peak memory.
            self.assertEqual(fields[1], "1", rule)
            self.assertRegex(fields[4], r"^\d+$", rule)
            self.assertGreater(int(fields[4]), 0, rule)


class Chromosome(unittest.TestCase):
    def test_tiles_through_slurm(self):
        if os.getuid() != 0 or not shutil.which("slurmd"):
            if os.environ.get("CI") == "true":
                self.fail("CI must run this as root with slurm installed")
            self.skipTest("needs root and slurm")
        # 700 sites, tiles of 0.3 Mb over the .pvar's contig (10 Mb): 0.9-1.2 (201
        # sites), 1.2-1.5 (300), 1.5-1.8 (199); the tiles without a site are left
        # out. At 400 haplotypes a few sites are monomorphic and not converted.
        text = run("slurm_chromosome.sh", os.path.join(WORK, "chromosome"), "400", "700", "pgen")
        self.assertRegex(text, r"(?m)^tiles\t3$")
        self.assertIn("jobs not completed: none", text)
        self.assertEqual(sorted(rows(text)), ["analyse", "convert", "extract", "plot", "sumstats", "trim"])
        tiles = re.findall(r"(?m)^(1_[\d.]+-[\d.]+Mb)\t(\d+)\t(\d+)\t(\d+)$", text)
        self.assertEqual([name for name, _, _, _ in tiles], ["1_0.9-1.2Mb", "1_1.2-1.5Mb", "1_1.5-1.8Mb"])
        for (_, markers, _, _), sites in zip(tiles, (201, 300, 199)):
            self.assertTrue(sites * 0.8 <= int(markers) <= sites, (markers, sites))
        # Adaptive: at least 10 replicates (the stopping count), at most the bound.
        for _, _, replicates, _ in tiles:
            self.assertTrue(10 <= int(replicates) <= 100000, replicates)


if __name__ == "__main__":
    missing = [p for p in ("snakemake", "plink2", "bcftools", "bgzip") if not shutil.which(p)]
    if missing:
        print(f"{', '.join(missing)} not installed: test skipped")
        sys.exit(1 if os.environ.get("CI") == "true" else SKIPPED)
    unittest.main()
