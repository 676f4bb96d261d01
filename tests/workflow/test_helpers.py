#!/usr/bin/python3
"""Unit tests of the workflow's helpers: regions, tiles, the Bonferroni rule,
reading orvane's run record and the map formats.

usage: test_helpers.py SCRIPTS_DIR WORK_DIR
"""
import json
import io
import os
import shutil
import subprocess
import sys
import unittest

SCRIPTS, WORK = sys.argv[1], sys.argv[2]
sys.path.insert(0, SCRIPTS)
import checks  # noqa: E402
import study  # noqa: E402
import summary  # noqa: E402
import report  # noqa: E402
import allele_check  # noqa: E402
import swap_alleles  # noqa: E402

SCHEMA = checks.load_schema(os.path.join(SCRIPTS, "..", "config.schema.yaml"))


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


class Regions(unittest.TestCase):
    def test_bed(self):
        path = write("ok.bed", "# loci\nchrom\tstart\tend\tname\n1\t100\t200\tfirst\n\n2 5 9\n")
        regions = study.read_bed(path)
        self.assertEqual([(r.name, r.chrom, r.start, r.end) for r in regions],
                         [("first", "1", 100, 200), ("2_5_9", "2", 5, 9)])
        # BED is 0-based, half open; orvane-vcf's --region is 1-based, inclusive.
        self.assertEqual(regions[0].span(), "1:101-200")
        self.assertEqual(regions[0].span(1000), "1:1-1200")
        # Names keep their text in the summary; paths get a safe form.
        spaced = study.read_bed(write("spaced.bed", "1\t1\t2\tHLA DRB1/x\n"))[0]
        self.assertEqual((spaced.name, spaced.key), ("HLA DRB1/x", "HLA_DRB1_x"))

    def test_bed_errors_name_file_and_line(self):
        cases = [("1\t100\n", "chrom, start and end"),
                 ("1\t1\t2\n1\tx\t200\n", "must be integers"),
                 ("1\t200\t200\n", "must lie after start"),
                 ("1\t1\t2\ta/b\n1\t5\t6\ta_b\n", "as 'a_b' in file names"),
                 ("1\t1\t2\tsame\n1\t5\t6\tsame\n", "used twice")]
        for text, message in cases:
            path = write("bad.bed", text)
            with self.assertRaises(study.ConfigError) as caught:
                study.read_bed(path)
            line = text.count("\n")
            self.assertIn(f"orvane-workflow: error: {path}:{line}: ", str(caught.exception))
            self.assertIn(message, str(caught.exception))

    def test_tiles_cover_the_chromosome(self):
        tiles = study.tile_chromosome("3", 10_200_000, 4, 1)
        self.assertEqual([(t.start, t.end) for t in tiles],
                         [(0, 4_000_000), (3_000_000, 7_000_000), (6_000_000, 10_000_000),
                          (9_000_000, 10_200_000)])
        self.assertEqual(tiles[1].name, "3_3-7Mb")
        self.assertEqual(len(study.tile_chromosome("3", 4_000_000, 4, 1)), 1)
        with self.assertRaises(study.ConfigError):
            study.tiles({"chromosomes": ["3"], "size_mb": 2, "overlap_mb": 2}, {"3": 10})
        with self.assertRaises(study.ConfigError):
            study.tiles({"chromosomes": ["4"], "size_mb": 2}, {"3": 10})

    def test_tiles_without_sites_are_left_out_and_cached(self):
        study_dir = os.path.join(os.path.dirname(SCRIPTS), "..", "examples", "study")
        config = {"vcf": os.path.join(study_dir, "study.vcf.gz"), "outdir": WORK,
                  "tile": {"chromosomes": ["2"], "size_mb": 5, "overlap_mb": 0}}
        # Chromosome 2 (20 Mb) has sites only around 11.2-11.5 Mb.
        self.assertEqual([t.name for t in study.cached_tiles(config)], ["2_10-15Mb"])
        cache = os.path.join(WORK, "tiles.bed")
        with open(cache) as f:
            text = f.read()
        write("tiles.bed", text.replace("2_10-15Mb", "cached"))
        self.assertEqual([t.name for t in study.cached_tiles(config)], ["cached"])
        config["tile"]["size_mb"] = 10
        self.assertEqual([t.name for t in study.cached_tiles(config)], ["2_10-20Mb"])

    def test_tiles_from_biobank_sites(self):
        """A BGEN's and a .pvar's own positions give the VCF's tiles: the
        chromosome ends at its header length, else at its last site, and a
        tile without a site is left out."""
        import bgen_writer
        import source_sites
        sites = [("1", 1_500_000), ("1", 7_200_000), ("1", 7_900_000), ("X", 3_000_000)]
        calls = [(0, 1), (1, 1)]
        bgen = os.path.join(WORK, "sites.bgen")
        bgen_writer.write(bgen, ["a", "b"], [(c, p, f"v{k}", "A", "G", calls)
                                             for k, (c, p) in enumerate(sites)])
        by_chrom = {"1": [1_500_000, 7_200_000, 7_900_000], "X": [3_000_000]}
        self.assertEqual(source_sites.bgen_sites(bgen), by_chrom)
        with_header = write("h.pvar", "##fileformat=VCFv4.2\n##contig=<ID=1,length=9000000>\n"
                            "#CHROM\tPOS\tID\tREF\tALT\n" +
                            "".join(f"{c}\t{p}\tv\tA\tG\n" for c, p in sites))
        bim_like = write("b.pvar", "".join(f"{c}\tv\t0\t{p}\tG\tA\n" for c, p in sites))
        self.assertEqual(source_sites.pvar_sites(with_header), ({"1": 9_000_000}, by_chrom))
        self.assertEqual(source_sites.pvar_sites(bim_like), ({}, by_chrom))
        tile = {"chromosomes": "all", "size_mb": 2, "overlap_mb": 0}
        expected = {"bgen": ["1_0-2Mb", "1_6-7.9Mb", "X_2-3Mb"],
                    "pgen": ["1_0-2Mb", "1_6-8Mb", "X_2-3Mb"]}
        for source, path in (("bgen", bgen), ("pgen", with_header[:-len(".pvar")])):
            outdir = os.path.join(WORK, "tiles-" + source)
            config = {source: path, "outdir": outdir, "tile": tile}
            self.assertEqual([t.name for t in study.cached_tiles(config)], expected[source])
        with self.assertRaises(study.ConfigError) as caught:
            study.cached_tiles({"bgen": write("junk.bgen", "not a bgen file at all, no"),
                                "outdir": WORK, "tile": tile})
        self.assertIn("junk.bgen: not a BGEN file", str(caught.exception))
        with self.assertRaises(study.ConfigError) as caught:
            study.cached_tiles({"bgen": bgen, "outdir": os.path.join(WORK, "tiles-y"),
                                "tile": {"chromosomes": ["Y"], "size_mb": 2}})
        self.assertIn("chromosome 'Y' is not in the BGEN", str(caught.exception))

    def test_config_checks(self):
        base = {"vcf": __file__, "pheno": __file__, "params": __file__, "outdir": "x",
                "regions": __file__}
        study.check_config(base)
        unset = {**base, "tile": None, "cm_per_mb": None, "flank_mb": None, "covar": ""}
        study.drop_unset(unset)
        self.assertEqual(unset, base)
        cases = [({"mode": "x"}, "must be s"), ({"phasing": "eagle"}, "must be one of"),
                 ({"tile": {"chromosomes": [1]}}, "not both"),
                 ({"map": "m.txt"}, "{chrom}"), ({"map": "m{chrom}", "cm_per_mb": 1}, "not both"),
                 ({"covar": "c.txt", "covar_cols": "age"}, "trait mode"),
                 ({"mode": "q", "covar": "c.txt"}, "go together"),
                 ({"pheno": "/nonexistent"}, "no such file")]
        for change, message in cases:
            with self.assertRaises(study.ConfigError) as caught:
                study.check_config({**base, **change})
            self.assertIn(message, str(caught.exception))

    def test_genotype_sources(self):
        base = {"pheno": __file__, "params": __file__, "outdir": "x", "regions": __file__}
        bgen = write("b.bgen", "")
        write("b.sample", "")
        for name in ("p.pgen", "p.pvar", "p.psam"):
            write(name, "")
        pgen = os.path.join(WORK, "p")
        study.check_config({**base, "bgen": bgen, "bgen_ref": "last"})
        study.check_config({**base, "pgen": pgen})
        cases = [({}, "one of 'vcf', 'bgen' or 'pgen'"),
                 ({"vcf": __file__, "pgen": pgen}, "not vcf and pgen"),
                 ({"bgen": bgen, "bgen_ref": "second"}, "must be first"),
                 ({"bgen": write("lone.bgen", "")}, "lone.sample: no such file"),
                 ({"pgen": pgen + "x"}, "px.pgen: no such file (the pgen input needs "
                                        "px.pgen, px.pvar, px.psam)")]
        for change, message in cases:
            config = {**base, **change}
            study.drop_unset(config)
            with self.assertRaises(study.ConfigError) as caught:
                study.check_config(config)
            self.assertIn(message, str(caught.exception))

    def test_plink2_arguments(self):
        # A BGEN is read ref-last whatever its orientation; ref-first ones are
        # turned afterwards. The flank widens the range, never below position 1.
        region = study.Region("r", "chr2", 1000, 2000)
        cases = [({"bgen": "d/b.bgen", "bgen_ref": "first"}, 0,
                  ["--bgen", "d/b.bgen", "ref-last", "--sample", "d/b.sample", "--chr", "chr2",
                   "--from-bp", "1001", "--to-bp", "2000", "--output-chr", "chrM"], True),
                 ({"bgen": "b.bgen"}, 500,  # bgen_ref first by default
                  ["--bgen", "b.bgen", "ref-last", "--sample", "b.sample", "--chr", "chr2",
                   "--from-bp", "501", "--to-bp", "2500", "--output-chr", "chrM"], True),
                 ({"bgen": "b.bgen", "bgen_ref": "last"}, 0,
                  ["--bgen", "b.bgen", "ref-last", "--sample", "b.sample", "--chr", "chr2",
                   "--from-bp", "1001", "--to-bp", "2000", "--output-chr", "chrM"], False),
                 ({"pgen": "p"}, 5000, ["--pfile", "p", "--chr", "chr2", "--from-bp", "1",
                                        "--to-bp", "7000", "--output-chr", "chrM"], False)]
        for config, flank, expected, turned in cases:
            self.assertEqual(study.plink2_arguments(config, region, flank), expected)
            self.assertEqual(study.turns_alleles(config), turned)
        self.assertNotIn("--output-chr", study.plink2_arguments(
            {"pgen": "p"}, study.Region("r", "2", 1, 2), 0))
        # Left to its default (first, as biobanks ship BGEN), bgen_ref is named
        # in a warning; set, it is not.
        self.assertIn("bgen_ref is not set: b.bgen is read with REF as each variant's first",
                      study.config_warnings({"bgen": "b.bgen"})[0])
        self.assertEqual(study.config_warnings({"bgen": "b.bgen", "bgen_ref": "first"}), [])

    def test_files_per_chromosome_and_the_sample_file(self):
        # {chrom} picks the region's chromosome's files; bgen_sample names the
        # sample file (which may hold {chrom} too), else it is FILE.sample.
        region = study.Region("r", "7", 1000, 2000)
        cases = [({"vcf": "v/c{chrom}.vcf.gz"}, ["v/c7.vcf.gz"], None),
                 ({"bgen": "ukb_c{chrom}.bgen", "bgen_sample": "ukb_s487160.sample"},
                  ["ukb_c7.bgen", "ukb_s487160.sample"],
                  ["--bgen", "ukb_c7.bgen", "ref-last", "--sample", "ukb_s487160.sample"]),
                 ({"bgen": "b{chrom}.bgen", "bgen_sample": "s{chrom}.sample"},
                  ["b7.bgen", "s7.sample"], ["--bgen", "b7.bgen", "ref-last", "--sample", "s7.sample"]),
                 ({"bgen": "d/b.bgen", "bgen_sample": "e/s.sample"}, ["d/b.bgen", "e/s.sample"],
                  ["--bgen", "d/b.bgen", "ref-last", "--sample", "e/s.sample"]),
                 ({"pgen": "p/chr{chrom}"}, ["p/chr7.pgen", "p/chr7.pvar", "p/chr7.psam"],
                  ["--pfile", "p/chr7"])]
        for config, files, arguments in cases:
            self.assertEqual(study.source_files(config, "7"), files)
            self.assertEqual(study.per_chromosome(config), "{chrom}" in str(list(config.values())[0]))
            if arguments:
                self.assertEqual(study.plink2_arguments(config, region, 0)[:len(arguments)], arguments)
        self.assertEqual(study.vcf_path({"vcf": "c{chrom}.vcf.gz"}, "X"), "cX.vcf.gz")
        # Each chromosome's files must be there; the message names the chromosome.
        base = {"pheno": __file__, "params": __file__, "outdir": "x", "regions": __file__}
        write("ukb_c1.bgen", "")
        write("ukb.sample", "")
        config = {**base, "bgen": os.path.join(WORK, "ukb_c{chrom}.bgen"),
                  "bgen_sample": os.path.join(WORK, "ukb.sample")}
        study.check_config(config)  # not checked before the regions are known
        study.check_source_files(config, ["1"])
        with self.assertRaises(study.ConfigError) as caught:
            study.check_source_files(config, ["1", "2"])
        self.assertIn("ukb_c2.bgen: no such file (chromosome '2', from ", str(caught.exception))
        with self.assertRaisesRegex(study.ConfigError, "bgen_sample: names the sample file"):
            study.check_config({**base, "vcf": __file__, "bgen_sample": "s.sample"})

    def test_swap_alleles(self):
        lines = ["##fileformat=VCFv4.3\n", "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\n",
                 "1\t10\tx\tA\tG\t.\t.\t.\tGT\t0|1\t1|1\n",
                 "1\t11\ty\tC\tT,G\t.\t.\t.\tGT\t0|2\t./.\n",
                 "1\t12\tz\tT\tC\t.\t.\t.\tGT\t0/1\t.|0\n"]
        out, warnings = io.StringIO(), []
        swap_alleles.swap(lines, out, warnings.append)
        self.assertEqual(out.getvalue(), "".join(lines[:2]) +
                         "1\t10\tx\tG\tA\t.\t.\t.\tGT\t1|0\t0|0\n"
                         "1\t12\tz\tC\tT\t.\t.\t.\tGT\t1/0\t.|1\n")
        self.assertEqual(len(warnings), 1)
        self.assertIn("1 site(s) with more than two alleles left out", warnings[0])
        self.assertIn("first 1:11", warnings[0])
        with self.assertRaises(ValueError):
            swap_alleles.swap(["1\t10\tx\tA\tG\t.\t.\t.\tGT:DS\t0|1:1\n"], out, warnings.append)

    def test_converter_arguments(self):
        region = study.Region("r", "2", 10, 20)
        config = {"pheno": "p.txt", "mode": "q", "cm_per_mb": 0.5, "min_maf": 0.05}
        self.assertEqual(study.converter_arguments(config, region, None),
                         ["--pheno", "p.txt", "--mode", "q", "--region", "2:11-20",
                          "--cm-per-mb", "0.5", "--min-maf", "0.05"])
        config = {"pheno": "p.txt", "pheno_col": "BMI", "covar": "c.txt",
                  "covar_cols": ["age", "sex"]}
        self.assertEqual(study.converter_arguments(config, region, "m2.txt")[6:],
                         ["--pheno-col", "BMI", "--map", "m2.txt", "--covar", "c.txt",
                          "--covar-cols", "age,sex"])


