#!/usr/bin/python3
"""End-to-end tests of orvane-vcf on the small VCFs of data/.

Usage: test_orvane_vcf.py ORVANE_VCF DATA_DIR WORK_DIR VERSION
Needs bgzip, tabix and bcftools on PATH, and numpy for the independent
least-squares fit of the covariate test.
"""
import os
import re
import shutil
import subprocess
import sys

import numpy

TOOL, DATA, WORK, VERSION = sys.argv[1:5]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def data(name):
    return os.path.join(DATA, name)


def run(*args):
    p = subprocess.run([TOOL, *args], capture_output=True, text=True)
    return p.returncode, p.stderr


def convert(prefix, *args, vcf="basic.vcf", pheno="pheno_cc.txt"):
    """Runs a conversion that must succeed; returns the outputs as text."""
    out = os.path.join(WORK, prefix)
    vcf_path = vcf if os.path.isabs(vcf) else data(vcf)
    rc, err = run("--vcf", vcf_path, "--pheno", data(pheno), "--out", out, *args)
    check(rc == 0, f"{prefix}: status {rc}: {err.strip()}")
    files = {}
    for ext in ("dat", "dist", "markers.tsv", "haplotypes.tsv", "left-out.tsv"):
        path = f"{out}.{ext}"
        files[ext] = open(path).read() if os.path.exists(path) else ""
    files["stderr"] = err
    return files


def column(tsv_text, name):
    rows = [line.split("\t") for line in tsv_text.splitlines()]
    i = rows[0].index(name)
    return [r[i] for r in rows[1:]]


def leftovers(prefix):
    return sorted(f for f in os.listdir(WORK) if f.startswith(prefix))


def sh(*cmd):
    subprocess.run(cmd, check=True, cwd=WORK)


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)

# --- Coding, phenotypes and the map, checked against hand-derived output. ---
basic = convert("basic", "--map", data("map.txt"))
check(basic["dat"] == (
    "id\tstatus\trs1\tchr1:2000\trs4\trs5\trs6\n"
    "1\ta\t2\t3\t2\t2\t0\n"   # S1 (2): 0|1 2|3 0|0 0|0 ./.
    "2\ta\t1\t4\t2\t2\t0\n"
    "3\tc\t1\t2\t2\t2\t1\n"   # S2 (1): 1|1 0|1 0|0 0|1 1|0
    "4\tc\t1\t1\t2\t1\t2\n"
    "5\ta\t2\t0\t1\t2\t2\n"   # S3 (case): 0|0 .|0 1/1 0|0 0|1
    "6\ta\t2\t2\t1\t2\t1\n"
    "7\tc\t1\t2\t2\t0\t1\n"), # S4 (control), haploid: 1 0 0 . 1
      "basic: data file differs:\n" + basic["dat"])
# Map points at 1500, 4000, 5000 bp: site 1000 lies before the map, 2000 between
# points, 4000 and 5000 on points, 6000 beyond the map.
check(column(basic["markers.tsv"], "cm") == ["0.099", "0.101", "0.105", "0.109", "0.113"],
      "basic: cM column " + str(column(basic["markers.tsv"], "cm")))
check(basic["dist"] == "0.002 0.004 0.004 0.004\n", "basic: distances " + basic["dist"])
check(column(basic["markers.tsv"], "alt")[1] == "T,G,CA", "basic: multi-allelic ALT column")
check(column(basic["haplotypes.tsv"], "sample") == ["S1", "S1", "S2", "S2", "S3", "S3", "S4"]
      and column(basic["haplotypes.tsv"], "haplotype") == ["1", "2", "1", "2", "1", "2", "1"],
      "basic: haplotype table")
# Missing alleles: chr1:2000 (1 of 7), rs5 (1 of 7), rs6 (2 of 7): 4 of 35.
summary = basic["stderr"].splitlines()
check(len(summary) == 4 and "kept 4 of 5 samples" in summary[3]
      and "left out 1 without a phenotype and 1 phenotyped but absent" in summary[3]
      and "dropped 1 monomorphic" in summary[3]
      and summary[3].endswith("; 11.43 % of the written alleles missing"),
      "basic: summary line " + basic["stderr"])
check(summary[0] == "orvane-vcf: warning: kept 4 of the VCF's 5 samples (fewer than 20): check "
      "that the phenotype file's sample IDs match the VCF's and that its values are not mostly "
      "missing", "basic: few samples kept " + basic["stderr"])
