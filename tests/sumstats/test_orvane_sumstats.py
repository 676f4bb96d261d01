"""orvane-sumstats on the bundled study's loci, converted and analysed by hand:
the table holds the result file's, the run record's and the marker table's
numbers, opens in pandas, answers tabix region queries, and merges regions
into one sorted, indexed study table. Run by ctest with the build folder in
ORVANE_BUILD and a scratch folder in ORVANE_WORK."""
import gzip
import json
import math
import os
import random
import re
import shutil
import subprocess

import pandas as pd
import pytest
import yaml

BUILD = os.environ["ORVANE_BUILD"]
WORK = os.environ["ORVANE_WORK"]
SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
STUDY = os.path.join(SOURCE, "examples", "study")
EXAMPLE = os.path.join(SOURCE, "examples", "vcf")
SUMSTATS = os.path.join(BUILD, "orvane-sumstats")

# (name, converter options, mode): two loci of the bundled study (a third of
# its samples unphased), and the worked example (three missing alleles) with
# a trait.
LOCI = [("locus1", ["--vcf", os.path.join(STUDY, "study.vcf.gz"), "--region", "1:8000001-8300000",
                    "--map", os.path.join(STUDY, "chr1.map"), "--unphased-as-missing"], "s"),
        ("locus3", ["--vcf", os.path.join(STUDY, "study.vcf.gz"), "--region", "2:11200001-11500000",
                    "--map", os.path.join(STUDY, "chr2.map"), "--unphased-as-missing"], "s"),
        ("exampleq", ["--vcf", os.path.join(EXAMPLE, "example.vcf"),
                      "--map", os.path.join(EXAMPLE, "genetic_map.txt")], "q")]


def run(command, cwd=None, check=True):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if check and done.returncode != 0:
        raise AssertionError(f"{command} exited {done.returncode}: {done.stderr}")
    return done


def trait_phenotypes(path):
    """The example's samples with a trait drawn from a seeded normal, cases shifted."""
    rng = random.Random(11)
    with open(os.path.join(EXAMPLE, "pheno.txt")) as f:
        rows = [line.split() for line in f][1:]
    with open(path, "w") as out:
        out.write("FID\tIID\tTRAIT\n")
        for fid, iid, status in rows:
            out.write(f"{fid}\t{iid}\t{rng.gauss(0.8 if status == '2' else 0.0, 1.0):.6f}\n")


@pytest.fixture(scope="module")
def regions():
    """Each locus converted, analysed and tabulated in a folder of its own."""
    made = {}
    for name, options, mode in LOCI:
        folder = os.path.join(WORK, name)
        os.makedirs(folder, exist_ok=True)
        pheno = os.path.join(STUDY, "pheno.txt")
        if mode == "q":
            pheno = os.path.join(folder, "trait.txt")
            trait_phenotypes(pheno)
        for old in os.listdir(folder):
            if old.startswith("orvane."):
                os.remove(os.path.join(folder, old))
        run([os.path.join(BUILD, "orvane-vcf"), "--pheno", pheno, "--mode", mode,
             "--out", os.path.join(folder, "orvane")] + options)
        run([os.path.join(BUILD, "orvane"), f"-{mode}", "orvane.dat",
             os.path.join(STUDY, "params.txt"), "orvane.dist"], cwd=folder)
        table = os.path.join(folder, f"{name}.sumstats.tsv.gz")
        run([SUMSTATS, "--prefix", os.path.join(folder, "orvane"), "--region", name,
             "--genome-build", "GRCh38", "--out", table])
        made[name] = (folder, table, mode)
    return made


def read(table):
    return pd.read_csv(table, sep="\t", na_values="#NA", keep_default_na=False)


def result_rows(folder):
    with open(os.path.join(folder, "orvane.dat-results")) as f:
        lines = [line.rstrip("\n").rstrip("\t").split("\t") for line in f]
    header = lines[0]
    end = next(i for i, line in enumerate(lines) if line[0].startswith("Orvane:"))
    return pd.DataFrame([[float(v) for v in line] for line in lines[1:end]], columns=header)


