#!/usr/bin/python3
"""The workflow's declared memory (workflow/scripts/memory.py): it grows with
the region's haplotypes and markers, covers each step's measured peak at
200,000 haplotypes and its line's value at 1,000,000, and reads a region's
size from the files the rule is given.

usage: test_memory.py SCRIPTS_DIR SOURCE_DIR WORK_DIR
"""
import os
import shutil
import sys
import unittest

SCRIPTS, SOURCE, WORK = sys.argv[1:4]
sys.path.insert(0, SCRIPTS)
import memory  # noqa: E402


def write(name, lines):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.writelines(line + "\n" for line in lines)
    return path


class Declared(unittest.TestCase):
    def test_covers_the_measured_peaks(self):
        # step: peak MB measured at 200,000 haplotypes x 300 markers
        for step, ((_, measured), _) in memory.MEASURED.items():
            self.assertGreaterEqual(memory.declared(step, 200_000), measured, step)
            # At 1,000,000 haplotypes: the line through the measurements, with room.
            line = memory.on_the_line(step, 1_000_000, 300)
            self.assertGreaterEqual(memory.declared(step, 1_000_000), 1.4 * line, step)

    def test_grows_with_haplotypes_and_markers(self):
        for step in ("convert", "analyse", "plot"):
            self.assertGreater(memory.declared(step, 1_000_000, 300),
                               memory.declared(step, 200_000, 300), step)
            self.assertGreater(memory.declared(step, 1_000_000, 600),
                               memory.declared(step, 1_000_000, 300), step)
        # The extraction streams sites: markers do not matter.
        self.assertEqual(memory.declared("extract", 1_000_000, 0),
                         memory.declared("extract", 1_000_000, 900))

    def test_sumstats_covers_a_million_haplotypes(self):
        # Measured at 1,000,000 x 300 (bench/README.md): 556 MB; the codes are a
        # byte each, so twice the haplotypes or markers need more than the floor.
        self.assertGreaterEqual(memory.declared("sumstats", 1_000_000, 300), 556)
        self.assertGreater(memory.declared("sumstats", 4_000_000, 300), memory.FLOOR["sumstats"])
        self.assertGreater(memory.declared("sumstats", 2_000_000, 600),
                           memory.declared("sumstats", 2_000_000, 300))

    def test_small_regions_ask_no_less_than_before(self):
        # The declarations before sizes were measured: the floor.
        for step, floor in memory.FLOOR.items():
            small = memory.declared(step, 320, 100)
            self.assertGreaterEqual(small, floor, step)
            self.assertLessEqual(small, memory.declared(step, 200_000), step)
        self.assertEqual(memory.declared("convert", 320, 100), 500)


class Sizes(unittest.TestCase):
    def test_read_from_the_rule_inputs(self):
        vcf = os.path.join(SOURCE, "examples", "study", "study.vcf.gz")
        self.assertEqual(memory.vcf_size(vcf), (320, 384))
        folder = os.path.join(WORK, "region")
        os.makedirs(folder, exist_ok=True)
        write("region/orvane.haplotypes.tsv", ["sample\thaplotype"] + ["s\t1"] * 7)
        write("region/orvane.markers.tsv", ["id\tpos"] + ["m\t5"] * 3)
        self.assertEqual(memory.converted_size(folder), (7, 3))
        sample = write("b.sample", ["ID_1 ID_2 missing", "0 0 0", "a a 0", "b b 0"])
        psam = write("p.psam", ["#IID\tSEX", "a\t1", "b\t2", "c\t1"])
        self.assertEqual(memory.sample_haplotypes(["x.bgen", sample]), 4)
        self.assertEqual(memory.sample_haplotypes(["p.pgen", "p.pvar", psam]), 6)

    def test_rule_callable(self):
        big = memory.rule_memory("plot", lambda wc, input: (1_000_000, 300))
        self.assertEqual(big(None, None), memory.declared("plot", 1_000_000, 300))
        # A size that cannot be read yet declares the floor.
        missing = memory.rule_memory("plot", lambda wc, input: memory.converted_size("/nonexistent"))
        self.assertEqual(missing(None, None), memory.FLOOR["plot"])


if __name__ == "__main__":
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    unittest.main(argv=sys.argv[:1])