class AlleleCheck(unittest.TestCase):
    def test_a_minor_ref_at_most_markers_warns(self):
        # (ALT count, called alleles) of each marker -> whether it warns.
        cases = [([(10, 100), (20, 100), (90, 100)], False),
                 ([(60, 100), (70, 100), (10, 100)], True),
                 ([(60, 100), (50, 100), (10, 100), (80, 100)], False),  # 2 of 4: not most
                 ([(99, 100)], True), ([], False), ([(5, 0)], False)]
        for counts, warns in cases:
            markers = [("1", str(k), "A", "G") for k in range(len(counts))]
            found = allele_check.swap_warning(markers, dict(zip(markers, counts)))
            self.assertEqual(found is not None, warns, counts)
        found = allele_check.swap_warning([("1", "5", "A", "G"), ("1", "6", "C", "T")],
                                          {("1", "5", "A", "G"): (9, 10),
                                           ("1", "6", "C", "T"): (8, 10),
                                           ("1", "7", "C", "T"): (1, 10)})
        self.assertTrue(found.startswith("orvane-workflow: warning: REF is the minor allele at 2 "
                                         "of the region's 2 markers: REF and ALT are probably "
                                         "swapped"))

    def test_counts_from_a_vcf(self):
        text = ("##fileformat=VCFv4.2\n##contig=<ID=1>\n"
                '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n'
                "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\n"
                "1\t10\tx\tA\tG\t.\t.\t.\tGT\t1|1\t0|1\n"
                "1\t11\ty\tC\tT,G\t.\t.\t.\tGT\t0|1\t.|2\n")
        vcf = write("counts.vcf", text)
        subprocess.run(["bgzip", "-f", vcf], check=True)
        counts = allele_check.allele_counts(vcf + ".gz")
        self.assertEqual(counts, {("1", "10", "A", "G"): (3, 4)})
        markers = write("markers.tsv", "index\tchrom\tpos\tid\tref\talt\tcm\n0\t1\t10\tx\tA\tG\t0\n")
        out = os.path.join(WORK, "alleles.log")
        subprocess.run([sys.executable, os.path.join(SCRIPTS, "allele_check.py"), vcf + ".gz",
                        markers, out], check=True)
        with open(out) as f:
            self.assertIn("REF is the minor allele at 1 of the region's 1 markers", f.read())