@pytest.mark.parametrize("name", [locus[0] for locus in LOCI])
def test_table_holds_the_runs_numbers(regions, name):
    folder, table, mode = regions[name]
    sumstats = read(table)
    markers = pd.read_csv(os.path.join(folder, "orvane.markers.tsv"), sep="\t", dtype={"chrom": str})
    results = result_rows(folder)
    assert len(sumstats) == len(markers) == len(results)
    # The converter's marker table: where, which alleles, the genetic position.
    assert (sumstats["chromosome"].astype(str) == markers["chrom"]).all()
    assert (sumstats["base_pair_location"] == markers["pos"]).all()
    assert (sumstats["effect_allele"] == markers["alt"].str.split(",").str[0]).all()
    assert (sumstats["other_allele"] == markers["ref"]).all()
    assert (sumstats["rsid"] == markers["id"]).all()
    assert (sumstats["genetic_position_cm"] == markers["cm"]).all()
    assert (sumstats["marker_index"] == results["Markers"]).all()
    # The result file's per-marker values, written as the result file wrote them.
    if mode == "s":
        pairs = [("cluster_score", "Z-score"), ("cluster_neg_log_10_p_value", "tMinusLog10Pvalue"),
                 ("chisq", "SingleSNPChiSQ"), ("chisq_neg_log_10_p_value", "SingleSNPMinusLogP"),
                 ("neg_log_10_p_value", "SingleSNPMinusLogP")]
    else:
        pairs = [("t", "T"), ("welch_t", "WelthT"), ("welch_df", "DoFWelthT"),
                 ("mann_whitney_u", "U"), ("mann_whitney_z", "Z")]
        formed = results["Q-score"] != -1e7
        assert formed.any()
        assert (sumstats["cluster_score"][formed] == results["Q-score"][formed]).all()
        assert sumstats["cluster_score"][~formed].isna().all()
        assert (sumstats["cluster_neg_log_10_p_value"][formed] ==
                results["MinusLog10Pvalue"][formed]).all()
    for ours, theirs in pairs:
        defined = results[theirs].apply(math.isfinite)
        assert (sumstats[ours][defined] == results[theirs][defined]).all(), ours
        assert sumstats[ours][~defined].isna().all(), ours
    # The run record's peaks are the table's maxima.
    with open(os.path.join(folder, "orvane.dat-results.jsonl")) as f:
        record = json.loads(f.readlines()[-1])
    statistics = record["statistics"]
    assert sumstats.loc[statistics["cluster"]["peak"], "cluster_score"] == statistics["cluster"]["value"]
    if mode == "s":
        peak = statistics["chisq"]
        assert sumstats.loc[peak["peak"], "chisq"] == peak["value"]
        assert sumstats.loc[peak["peak"], "neg_log_10_p_value"] == peak["minus_log10_p"]
    else:
        peak = statistics["T"]
        assert sumstats.loc[peak["peak"], "t"] == peak["value"]
        # The record's -log10 p is the same t tail, rounded to six digits.
        assert sumstats.loc[peak["peak"], "t_neg_log_10_p_value"] == pytest.approx(
            peak["minus_log10_p"], rel=1e-4)
    # The effect has the single-marker test's sign; every -log10 p is finite.
    effect = "odds_ratio" if mode == "s" else "beta"
    assert effect in sumstats.columns and ("beta" in sumstats.columns) == (mode == "q")
    assert sumstats[[c for c in sumstats.columns if c.endswith("neg_log_10_p_value")]].stack().map(
        math.isfinite).all()
    if mode == "q":
        # Where no allele is missing, beta / se is the run's pooled T.
        with open(os.path.join(folder, "orvane.dat")) as f:
            codes = [line.split("\t")[2:] for line in f.read().splitlines()[1:]]
        complete = [k for k in range(len(sumstats)) if all(row[k] != "0" for row in codes)]
        assert len(complete) > 40
        typed = sumstats.loc[complete].dropna(subset=["beta", "t"])
        assert len(typed) > 40
        assert (typed["beta"] / typed["standard_error"]).to_numpy() == pytest.approx(
            typed["t"].to_numpy(), rel=1e-4, abs=1e-5)
    frequencies = sumstats["effect_allele_frequency"]
    assert frequencies.between(0, 1).all()


