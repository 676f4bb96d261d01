#!/usr/bin/env python3
"""The benchmark scripts' machinery: usage: helpers_test.py BENCH_DIR."""
import filecmp
import gzip
import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, sys.argv.pop(1) if len(sys.argv) > 1 else
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import benchstats as bs  # noqa: E402
import coalescent  # noqa: E402
import make_coalescent  # noqa: E402
import make_region_vcf  # noqa: E402
import orvane_run  # noqa: E402
import pattern_growth  # noqa: E402
import plink_maxt  # noqa: E402
import which_statistic  # noqa: E402
import workflow_steps  # noqa: E402

import numpy as np  # noqa: E402


class PatternGrowth(unittest.TestCase):
    def test_exponent_between_neighbouring_rows(self):
        # Time growing as the square, then flat: exponents 2 and 0.
        self.assertEqual(pattern_growth.exponents([(1000, 1.0), (2000, 4.0), (4000, 4.0)]),
                         [None, 2.0, 0.0])
        self.assertEqual(pattern_growth.exponents([(10, 1.0), (10, 2.0)]), [None, None])

    def test_distinct_patterns_per_window(self):
        folder = tempfile.mkdtemp()
        path = os.path.join(folder, "orvane.dat")

        def write(rows):
            with open(path, "w") as f:
                f.write("id\tstatus\t" + "\t".join(f"m{k}" for k in range(24)) + "\n")
                for i, row in enumerate(rows):
                    f.write(f"{i + 1}\ta\t" + "\t".join(map(str, row)) + "\n")

        try:
            # 24 markers: four windows of 21. A row that differs at marker 0 is a
            # second pattern in the first window only (median 1); one that
            # differs at marker 10, in all four (median 2).
            for marker, median in [(0, 1), (10, 2)]:
                odd = [1] * 24
                odd[marker] = 2
                write([[1] * 24, [1] * 24, odd])
                self.assertEqual(pattern_growth.distinct_patterns(path, 24), median, marker)
        finally:
            shutil.rmtree(folder)


class Intervals(unittest.TestCase):
    def test_wilson_against_newcombe(self):
        # Newcombe (1998), Statistics in Medicine 17:857, table II, method 3.
        for k, n, lo, hi in [(81, 263, 0.2553, 0.3662), (15, 148, 0.0624, 0.1605),
                             (0, 20, 0.0, 0.1611), (1, 29, 0.0061, 0.1718)]:
            got = bs.wilson(k, n)
            self.assertAlmostEqual(got[0], lo, places=4, msg=(k, n))
            self.assertAlmostEqual(got[1], hi, places=4, msg=(k, n))

    def test_rate_leaves_out_p_values_not_computed(self):
        ps = [0.01, 0.05, 0.0500001, None, 0.9, None]
        self.assertEqual(bs.rate(ps, 0.05)[:2], (2, 4))
        self.assertEqual(bs.rate_cell([None, None], 0.05), "-")
        self.assertEqual(bs.rate_cell([0.01, 0.5], 0.05), "0.500 (0.095-0.905)")

    def test_monte_carlo_z(self):
        self.assertEqual(bs.monte_carlo_z(0.3, 0.3, 1000), 0.0)
        z = bs.monte_carlo_z(0.32, 0.30, 1000)
        self.assertAlmostEqual(z, 0.02 / (0.31 * 0.69 * 2 / 1000) ** 0.5)
        self.assertAlmostEqual(bs.monte_carlo_z(0.30, 0.32, 1000), -z)
        # Both at the smallest p a test of 1,000 replicates can give: no difference.
        self.assertEqual(bs.monte_carlo_z(1 / 1001, 1 / 1001, 1000), 0.0)