class Summary(unittest.TestCase):
    def test_bonferroni(self):
        cases = [("0", 50, 3, "%g" % (3 / 51)), ("0.2", 50, 3, "0.6"), ("0.5", 50, 3, "1"),
                 ("0.01", 1000, 1, "0.01"), ("0", 0, 3, "NA"), ("NA", 50, 3, "NA")]
        for p, permutations, regions, expected in cases:
            self.assertEqual(summary.bonferroni(p, permutations, regions), expected)

    def region_files(self, mode, records):
        """A region folder with three markers, three haplotypes and orvane's run
        record: `records`, one dict per run, the last one current."""
        folder = os.path.join(WORK, "region-" + mode)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        with open(os.path.join(folder, "orvane.dat-results.jsonl"), "w") as f:
            f.write("".join(json.dumps(r) + "\n" for r in records))
        with open(os.path.join(folder, "orvane.markers.tsv"), "w") as f:
            f.write("index\tchrom\tpos\tid\tref\talt\tcm\n")
            for k in range(3):
                f.write(f"{k}\t5\t{100 + k}\tm{k}\tA\tC\t{k / 10}\n")
        with open(os.path.join(folder, "orvane.haplotypes.tsv"), "w") as f:
            f.write("identifier\tsample\thaplotype\tphenotype\n1\tA\t1\t2\n2\tA\t2\t2\n3\tB\t1\t1\n")
        return folder

    @staticmethod
    def record(mode, scheme, statistics, omnibus, count=100, warnings=()):
        return {"version": "0.2.0", "mode": mode, "permutation": {"scheme": scheme, "count": count},
                "statistics": {name: {"peak": peak, "value": value, "minus_log10_p": logp,
                                      "permutation_p": p}
                               for name, (peak, value, logp, p) in statistics.items()},
                "omnibus_p": omnibus, "warnings": list(warnings)}

    def test_trait_row_reads_the_last_record(self):
        older = self.record("q", "joint", {"cluster": (0, 1, 1, 0.5), "T": (0, 1, 1, 0.5),
                                           "Z": (0, 1, 1, 0.5)}, 0.5)
        current = self.record("q", "joint", {"cluster": (2, 5.5, 3.1, 0.0099), "T": (1, 2.5, 1.9, 0.04),
                                             "Z": (0, -3, 2.2, 0.5)}, 0.0198)
        folder = self.region_files("q", [older, current])
        row = summary.region_row("r", "5", 99, 102, folder, "q", 4)
        # The numbers to report come first.
        self.assertEqual(summary.columns("q")[:3], ["region", "omnibus_p", "bonferroni_p"])
        self.assertEqual(dict(zip(summary.columns("q"), row)), {
            "region": "r", "chrom": "5", "start": "99", "end": "102", "samples": "2",
            "haplotypes": "3", "markers": "3", "predicted_id": "m2", "predicted_pos": "102",
            "predicted_cm": "0.2", "score": "5.5", "minus_log10_p": "3.1",
            "permutation_p": "0.0099", "permutations": "100", "bonferroni_p": "0.0792",
            "single_id": "m1", "single_pos": "101", "single_minus_log10_p": "1.9",
            "single_permutation_p": "0.04", "mw_id": "m0", "mw_pos": "100",
            "mw_minus_log10_p": "2.2", "mw_permutation_p": "0.5",
            "permutation_scheme": "joint", "omnibus_p": "0.0198", "warnings": "0",
            "replicates": "100"})

    def test_adaptive_rows_use_the_omnibus_p_and_state_the_replicates_drawn(self):
        # A -log10 p far past what a double's p can hold stays the record's number.
        stopped = self.record("s", "adaptive", {"cluster": (1, 4, 3, 0.25), "chisq": (0, 20000, 4345.19, 0.5)},
                              0.268293, count=100000)
        stopped["permutation"]["replicates"] = 40
        folder = self.region_files("s", [stopped])
        row = dict(zip(summary.columns("s"), summary.region_row("r", "5", 99, 102, folder, "s", 4)))
        self.assertEqual(summary.columns("s")[-1], "replicates")
        self.assertEqual([row[k] for k in ("permutation_p", "permutations", "bonferroni_p",
                                           "permutation_scheme", "omnibus_p", "replicates",
                                           "single_minus_log10_p")],
                         ["0.25", "100000", "1", "adaptive", "0.268293", "40", "4345.19"])

    def test_chained_rows_use_the_cluster_p_and_a_region_without_a_cluster_is_found(self):
        # The chained scheme has no omnibus p: bonferroni_p comes from the cluster
        # score's p, a 0 taken as 1/(P+1). A null -log10 p beside a finite
        # statistic (its p underflowed to 0) reads inf.
        chained = self.record("s", "chained", {"cluster": (1, 4, None, 0), "chisq": (0, 9, 2.1, None)},
                              None, warnings=["no window formed a cluster that could be scored, ..."])
        folder = self.region_files("s", [chained])
        row = dict(zip(summary.columns("s"), summary.region_row("r", "5", 99, 102, folder, "s", 4)))
        self.assertEqual([row[k] for k in ("minus_log10_p", "permutation_p", "bonferroni_p",
                                           "permutation_scheme", "omnibus_p")],
                         ["inf", "0", "%g" % (4 / 101), "chained", "NA"])
        region = study.Region("r", "5", 99, 102)
        self.assertEqual(summary.without_cluster([region], {"r": folder}, "s"), ["r"])
        joint = self.record("s", "joint", {"cluster": (1, 4, 3, 0.2), "chisq": (0, 9, 2.1, 0.01)}, 0.02)
        folder = self.region_files("s", [chained, joint])
        self.assertEqual(summary.without_cluster([region], {"r": folder}, "s"), [])

    def test_values_that_are_missing_or_not_numbers_read_na(self):
        # (value, -log10 p, permutation p) as recorded -> (score, minus_log10_p,
        # permutation_p) as written: null is NA, except a -log10 p whose
        # statistic is finite, which is +inf (its p underflowed to 0).
        cases = [((4, 3.5, 0.2), ("4", "3.5", "0.2")),
                 ((4, None, 0.01), ("4", "inf", "0.01")),
                 ((None, None, None), ("NA", "NA", "NA")),
                 ((None, 2.5, 0.5), ("NA", "2.5", "0.5"))]
        for (value, logp, p), expected in cases:
            record = self.record("s", "joint", {"cluster": (1, value, logp, p),
                                                "chisq": (0, value, logp, p)}, p)
            folder = self.region_files("s", [record])
            row = dict(zip(summary.columns("s"), summary.region_row("r", "5", 99, 102, folder, "s", 1)))
            self.assertEqual((row["score"], row["minus_log10_p"], row["permutation_p"]), expected)
            self.assertEqual(row["single_minus_log10_p"], expected[1])
            self.assertEqual(row["omnibus_p"], expected[2])
            self.assertNotIn("nan", row.values())

    def test_a_record_of_another_mode_or_none_is_an_error(self):
        folder = self.region_files("s", [self.record("s", "joint", {"cluster": (1, 4, 3, 0.2),
                                                                     "chisq": (0, 9, 2.1, 0.01)}, 0.02)])
        with self.assertRaises(summary.SummaryError):
            summary.region_row("r", "5", 99, 102, folder, "q", 2)
        os.remove(os.path.join(folder, "orvane.dat-results.jsonl"))
        with self.assertRaisesRegex(summary.SummaryError, "no run record"):
            summary.region_row("r", "5", 99, 102, folder, "s", 2)