# The samples left out, by name on the terminal and all of them in a file.
check(summary[1] == "orvane-vcf: warning: left out 2 samples: S5 (phenotype missing), S6 (phenotyped "
      "but not in the VCF); they are listed in " + os.path.join(WORK, "basic.left-out.tsv"),
      "basic: left-out samples " + basic["stderr"])
check(basic["left-out.tsv"] == "sample\treason\nS5\tphenotype missing\nS6\tphenotyped but not in the VCF\n",
      "basic: left-out file " + basic["left-out.tsv"])
check(summary[2].startswith("orvane-vcf: warning: 3 of 5 written sites have more than 5 % of")
      and "phase and impute" in summary[2], "basic: missingness warning " + basic["stderr"])

# More than five left out: five named on the terminal, every one in the file.
with open(os.path.join(WORK, "pheno_many.txt"), "w") as f:
    f.write(open(data("pheno_cc.txt")).read() + "".join(f"G{k} X{k} 2\n" for k in range(1, 7)))
many = convert("many", vcf="basic.vcf", pheno=os.path.join(WORK, "pheno_many.txt"))
check("orvane-vcf: warning: left out 8 samples: S5 (phenotype missing), S6 (phenotyped but not in the "
      "VCF), X1 (phenotyped but not in the VCF), X2 (phenotyped but not in the VCF), X3 (phenotyped but "
      "not in the VCF) and 3 more; all are listed in " + os.path.join(WORK, "many.left-out.tsv") + "\n"
      in many["stderr"], "more than five left out: " + many["stderr"])
check(column(many["left-out.tsv"], "sample") == ["S5", "S6", "X1", "X2", "X3", "X4", "X5", "X6"],
      "more than five left out: file " + many["left-out.tsv"])
check(many["dat"] == basic["dat"], "samples absent from the VCF change no output")

# --- The same genotypes through bcftools: an independent route to the codes. ---
with open(os.path.join(WORK, "basic.vcf.gz"), "wb") as gz:
    subprocess.run(["bgzip", "-c", data("basic.vcf")], stdout=gz, check=True)
sh("bcftools", "view", "-Ob", "-o", "basic.bcf", "basic.vcf.gz")
query = subprocess.run(["bcftools", "query", "-s", "S1,S2,S3,S4", "-f", "%POS\t[%GT\t]\n",
                        os.path.join(WORK, "basic.vcf.gz")],
                       capture_output=True, text=True, check=True).stdout
kept_pos = [int(p) for p in column(basic["markers.tsv"], "pos")]
expected_columns = []
for line in query.splitlines():
    pos, *calls = line.rstrip("\t").split("\t")
    if int(pos) not in kept_pos:
        continue
    codes = []
    for gt in calls:
        for allele in re.split(r"[|/]", gt):
            codes.append("0" if allele == "." else "2" if allele == "0"
                         else "1" if allele == "1" else str(int(allele) + 1))
    expected_columns.append(codes)
dat_rows = [line.split("\t")[2:] for line in basic["dat"].splitlines()[1:]]
got_columns = [list(col) for col in zip(*dat_rows)]
check(got_columns == expected_columns,
      f"bcftools cross-check: {got_columns} != {expected_columns}")
for name in ("basic.vcf.gz", "basic.bcf"):
    other = convert("from_" + name.replace(".", "_"), "--map", data("map.txt"),
                    vcf=os.path.join(WORK, name))
    check(all(other[k] == basic[k] for k in ("dat", "dist", "markers.tsv", "haplotypes.tsv")),
          f"{name}: output differs from the plain VCF's")

# --- Site filters. Non-major frequencies: rs1 3/7, chr1:2000 3/6, rs4 2/7,
# rs5 1/6, rs6 2/5; rs3 is monomorphic among the kept samples. ---
for maf, ids in (("0.2", ["rs1", "chr1:2000", "rs4", "rs6"]), ("0.45", ["chr1:2000"])):
    got = column(convert("maf" + maf, "--min-maf", maf)["markers.tsv"], "id")
    check(got == ids, f"--min-maf {maf}: {got}")

for args, dist in (((), "0.001 0.002 0.001 0.001\n"),
                   (("--cm-per-mb", "2.5"), "0.0025 0.005 0.0025 0.0025\n")):
    got = convert("rate" + "".join(args), *args)["dist"]
    check(got == dist, f"constant rate {args}: {got}")