class Deciles(unittest.TestCase):
    def test_edges_go_up_and_one_is_in_the_last_tenth(self):
        ps = [0.0, 0.0999, 0.1, 0.3, float("0.7"), 0.95, 1.0, None, 0.2 + 0.1]
        counts = [round(x * 8) for x in bs.deciles(ps)]
        self.assertEqual(counts, [2, 1, 0, 2, 0, 0, 0, 1, 0, 2])

    def test_every_p_of_a_permutation_count_lands_in_its_tenth(self):
        for permutations in (100, 500, 1000):
            ps = [k / permutations for k in range(permutations + 1)]
            counts = [round(x * len(ps)) for x in bs.deciles(ps)]
            tenth = permutations // 10
            self.assertEqual(counts, [tenth] * 9 + [tenth + 1], permutations)

    def test_zeros_and_medians(self):
        self.assertEqual(bs.share_zero([0.0, 0.2, None, 0.0]), (2, 3))
        self.assertEqual(bs.median([3, None, 1, 2]), 2)
        self.assertEqual(bs.median([4, 1, 2, 3]), 2.5)


CC_SUMMARY = "96\t2.44181\t1.83524\t0.832\t98\t4.25917\t1.4085"
QT_SUMMARY = ("89\t2.1804\t1.52846\t0.97\t43\t1.84526\t1.18379\t0.982\t43\t1.90235\t1.5442"
              "\t0.962\t")


class RunReading(unittest.TestCase):
    def test_summary_lines_of_both_modes(self):
        cc = orvane_run.read_summary(CC_SUMMARY + "\n", "s")
        self.assertEqual(cc["cluster"], {"peak": 96, "value": 2.44181, "minus_log10_p": 1.83524,
                                         "permutation_p": 0.832})
        self.assertEqual(cc["chisq"], {"peak": 98, "value": 4.25917, "minus_log10_p": 1.4085,
                                       "permutation_p": None})
        qt = orvane_run.read_summary(QT_SUMMARY, "q")
        self.assertEqual([qt[s]["peak"] for s in ("cluster", "T", "Z")], [89, 43, 43])
        self.assertEqual([qt[s]["permutation_p"] for s in ("cluster", "T", "Z")],
                         [0.97, 0.982, 0.962])
        self.assertEqual(qt["T"]["value"], 1.84526)
        # A window without a cluster and a p of exactly 1 as the summary writes them.
        nan = orvane_run.read_summary("0\t-1e+07\t-0\t1\t3\tnan\tnan\t0.5\t4\t1\t2\t0\t", "q")
        self.assertEqual(nan["cluster"]["value"], -1e7)
        self.assertNotEqual(nan["T"]["value"], nan["T"]["value"])

    def record(self, **changes):
        record = {"version": "0.2.0", "command": ["orvane", "-s"], "mode": "s",
                  "permutation": {"scheme": "joint", "count": 500},
                  "statistics": {"cluster": {"peak": 96, "value": 2.44181,
                                             "minus_log10_p": 1.83524, "permutation_p": 0.832},
                                 "chisq": {"peak": 98, "value": 4.25917,
                                           "minus_log10_p": 1.4085, "permutation_p": 0.126}},
                  "omnibus_p": 0.25, "warnings": []}
        record["statistics"]["cluster"].update(changes)
        return json.dumps(record)

    def test_record_line(self):
        got = orvane_run.read_record(self.record())
        self.assertEqual(orvane_run.permutation_ps(got),
                         {"cluster": 0.832, "chisq": 0.126, "omnibus": 0.25})
        self.assertEqual(got["scheme"], "joint")
        self.assertEqual(got["omnibus_p"], 0.25)
        self.assertEqual(got["statistics"]["chisq"]["permutation_p"], 0.126)
        chained = json.loads(self.record())
        chained["omnibus_p"] = None
        chained["statistics"]["chisq"]["permutation_p"] = None
        got = orvane_run.read_record(json.dumps(chained))
        self.assertIsNone(got["omnibus_p"])
        self.assertIsNone(got["statistics"]["chisq"]["permutation_p"])

    def test_record_against_summary(self):
        summary = orvane_run.read_summary(CC_SUMMARY, "s")
        for changes, agrees in [({}, True), ({"peak": 95}, False), ({"permutation_p": 0.834}, False),
                                ({"value": 2.441810000001}, True), ({"permutation_p": None}, False)]:
            run = orvane_run.read_record(self.record(**changes))
            run["summary"] = summary
            self.assertEqual(orvane_run.record_agrees(run), agrees, changes)

    def test_command_names_the_scheme_after_the_files(self):
        self.assertEqual(orvane_run.command("orvane", "q"),
                         ["orvane", "-q", "data.txt", "params.txt", "dist.txt"])
        self.assertEqual(orvane_run.command("orvane", "s", "joint")[-1], "--permutation=joint")

    def test_run_reads_the_last_record_and_summary(self):
        with tempfile.TemporaryDirectory() as d:
            fake = os.path.join(d, "fake-orvane")
            with open(fake, "w") as f:
                f.write("#!/bin/sh\nprintf 'old\\n%s\\n' >> data.txt-results\n"
                        "echo '%s' >> data.txt-results.jsonl\n" % (CC_SUMMARY, self.record()))
            os.chmod(fake, 0o755)
            with open(os.path.join(d, "data.txt-results"), "w") as f:
                f.write("a block of an earlier run\n")
            got = orvane_run.run(fake, d, "s", "joint")
            self.assertTrue(got["record"])
            self.assertTrue(orvane_run.record_agrees(got))
            self.assertEqual(got["omnibus_p"], 0.25)
            os.remove(os.path.join(d, "data.txt-results.jsonl"))
            with open(fake, "w") as f:
                f.write("#!/bin/sh\nprintf '%s\\n' >> data.txt-results\n" % CC_SUMMARY)
            got = orvane_run.run(fake, d, "s")
            self.assertFalse(got["record"])
            self.assertEqual(got["scheme"], "chained")
            self.assertEqual(got["statistics"]["cluster"]["permutation_p"], 0.832)