class Warnings(unittest.TestCase):
    def test_gathered_from_the_region_logs_in_the_order_they_ran(self):
        folder = os.path.join(WORK, "warned")
        os.makedirs(os.path.join(folder, "logs"), exist_ok=True)
        write("warned/logs/convert.log", "orvane-vcf: warning: kept 4 of the VCF's 5 samples\n"
              "orvane-vcf: kept 4 of 5 samples\n")
        write("warned/logs/orvane.log", "orvane: warning: params.txt: windowSize 21 is larger\n"
              "orvane: warning: the radius came out 0 in 3 of 9 windows\n"
              "bcftools: warning: not ours\n")
        found = summary.region_warnings(folder)
        self.assertEqual(found, ["orvane-vcf: warning: kept 4 of the VCF's 5 samples",
                                 "orvane: warning: params.txt: windowSize 21 is larger",
                                 "orvane: warning: the radius came out 0 in 3 of 9 windows"])
        self.assertEqual(summary.warnings_cell(found),
                         "3: orvane-vcf: kept 4 of the VCF's 5 samples")
        self.assertEqual(summary.warnings_cell([]), "0")
        quiet = os.path.join(WORK, "quiet")
        os.makedirs(quiet, exist_ok=True)
        regions = [study.Region("a", "1", 0, 10), study.Region("b", "1", 20, 30)]
        lines = summary.warnings_report(regions, {"a": folder, "b": quiet}, limit=2)
        self.assertEqual(lines[0].split(";")[0], "orvane workflow: 3 warning(s) in 1 of 2 region(s)")
        self.assertEqual(lines[1:], ["  a: " + found[0], "  a: " + found[1], "  ... and 1 more"])
        self.assertEqual(summary.warnings_report(regions[1:], {"b": quiet}), [])