# --- Trait mode: tab-separated table, an empty field and -9 are missing. ---
trait = convert("trait", "--mode", "q", "--pheno-col", "BMI", pheno="pheno_q.tsv")
check([line.split("\t")[1] for line in trait["dat"].splitlines()]
      == ["trait", "21.5", "21.5", "10", "10", "30.25", "30.25"], "trait column:\n" + trait["dat"])
check("rs3" in trait["dat"].splitlines()[0], "trait: rs3 varies once S5 is kept")
check("case/control coding" not in trait["stderr"], "trait: three values, no hint " + trait["stderr"])
# A 1/2 column read as a trait: converted, with the hint.
coded = convert("trait_coded", "--mode", "q", "--pheno-col", "PHENO", pheno="pheno_q.tsv")
check("orvane-vcf: warning: " + data("pheno_q.tsv") + ": the trait column 'PHENO' holds only the "
      "values 1 and 2: is it a case/control coding? then convert with --mode s\n"
      in coded["stderr"], "trait: two-valued column " + coded["stderr"])

# --- Unphased calls: 0/1 and 0/. are ambiguous, 1/1 is not. ---
rc, err = run("--vcf", data("unphased.vcf"), "--pheno", data("pheno_u.txt"),
              "--out", os.path.join(WORK, "unph"))
check(rc == 2 and "chr1:300" in err and "S2" in err and "--unphased-as-missing" in err,
      f"unphased call: status {rc}: {err}")
unphased = convert("unph_missing", "--unphased-as-missing", vcf="unphased.vcf",
                   pheno="pheno_u.txt")
check("instead of using --unphased-as-missing" in unphased["stderr"].splitlines()[1]
      and "2 unphased calls set missing; 33.33 % of the written alleles missing"
      in unphased["stderr"], "--unphased-as-missing: warning and share " + unphased["stderr"])
check([line.split("\t")[2:] for line in unphased["dat"].splitlines()[1:]] ==
      [["2", "1", "0"], ["1", "2", "0"], ["1", "0", "1"], ["1", "0", "2"],
       ["2", "2", "0"], ["2", "2", "0"]], "--unphased-as-missing:\n" + unphased["dat"])

# --- Regions on indexed files; POS decides, so the deletion at chr2:148 that
# reaches into the region stays out. ---
with open(os.path.join(WORK, "region.vcf.gz"), "wb") as gz:
    subprocess.run(["bgzip", "-c", data("region.vcf")], stdout=gz, check=True)
sh("tabix", "-p", "vcf", "region.vcf.gz")
sh("bcftools", "view", "-Ob", "-o", "region.bcf", "region.vcf.gz")
sh("bcftools", "index", "region.bcf")
for name in ("region.vcf.gz", "region.bcf"):
    got = column(convert("region_" + name.replace(".", "_"), "--region", "chr2:150-350",
                         vcf=os.path.join(WORK, name), pheno="pheno_u.txt")["markers.tsv"], "id")
    check(got == ["r4", "r5", "r6"], f"--region on {name}: {got}")

# --- A PLINK .fam file, by its suffix or by --pheno-format: the same samples
# and statuses as the table pheno_cc.txt. ---
for name, args in (("pheno.fam", ()), ("pheno_fam.txt", ("--pheno-format", "fam"))):
    fam = convert("fam_" + name.replace(".", "_"), "--map", data("map.txt"), *args, pheno=name)
    check(all(fam[k] == basic[k] for k in ("dat", "dist", "markers.tsv", "haplotypes.tsv")),
          f"{name}: output differs from the table's")

# --- Covariates: residuals of the trait on an intercept, AGE, SEX and PC1,
# checked against numpy's least squares over the kept samples. Q11 lacks AGE,
# Q12 has no covariate line. ---
adjusted = convert("covar", "--mode", "q", "--covar", data("covar.txt"),
                   "--covar-cols", "AGE,SEX,PC1", vcf="covar.vcf", pheno="covar_pheno.tsv")
height = {r[1]: float(r[2]) for r in
          (line.split("\t") for line in open(data("covar_pheno.tsv")).read().splitlines()[1:])}
covar = {r[1]: r[2:5] for r in
         (line.split() for line in open(data("covar.txt")).read().splitlines()[1:])}