ASSOC = """ CHR  SNP   BP   A1  F_A  F_U  A2  CHISQ  P  OR
   1   m1   69    1  0.05  0.05  2        0       1     1
   1   m2  3144   1  0.08  0.06  2   35.18  3e-09  2.3
   1   m3  3200   0   0     0    2      NA      NA    NA
   1   m4  3300   1  0.08  0.06  2   35.18  3e-09  2.3
"""
MPERM = """ CHR  SNP   EMP1   EMP2
   1   m1  0.9466  1
   1   m2  0.000999  0.000999
   1   m3  1  1
   1   m4  0.000999  0.001998
"""


class Plink(unittest.TestCase):
    def test_best_snp_and_its_emp2(self):
        with tempfile.TemporaryDirectory() as d:
            for name, text in (("x.assoc", ASSOC), ("x.assoc.mperm", MPERM)):
                with open(os.path.join(d, name), "w") as f:
                    f.write(text)
            assoc = plink_maxt.read_assoc(os.path.join(d, "x.assoc"))
            emp2 = plink_maxt.read_emp2(os.path.join(d, "x.assoc.mperm"))
        self.assertIsNone(assoc["m3"])
        self.assertEqual(emp2["m4"], 0.001998)
        # Tied chi-squares: the first SNP, from 0 as orvane counts markers.
        self.assertEqual(plink_maxt.best(assoc, emp2), (1, 0.000999))

    def test_people_are_pairs_of_one_status(self):
        labels = ["a", "c", "a", "c", "c"]
        haplotypes = [["1", "2"], ["2", "2"], ["2", "1"], ["1", "1"], ["2", "1"]]
        with tempfile.TemporaryDirectory() as d:
            prefix = os.path.join(d, "p")
            plink_maxt.write_ped(prefix, labels, haplotypes, [150.4, 3000])
            with open(prefix + ".ped") as f:
                ped = f.read().splitlines()
            with open(prefix + ".map") as f:
                mapped = f.read().splitlines()
        self.assertEqual(ped, ["f1 p1 0 0 0 2 1 2 2 1", "f2 p2 0 0 0 1 2 1 2 1"])
        self.assertEqual(mapped, ["1 m1 0 150", "1 m2 0 3000"])