class ConfigChecks(unittest.TestCase):
    def test_unknown_keys_name_the_nearest_known_one(self):
        base = {"vcf": "v", "pheno": "p", "params": "x", "outdir": "o"}
        checks.check_keys(base, SCHEMA)
        cases = [({"phaseing": "none"}, "config: unknown key 'phaseing' (did you mean 'phasing'?)"),
                 ({"minmaf": 0.05}, "unknown key 'minmaf' (did you mean 'min_maf'?)"),
                 ({"tile": {"chromosomes": [1], "size": 2}},
                  "config: tile: unknown key 'size' (did you mean 'size_mb'?)"),
                 ({"zzz": 1}, "unknown key 'zzz'; the known keys: bgen, bgen_ref, bgen_sample, bin,")]
        for change, message in cases:
            with self.assertRaises(study.ConfigError) as caught:
                checks.check_keys({**base, **change}, SCHEMA)
            self.assertIn(message, str(caught.exception))

    def test_types_and_ranges(self):
        base = {"vcf": "v", "pheno": "p", "params": "x", "outdir": "o"}
        self.assertIsNone(checks.schema_problem(
            {**base, "min_maf": 0.05, "threads": 2, "tile": {"chromosomes": [1, "X"], "size_mb": 2},
             "covar_cols": ["age", "sex"], "permutation": "chained", "map": "m{chrom}.txt"}, SCHEMA))
        cases = [({"min_maf": 0.7}, "config: min_maf", "0.7 is greater than the maximum of 0.5"),
                 ({"threads": 0}, "config: threads", "0 is less than the minimum of 1"),
                 ({"threads": "two"}, "config: threads", "'two' is not of type 'integer'"),
                 ({"flank_mb": -1}, "config: flank_mb", "-1 is less than the minimum of 0"),
                 ({"mode": "cc"}, "config: mode", "'cc' is not one of ['s', 'q']"),
                 ({"permutation": "both"}, "config: permutation", "'both' is not one of"),
                 ({"tile": {"chromosomes": [1], "size_mb": 0}}, "config: tile: size_mb",
                  "less than or equal to the minimum of 0"),
                 ({"map": "maps/chr7.txt"}, "config: map", "must hold {chrom}"),
                 ({"bgen": "b.bgen"}, "config", "give exactly one of 'vcf', 'bgen' and 'pgen' "
                                                "(given: vcf, bgen)")]
        for change, where, what in cases:
            problem = checks.schema_problem({**base, **change}, SCHEMA)
            self.assertIsNotNone(problem, change)
            self.assertEqual(problem[0], where, change)
            self.assertIn(what, problem[1], change)

    def test_the_bundled_configurations_pass(self):
        import yaml
        for path in ("workflow/config.example.yaml", "examples/study/config.yaml"):
            with open(os.path.join(SCRIPTS, "..", "..", path)) as f:
                config = yaml.safe_load(f)
            study.drop_unset(config)
            checks.check_keys(config, SCHEMA)
            self.assertIsNone(checks.schema_problem(config, SCHEMA), path)

    def test_chr_naming_hint(self):
        self.assertEqual(checks.contig_hint("chr7", ["1", "7"]), " (did you mean '7'?)")
        self.assertEqual(checks.contig_hint("7", ["chr7"]), " (did you mean 'chr7'?)")
        self.assertEqual(checks.contig_hint("8", ["7"]), "")