kept = [f"Q{i}" for i in range(1, 11)]
design = numpy.array([[1.0] + [float(v) for v in covar[s]] for s in kept])
trait = numpy.array([height[s] for s in kept])
coefficients = numpy.linalg.lstsq(design, trait, rcond=None)[0]
expected = numpy.repeat(trait - design @ coefficients, 2)
written = numpy.array([float(line.split("\t")[1]) for line in adjusted["dat"].splitlines()[1:]])
check(written.shape == expected.shape and numpy.abs(written - expected).max() < 1e-6,
      f"covariate residuals {written} != {expected}")
check(column(adjusted["haplotypes.tsv"], "sample") == [s for s in kept for _ in (1, 2)],
      "covariates: kept samples " + adjusted["haplotypes.tsv"])
check("; left out 2 missing a covariate" in adjusted["stderr"], "covariates: summary "
      + adjusted["stderr"])
check([row.split("\t")[1] for row in adjusted["left-out.tsv"].splitlines()[1:]].count("covariate missing") == 2,
      "covariates: left-out file " + adjusted["left-out.tsv"])
# Every column but FID and IID by default: CONST is constant.
rc, err = run("--vcf", data("covar.vcf"), "--pheno", data("covar_pheno.tsv"), "--mode", "q",
              "--covar", data("covar.txt"), "--out", os.path.join(WORK, "covar_all"))
check(rc == 2 and "covariate CONST is constant" in err and leftovers("covar_all") == [],
      f"constant covariate: status {rc}: {err}")

# --- Bad input: one error line, the documented status, no output left. ---
missing_dir = os.path.join(WORK, "no_such_dir", "x")
error_cases = [
    # (name, arguments, status, text the error line must hold)
    ("no_vcf_option", [], 1, "--vcf is required"),
    ("unknown_option", ["--vcf", data("basic.vcf"), "--frobnicate"], 1, "--frobnicate"),
    ("map_and_rate", ["--map", data("map.txt"), "--cm-per-mb", "2"], 1, "exclude"),
    ("bad_maf", ["--min-maf", "0.7"], 1, "--min-maf"),
    ("vcf_missing", ["--vcf", data("nothing.vcf")], 2, "nothing.vcf: cannot open"),
    ("not_a_vcf", ["--vcf", data("map.txt")], 2, "not a VCF"),
    ("two_chromosomes", ["--vcf", data("region.vcf"), "--pheno", data("pheno_u.txt")], 2,
     "--region"),
    ("region_unindexed", ["--vcf", data("region.vcf"), "--pheno", data("pheno_u.txt"),
                          "--region", "chr2:1-500"], 2, "index"),
    ("unsorted", ["--vcf", data("unsorted.vcf"), "--pheno", data("pheno_u.txt")], 2,
     "chr1:100 (r2) follows chr1:200"),
    ("no_gt", ["--vcf", data("truncated.vcf"), "--pheno", data("pheno_u.txt")], 2,
     "chr1:200 (r2): no GT"),
    ("bad_case_code", ["--pheno", data("pheno_badcode.txt")], 2, "pheno_badcode.txt:3: sample S2"),
    ("no_such_column", ["--pheno-col", "AGE2"], 2, "AGE2"),
    ("map_decreasing", ["--map", data("map_decreasing.txt")], 2, "decreases"),
    ("trait_in_cc_mode", ["--pheno", data("pheno_q.tsv"), "--pheno-col", "AGE"], 2,
     "pheno_q.tsv:2: sample S1"),
    ("no_common_sample", ["--pheno", data("pheno_other.txt")], 2, "none of its 5 samples"),
    ("missing_dir", ["--out", missing_dir], 3, "cannot write " + missing_dir + ".dat"),
    ("zero_one_coded", ["--pheno", data("pheno_01.txt")], 2,
     "pheno_01.txt: 0 cases and 2 controls among the 2 kept samples; case/control codes are "
     "2 or case = case, 1 or control = control, 0, -9, NA or . = missing; the values look "
     "like 0/1 coding (2 ones, 2 zeros): recode 1 as 2 and 0 as 1"),
    ("no_controls", ["--pheno", data("pheno_cases_only.txt")], 2,
     "pheno_cases_only.txt: 4 cases and 0 controls among the 4 kept samples"),
    ("headerless", ["--pheno", data("pheno_noheader.txt")], 2,
     "pheno_noheader.txt:1: the first line names VCF sample S1"),
    ("fam_read_as_table", ["--pheno", data("pheno_fam.txt")], 2, "--pheno-format fam"),
    ("fam_short_line", ["--pheno", data("pheno_cc.txt"), "--pheno-format", "fam"], 2,
     "pheno_cc.txt:1: 3 columns; a .fam line has six"),
    ("fam_with_column", ["--pheno", data("pheno.fam"), "--pheno-col", "PHENO"], 1,
     "--pheno-col does not apply"),
    ("bad_pheno_format", ["--pheno-format", "csv"], 1, "table or fam"),
    ("blank_line", ["--vcf", data("blank_line.vcf")], 2,
     "blank_line.vcf:12: blank or malformed line (after site chr1:6000 (rs6))"),
    ("region_unprefixed", ["--vcf", os.path.join(WORK, "region.vcf.gz"), "--pheno",
                           data("pheno_u.txt"), "--region", "2:150-350"], 2,
     "no contig '2' (its contigs: chr1, chr2); did you mean 'chr2'?"),
    ("region_unknown", ["--vcf", os.path.join(WORK, "region.bcf"), "--pheno",
                        data("pheno_u.txt"), "--region", "chrX"], 2,
     "no contig 'chrX' (its contigs: chr1, chr2)"),
    ("covar_case_control", ["--covar", data("covar.txt")], 1, "trait mode (--mode q) only"),
    ("covar_cols_alone", ["--mode", "q", "--covar-cols", "AGE"], 1, "--covar-cols needs"),
    ("covar_collinear", ["--vcf", data("covar.vcf"), "--pheno", data("covar_pheno.tsv"),
                         "--mode", "q", "--covar", data("covar.txt"), "--covar-cols",
                         "AGE,PC1,COLL"], 2,
     "covariate COLL is collinear with the intercept and AGE, PC1"),
    ("covar_no_column", ["--vcf", data("covar.vcf"), "--pheno", data("covar_pheno.tsv"),
                         "--mode", "q", "--covar", data("covar.txt"), "--covar-cols", "BMI"],
     2, "covar.txt:1: no column named 'BMI'"),
    ("covar_not_a_number", ["--vcf", data("covar.vcf"), "--pheno", data("covar_pheno.tsv"),
                            "--mode", "q", "--covar", data("pheno_cc.txt")], 2,
     "pheno_cc.txt:4: sample S3: covariate PHENO: 'case' is not a number"),
]
for name, extra, status, text in error_cases:
    prefix = "err_" + name
    args = {"--vcf": data("basic.vcf"), "--pheno": data("pheno_cc.txt"),
            "--out": os.path.join(WORK, prefix)}
    rest = []
    i = 0
    while i < len(extra):  # later values replace the defaults above
        if extra[i] in args and i + 1 < len(extra):
            args[extra[i]] = extra[i + 1]
            i += 2
        else:
            rest.append(extra[i])
            i += 1
    if name == "no_vcf_option":
        del args["--vcf"]
    argv = [x for kv in args.items() for x in kv] + rest
    rc, err = run(*argv)
    lines = err.splitlines()
    check(rc == status and len(lines) == 1 and lines[0].startswith("orvane-vcf: error: ")
          and text in lines[0], f"{name}: status {rc}, stderr {err!r}")
    check(leftovers(prefix) == [], f"{name}: left {leftovers(prefix)}")