class Studies(unittest.TestCase):
    def test_localisation_error_in_markers(self):
        for peak, want in [(10, 0), (11, 0), (9, 1), (14, 3), (0, 10), (None, None)]:
            self.assertEqual(which_statistic.marker_error(peak, 10, 11), want, peak)

    def test_permutation_count_replaced(self):
        params = "epsilon 2 0.3\nwindowSize 21\npermutations 0\nreportThreshold 1000\n"
        self.assertEqual(coalescent.with_permutations(params, 500),
                         "epsilon 2 0.3\nwindowSize 21\npermutations 500\nreportThreshold 1000\n")

    def test_settings_order_and_modes(self):
        with tempfile.TemporaryDirectory() as d:
            for name in ("qt_common_h2_0.03", "cc_rare_grr6", "qt_null", "cc_null", "other"):
                os.makedirs(os.path.join(d, name))
            open(os.path.join(d, "cc_README.md"), "w").close()
            self.assertEqual(coalescent.settings(d),
                             ["cc_null", "cc_rare_grr6", "qt_null", "qt_common_h2_0.03"])
        self.assertEqual([coalescent.mode_of(s) for s in ("cc_null", "qt_null")], ["s", "q"])


@unittest.skipIf(shutil.which("scrm") is None, "scrm is not installed (Debian package scrm)")
class CoalescentSets(unittest.TestCase):
    SETTINGS = ["cc_null", "cc_common_grr2", "qt_common_h2_0.03"]

    def make(self, folder):
        make_coalescent.main([folder, "--seeds", "7", "7", "--settings", *self.SETTINGS,
                              "--jobs", "1", "--population", "1200", "--people", "100",
                              "--markers", "30"])

    def test_sets_are_seeded_and_read_back(self):
        with tempfile.TemporaryDirectory() as d:
            first, again = os.path.join(d, "a"), os.path.join(d, "b")
            self.make(first)
            self.make(again)
            self.assertEqual(coalescent.settings(first), self.SETTINGS)
            causal = set()
            for setting in self.SETTINGS:
                folder = os.path.join(first, setting, "seed7")
                same = filecmp.cmpfiles(folder, os.path.join(again, setting, "seed7"),
                                        sorted(os.listdir(folder)), shallow=False)
                self.assertEqual(same[1:], ([], []), setting)
                study = coalescent.read_study(first, setting, "seed7")
                truth, haplotypes = study["truth"], study["haplotypes"]
                self.assertEqual((len(haplotypes), len(study["pos_bp"])), (200, 30))
                self.assertEqual(truth["scrm"], "scrm 1200 1 -t 150 -r 120 300000 -SC abs -p 12 "
                                                "-seed 701")
                if setting.startswith("cc_"):
                    self.assertEqual(study["labels"], ["a"] * 100 + ["u"] * 100)
                else:
                    self.assertEqual(len(set(study["labels"][0::2])), 100)
                    self.assertEqual(study["labels"][0::2], study["labels"][1::2])
                for m in range(30):
                    freq = sum(h[m] == "1" for h in haplotypes) / 200
                    self.assertGreaterEqual(min(freq, 1 - freq), 0.05)
                # The causal SNP is untyped, in the middle third, between its markers.
                pos = study["pos_bp"]
                self.assertNotIn(truth["causal_pos_bp"], pos)
                self.assertTrue(100000 <= truth["causal_pos_bp"] < 200000)
                self.assertLess(pos[truth["left_marker"]], truth["causal_pos_bp"])
                self.assertGreater(pos[truth["right_marker"]], truth["causal_pos_bp"])
                self.assertEqual(truth["right_marker"], truth["left_marker"] + 1)
                gaps = [float(g) for g in study["dist"].split()]
                self.assertEqual(len(gaps), 29)
                self.assertAlmostEqual(sum(gaps), (pos[-1] - pos[0]) * 1e-6, places=6)
                causal.add(truth["causal_pos_bp"])
            # One population and one causal SNP for the settings of one frequency range.
            self.assertEqual(len(causal), 1)