class PhasingMaps(unittest.TestCase):
    def test_formats(self):
        source = write("chr7.map", "position\trate\tcM\n1000\t1.5\t0\n2000\t1\t0.0015\n")
        expected = {"beagle": "7\t.\t0\t1000\n7\t.\t0.0015\t2000\n",
                    "shapeit4": "pos\tchr\tcM\n1000\t7\t0\n2000\t7\t0.0015\n"}
        for phaser, text in expected.items():
            out = os.path.join(WORK, phaser + ".map")
            subprocess.run([sys.executable, os.path.join(SCRIPTS, "phasing_map.py"), phaser,
                            "7", source, out], check=True)
            with open(out) as f:
                self.assertEqual(f.read(), text)


class Report(unittest.TestCase):
    def test_a_region_without_a_cluster_is_named_and_never_shaded(self):
        header = "\t".join(summary.columns("s"))
        columns = summary.columns("s")
        values = {"omnibus_p": "0.0066", "bonferroni_p": "0.0198", "chrom": "1", "start": "100",
                  "end": "200", "permutation_p": "0", "permutations": "100",
                  "permutation_scheme": "chained", "warnings": "0"}
        rows = ["\t".join({"region": "r%d" % k, **values}.get(c, "1") for c in columns)
                for k in (1, 2)]
        path = write("summary.tsv", header + "\n" + "\n".join(rows) + "\n")
        versions = write("versions.tsv", "program\tversion\norvane\t0.1.0\n")
        params = write("params.txt", "epsilon 2 0.1\n")
        plot = write("plot.png", "not a picture")
        out = os.path.join(WORK, "report.html")
        report.write(out, path, versions, params, {"mode": "s"}, "snakemake", {"1": 300},
                     {"r1": plot, "r2": plot}, ["r2"])
        page = open(out).read()
        shaded = [line for line in page.splitlines() if 'class="significant"' in line]
        self.assertEqual(len(shaded), 1)
        self.assertIn("<td>r1</td>", shaded[0])
        self.assertIn('<p class="warning">No window formed a cluster in r2:', page)


if __name__ == "__main__":
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    unittest.main(argv=sys.argv[:1])