# An output that cannot be put in place (here a directory in the way of
# PREFIX.markers.tsv) undoes the files already renamed.
os.mkdir(os.path.join(WORK, "blocked.markers.tsv"))
rc, err = run("--vcf", data("basic.vcf"), "--pheno", data("pheno_cc.txt"),
              "--out", os.path.join(WORK, "blocked"))
check(rc == 3 and "blocked.markers.tsv" in err and leftovers("blocked") == ["blocked.markers.tsv"],
      f"blocked output: status {rc}, left {leftovers('blocked')}, {err!r}")

# A failed run leaves the complete outputs of an earlier run as they were.
before = convert("keep")
rc, _ = run("--vcf", data("unphased.vcf"), "--pheno", data("pheno_u.txt"),
            "--out", os.path.join(WORK, "keep"))
after = {ext: open(os.path.join(WORK, "keep." + ext)).read()
         for ext in ("dat", "dist", "markers.tsv", "haplotypes.tsv")}
check(rc == 2 and all(after[k] == before[k] for k in after)
      and len(leftovers("keep")) == 5, "failed run over earlier outputs: " + str(leftovers("keep")))

rc, _ = run("--help")
check(rc == 0, "--help status")
p = subprocess.run([TOOL, "--version"], capture_output=True, text=True)
check(p.returncode == 0 and p.stdout == f"orvane-vcf {VERSION}\n", f"--version: {p.stdout!r}")

print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