class RegionHaplotypes(unittest.TestCase):
    """make_region_vcf.py draws in blocks what one draw over the whole matrix
    drew, so that a seed's region stays the same at every block size."""

    @staticmethod
    def whole(seed, n, m, n_founders, switch, mutation, rare):
        rng = np.random.default_rng(seed)
        founders = (rng.random((n_founders, m)) < rng.uniform(0.1, 0.5, m)).astype(np.uint8)
        switches = rng.random((n, m)) < switch
        switches[:, 0] = True
        segment = np.cumsum(switches, axis=1) - 1
        choice = rng.integers(0, n_founders, size=(n, int(segment.max()) + 1))
        founder = np.take_along_axis(choice, segment, axis=1)
        alleles = founders[founder, np.arange(m)]
        alleles ^= (rng.random((n, m)) < mutation).astype(np.uint8)
        if rare > 0:
            chosen = rng.random(m) < rare
            chosen[m // 2] = False
            frequency = rng.uniform(0.0005, 0.01, m)[chosen]
            alleles[:, chosen] = (rng.random((n, int(chosen.sum()))) < frequency).astype(np.uint8)
        return alleles, founder[:, m // 2], rng.random()

    def test_blocks_draw_what_the_whole_matrix_drew(self):
        block = make_region_vcf.BLOCK
        try:
            for kind in (make_region_vcf.EASY, make_region_vcf.VARIED):
                expected = self.whole(5, 302, 57, *kind)
                for make_region_vcf.BLOCK in (100, 1000, 10 ** 6):
                    rng = np.random.default_rng(5)
                    alleles, middle = make_region_vcf.haplotypes(rng, 302, 57, *kind)
                    self.assertTrue(np.array_equal(alleles, expected[0]))
                    self.assertTrue(np.array_equal(middle, expected[1]))
                    # The draws after them (the phenotype's) start where they did.
                    self.assertEqual(rng.random(), expected[2])
        finally:
            make_region_vcf.BLOCK = block

    def test_vcf_lines(self):
        # Haplotypes 1 and 2 are sample H1's, 3 and 4 H2's; one row per haplotype.
        alleles = np.array([[0, 1], [1, 1], [1, 0], [0, 0]], dtype=np.uint8)
        fixed = "\tA\tG\t.\tPASS\t.\tGT\t"
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "r.vcf.gz")
            for unphased, genotypes in ((False, ["0|1\t1|0", "1|1\t0|0"]),
                                        (True, ["0/1\t0/1", "1/1\t0/0"])):
                make_region_vcf.write_vcf(path, alleles, ["H1", "H2"], unphased)
                with gzip.open(path, "rt") as f:
                    lines = f.read().splitlines()
                self.assertEqual(lines[3], "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\t"
                                           "FORMAT\tH1\tH2")
                self.assertEqual(lines[4:], ["1\t1000000\tm1" + fixed + genotypes[0],
                                             "1\t1001000\tm2" + fixed + genotypes[1]])


SNAKEMAKE_LOG = """Building DAG of jobs...
[Tue Dec  8 14:20:01 2026]
rule extract:
    input: data/source.bgen
    output: run/regions/r1/flank.vcf.gz
    jobid: 3
    wildcards: region=r1
    resources: tmpdir=/tmp, mem_mb=2000

[Tue Dec  8 14:20:31 2026]
Finished job 3.
1 of 4 steps (25%) done

[Tue Dec  8 14:20:31 2026]
localrule summary:
    jobid: 1
[Tue Dec  8 14:20:33 2026]
Finished job 1.
"""

SCONTROL = (
    "JobId=7 JobName=smk.extract.region=1_0.9-1.2Mb JobState=COMPLETED RunTime=00:00:12 "
    "SubmitTime=2026-12-08T14:00:00 StartTime=2026-12-08T14:00:01 EndTime=2026-12-08T14:00:13 "
    "NumCPUs=1 MinMemoryNode=2000M\n"
    "JobId=9 JobName=smk.trim.region=1_0.9-1.2Mb JobState=COMPLETED RunTime=1-00:01:05 "
    "SubmitTime=2026-12-08T14:00:20 StartTime=2026-12-08T14:00:50 EndTime=2026-12-09T14:01:55 "
    "NumCPUs=1 MinMemoryNode=500M\n")


class WorkflowSteps(unittest.TestCase):
    def test_programs_are_given_their_rules(self):
        cases = [("plink2", "plink2 --bgen s.bgen ref-last --export vcf bgz", "extract"),
                 ("plink2", "plink2 --version", None),
                 ("bcftools", "bcftools index -f run/regions/r/flank.vcf.gz", "extract"),
                 ("bcftools", "bcftools view -r 1:1-9 -Oz -o run/regions/r/region.vcf.gz f", "trim"),
                 ("bcftools", "bcftools index -s data/region.vcf.gz", None),
                 ("bcftools", "bcftools view -H -r 1:1-9 data/region.vcf.gz", None),
                 ("orvane", "orvane --check --strict params.txt", None),
                 ("orvane", "orvane --permutation joint -s orvane.dat p.txt orvane.dist", "analyse"),
                 ("orvane-vcf", "orvane-vcf --vcf r.vcf.gz --out o", "convert"),
                 ("bcftools", "bcftools +fill-tags run/regions/r/region.vcf.gz -- -t AC,AN", "convert"),
                 ("bcftools", "bcftools query -f %CHROM\t%POS\t%AC -", "convert"),
                 ("bcftools", "bcftools query -l run/regions/r/flank.vcf.gz", None),
                 ("orvane-plot", "orvane-plot r --data d -o plot.png", "plot"),
                 ("orvane-sumstats", "orvane-sumstats --prefix p --out t", "sumstats"),
                 ("orvane-sumstats", "orvane-sumstats --merge --out t a b", "study_sumstats")]
        for program, command, rule in cases:
            self.assertEqual(workflow_steps.step_of(program, command), rule, command)

    def test_times_per_rule(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "times.tsv")
            with open(path, "w") as f:
                f.write("plink2\t10.5\t2048\tplink2 --bgen s ref-last --export vcf bgz\n"
                        "Command exited with non-zero status 1\n"
                        "bcftools\t1.5\t4096\tbcftools index -f run/regions/r/flank.vcf.gz\n"
                        "orvane\t0.1\t900000\torvane --check --strict p\n")
            runs = workflow_steps.read_times(path)
        self.assertEqual(workflow_steps.per_rule(runs), {"extract": (12.0, 4.0)})

    def test_snakemake_log(self):
        jobs = workflow_steps.snakemake_jobs(SNAKEMAKE_LOG)
        self.assertEqual(sorted(jobs), [1, 3])
        rule, wildcards, start, end = jobs[3]
        self.assertEqual((rule, wildcards, end - start), ("extract", "region=r1", 30))
        self.assertEqual((jobs[1][0], jobs[1][3] - jobs[1][2]), ("summary", 2))

    def test_scontrol_jobs_and_waits(self):
        jobs = workflow_steps.scontrol_jobs(SCONTROL)
        self.assertEqual([(j["id"], j["rule"], j["region"], j["runtime"]) for j in jobs],
                         [(7, "extract", "1_0.9-1.2Mb", 12), (9, "trim", "1_0.9-1.2Mb", 86465)])
        self.assertEqual(workflow_steps.duration("05:07"), 307)
        # trim waited 7 s to be submitted after extract's end, then 30 s in the queue.
        self.assertEqual(workflow_steps.waits(jobs), ([7.0], [30.0]))


if __name__ == "__main__":
    unittest.main()