def test_columns_start_with_the_standard_ones(regions):
    expected = ["chromosome", "base_pair_location", "effect_allele", "other_allele"]
    for name, (_, table, mode) in regions.items():
        header = list(read(table).columns)
        effect = "odds_ratio" if mode == "s" else "beta"
        assert header[:8] == expected + [effect, "standard_error", "effect_allele_frequency",
                                         "neg_log_10_p_value"], name
        assert header[8] == "rsid"


def test_metadata(regions):
    folder, table, _ = regions["locus1"]
    with open(table[: -len(".tsv.gz")] + ".yaml") as f:
        meta = yaml.safe_load(f)
    with open(os.path.join(folder, "orvane.dat-results.jsonl")) as f:
        record = json.loads(f.readlines()[-1])
    haplotypes = pd.read_csv(os.path.join(folder, "orvane.haplotypes.tsv"), sep="\t")
    samples = haplotypes.drop_duplicates("sample")
    assert meta["genome_assembly"] == "GRCh38"
    assert meta["file_type"] == "GWAS-SSF v1.1"
    assert meta["data_file_name"] == "locus1.sumstats.tsv.gz"
    assert meta["samples"] == [{"sample_size": len(samples),
                                "case_count": int((samples["phenotype"] == "case").sum()),
                                "control_count": int((samples["phenotype"] == "control").sum())}]
    assert meta["analysis_software"].startswith("orvane ")
    assert meta["orvane"]["permutation_scheme"] == record["permutation"]["scheme"] == "joint"
    assert meta["orvane"]["permutation_count"] == 200
    assert meta["orvane"]["omnibus_p"] == record["omnibus_p"]
    import hashlib
    with open(table, "rb") as f:
        assert meta["data_file_md5sum"] == hashlib.md5(f.read()).hexdigest()


def tabix_rows(table, query):
    lines = run(["tabix", table, query]).stdout.splitlines()
    return [line.split("\t") for line in lines]


def test_tabix_returns_the_rows_of_a_stretch(regions):
    _, table, _ = regions["locus1"]
    sumstats = read(table)
    low, high = sumstats["base_pair_location"].iloc[[10, 20]]
    rows = tabix_rows(table, f"1:{low}-{high}")
    expected = sumstats[(sumstats["base_pair_location"] >= low) &
                        (sumstats["base_pair_location"] <= high)]
    assert [int(r[1]) for r in rows] == list(expected["base_pair_location"])
    assert len(rows) >= 11
    assert tabix_rows(table, "2:1-100000000") == []


def test_study_table_is_sorted_merged_and_indexed(regions):
    tables = [regions["locus3"][1], regions["locus1"][1]]  # out of order on purpose
    study = os.path.join(WORK, "study.sumstats.tsv.gz")
    run([SUMSTATS, "--merge", "--out", study] + tables)
    merged = read(study)
    parts = [read(t) for t in tables]
    assert len(merged) == sum(len(p) for p in parts)
    assert list(merged["region"].drop_duplicates()) == ["locus1", "locus3"]
    keys = list(zip(merged["chromosome"], merged["base_pair_location"]))
    assert keys == sorted(keys)
    assert [int(r[1]) for r in tabix_rows(study, "2:1-300000000")] == list(
        parts[0]["base_pair_location"])
    # A trait table does not merge with case/control ones.
    done = run([SUMSTATS, "--merge", "--out", os.path.join(WORK, "mixed.sumstats.tsv.gz"),
                regions["exampleq"][1], regions["locus1"][1]], check=False)
    assert done.returncode == 2 and "columns differ" in done.stderr
    assert not os.path.exists(os.path.join(WORK, "mixed.sumstats.tsv.gz"))


def test_a_strong_signal_keeps_a_finite_p(tmp_path):
    """A marker whose -log10 p underflowed to inf in the result file gets the
    tail recomputed in log space."""
    prefix = str(tmp_path / "strong")
    alleles = ["1"] * 400 + ["2"] * 400
    with open(prefix + ".dat", "w") as f:
        f.write("id status m0 m1\n")
        for h in range(800):
            f.write(f"{h + 1} {'a' if h < 400 else 'c'} {alleles[h]} 1\n")
    with open(prefix + ".markers.tsv", "w") as f:
        f.write("index\tchrom\tpos\tid\tref\talt\tcm\n0\tchr5\t100\trs1\tA\tG\t0\n"
                "1\tchr5\t200\trs2\tC\tT\t0.1\n")
    with open(prefix + ".haplotypes.tsv", "w") as f:
        f.write("identifier\tsample\thaplotype\tphenotype\n")
        for h in range(800):
            f.write(f"{h + 1}\tS{h // 2}\t{h % 2 + 1}\t{'case' if h < 400 else 'control'}\n")
    with open(prefix + ".dat-results", "w") as f:
        f.write("GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n"
                "0\t0\t28.2843\tinf\t800\tinf\n0.001\t1\t0\t-0\t0\t0\n"
                "Orvane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
                "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n0\t28.2843\tinf\t0\t0\t800\tinf\n")
    with open(prefix + ".dat-results.jsonl", "w") as f:
        f.write(json.dumps({"mode": "s", "haplotypes": 800, "markers": 2,
                            "permutation": {"scheme": "joint", "count": 0}}) + "\n")
    table = prefix + ".sumstats.tsv.gz"
    run([SUMSTATS, "--prefix", prefix, "--out", table])
    sumstats = read(table)
    # P(chi-square_1 >= 800) = erfc(20) = 5.4e-176: -log10 175.27.
    assert sumstats.loc[0, "chisq_neg_log_10_p_value"] == pytest.approx(175.2675, abs=1e-3)
    assert sumstats.loc[0, "cluster_neg_log_10_p_value"] == pytest.approx(175.2675, abs=1e-3)
    assert sumstats.loc[0, "chromosome"] == 5
    assert math.isnan(sumstats.loc[0, "odds_ratio"])  # a zero cell: no odds ratio
    assert sumstats.loc[1, "neg_log_10_p_value"] == 0


@pytest.mark.parametrize("name", ["locus1", "exampleq"])
@pytest.mark.parametrize("layout", ["spaces", "beyond a byte"])
def test_every_way_of_reading_the_codes_gives_the_same_table(regions, tmp_path, name, layout):
    """orvane-vcf's tab-separated single digits are read as they lie, a byte
    each; the same codes separated by spaces are split and packed a byte
    each; one code that does not fit (300, read as "not the effect allele" as
    2 is) halfway down the file sends the reader back to lists of ints. The
    table is the same every way, in both modes."""
    folder, table, _ = regions[name]
    prefix = str(tmp_path / "orvane")
    for suffix in (".markers.tsv", ".haplotypes.tsv", ".dat-results", ".dat-results.jsonl"):
        shutil.copy(os.path.join(folder, "orvane" + suffix), prefix + suffix)
    with open(os.path.join(folder, "orvane.dat")) as f:
        lines = [re.split(r"[ ,\t]+", line.strip()) for line in f]
    if layout == "spaces":
        separator = " "
    else:
        separator = "\t"
        changed = next(k for k in range(len(lines) // 2, len(lines)) if "2" in lines[k][2:])
        lines[changed][2 + lines[changed][2:].index("2")] = "300"
    with open(prefix + ".dat", "w") as f:
        f.write("".join(separator.join(fields) + "\n" for fields in lines))
    copy = str(tmp_path / "copy.sumstats.tsv.gz")
    run([SUMSTATS, "--prefix", prefix, "--region", name, "--out", copy])
    with gzip.open(table, "rt") as a, gzip.open(copy, "rt") as b:
        assert a.read() == b.read()


@pytest.mark.parametrize("arguments, status, message", [
    (["--prefix", "missing/none"], 2, "cannot read"),
    ([], 1, "give --prefix"),
    (["--merge"], 1, "needs at least one table"),
])
def test_errors(tmp_path, arguments, status, message):
    out = str(tmp_path / "x.sumstats.tsv.gz")
    done = run([SUMSTATS, "--out", out] + arguments, check=False)
    assert done.returncode == status and message in done.stderr
    assert os.listdir(tmp_path) == []
