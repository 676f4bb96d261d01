#!/usr/bin/python3
"""Runs the Snakemake workflow on the bundled study and checks what it gathers.

usage: test_workflow.py CASE ORVANE ORVANE_VCF ORVANE_PLOT SOURCE_DIR WORK_DIR
  CASE beagle, shapeit4: the study as bundled (a third of the samples unphased)
  CASE none:   phasing none on a phased copy of the study; also a rerun, and
               the cluster report only when cluster_report asks for it
  CASE broken: phasing none on a phased copy whose locus2 is unphased: that
               region must fail alone under --keep-going
  CASE checks: the checks made before anything runs (configuration keys and
               types, regions against the VCF and maps, the parameter file),
               and a small region's warnings reaching the terminal, summary.tsv
               and report.html
Every successful case runs orvane-vcf and orvane by hand on each region and
compares the summary row field by field. Exits 77 (skipped) when snakemake,
or the case's phasing program, is missing.
"""
import html
import json
import os
import shutil
import subprocess
import sys

CASE, ORVANE, ORVANE_VCF, ORVANE_PLOT, SOURCE, WORK = sys.argv[1:7]
SKIPPED = 77
STUDY = os.path.join(SOURCE, "examples", "study")
PERMUTATIONS = 50
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def read_tsv(path):
    lines = open(path).read().splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:] if line]


def read_bed(path):
    return [line.split("\t") for line in open(path).read().splitlines() if line]


def sh(*command, **kw):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kw).stdout


def phased_copy(unphase_locus=None):
    """The study with every sample phased; with unphase_locus, that locus's
    heterozygous calls are written unphased."""
    folder = os.path.join(WORK, "phased")
    sh(sys.executable, os.path.join(STUDY, "make_study.py"), folder, "--all-phased")
    if unphase_locus:
        vcf = os.path.join(folder, "study.vcf")
        with open(vcf, "w") as out:
            for line in sh("bcftools", "view", os.path.join(folder, "study.vcf.gz")).splitlines():
                if not line.startswith("#") and \
                        line.split("\t")[2].startswith(unphase_locus + "_"):
                    line = line.replace("|", "/")
                out.write(line + "\n")
        sh("bgzip", "-f", vcf)
        sh("bcftools", "index", "-f", vcf + ".gz")
    return os.path.join(folder, "study.vcf.gz")


def write_config(vcf, phasing):
    tools = os.path.join(WORK, "bin")
    os.makedirs(tools)
    for program in (ORVANE, ORVANE_VCF, ORVANE_PLOT):
        os.symlink(os.path.abspath(program), os.path.join(tools, os.path.basename(program)))
    params = os.path.join(WORK, "params.txt")
    text = open(os.path.join(STUDY, "params.txt")).read()
    with open(params, "w") as f:
        f.write(text.replace("permutations 200", f"permutations {PERMUTATIONS}"))
    config = {"vcf": vcf, "pheno": os.path.join(STUDY, "pheno.txt"), "mode": "s",
              "regions": os.path.join(STUDY, "loci.bed"),
              "map": os.path.join(STUDY, "chr{chrom}.map"), "min_maf": 0.01,
              "phasing": phasing, "flank_mb": 0.2, "params": params,
              "outdir": os.path.join(WORK, "out"), "bin": tools}
    path = os.path.join(WORK, "config.yaml")
    with open(path, "w") as f:
        json.dump(config, f, indent=1)  # JSON is YAML
    return path, config


def snakemake(config_path, *extra):
    return subprocess.run(["snakemake", "-s", os.path.join(SOURCE, "workflow", "Snakefile"),
                           "--cores", "2", "--configfile", config_path, *extra],
                          cwd=WORK, capture_output=True, text=True)


def planned_jobs(config_path):
    """Rule name -> job count of a dry run ("Job stats")."""
    text = snakemake(config_path, "--dry-run").stdout
    table = text.split("Job stats:")[1].split("total")[0].splitlines()[3:]
    return {line.split()[0]: int(line.split()[1]) for line in table if line.strip()}


def by_hand(config, name, chrom, start, end, vcf):
    """orvane-vcf and orvane on one region, as a user types them."""
    folder = os.path.join(WORK, "by-hand", name)
    os.makedirs(folder)
    sh(ORVANE_VCF, "--vcf", vcf, "--pheno", config["pheno"], "--mode", "s",
       "--region", f"{chrom}:{int(start) + 1}-{end}",
       "--map", config["map"].replace("{chrom}", chrom), "--min-maf", "0.01",
       "--out", os.path.join(folder, "hand"))
    sh(os.path.abspath(ORVANE), "-s", "hand.dat", config["params"], "hand.dist", cwd=folder)
    lines = open(os.path.join(folder, "hand.dat-results")).read().splitlines()
    summary = lines[-1].split("\t")
    markers = read_tsv(os.path.join(folder, "hand.markers.tsv"))
    haplotypes = read_tsv(os.path.join(folder, "hand.haplotypes.tsv"))
    predicted, single = markers[int(summary[0])], markers[int(summary[4])]
    with open(os.path.join(folder, "hand.dat-results.jsonl")) as f:
        omnibus = json.loads(f.read().splitlines()[-1])["omnibus_p"]
    corrected = min(1.0, omnibus * 3)
    return {"samples": str(len({h["sample"] for h in haplotypes})),
            "haplotypes": str(len(haplotypes)), "markers": str(len(markers)),
            "predicted_id": predicted["id"], "predicted_pos": predicted["pos"],
            "predicted_cm": predicted["cm"], "score": summary[1],
            "minus_log10_p": summary[2], "permutation_p": summary[3],
            "permutations": str(PERMUTATIONS), "bonferroni_p": "%g" % corrected,
            "single_id": single["id"], "single_pos": single["pos"],
            "single_minus_log10_p": summary[6], "permutation_scheme": "joint",
            "omnibus_p": "%g" % omnibus}


def region_warnings(config, name):
    """The warning lines of a region's logs, read here without the workflow's code."""
    found = []
    for log in ("convert.log", "orvane.log"):
        path = os.path.join(config["outdir"], "regions", name, "logs", log)
        found += [line for line in open(path).read().splitlines()
                  if line.startswith(("orvane: warning: ", "orvane-vcf: warning: "))]
    return found


def check_warnings(config, bed, terminal):
    """Every program warning is in summary.tsv, report.html and on the terminal."""
    rows = {r["region"]: r for r in read_tsv(os.path.join(config["outdir"], "summary.tsv"))}
    page = html.unescape(open(os.path.join(config["outdir"], "report.html")).read())
    section = page.split('<section id="warnings">')[1].split("</section>")[0]
    total = 0
    for name in (b[3] for b in bed):
        found = region_warnings(config, name)
        total += len(found)
        first = found[0].replace(": warning: ", ": ", 1) if found else ""
        check(rows[name]["warnings"] == (f"{len(found)}: {first}" if found else "0"),
              f"{name}: warnings column {rows[name]['warnings']!r}, logs {found}")
        for line in found:
            check(f"<li>{line}</li>" in section, f"{name}: report lacks {line}")
            check(f"  {name}: {line}" in terminal, f"{name}: terminal lacks {line}")
    check((f"orvane workflow: {total} warning(s)" in terminal) == (total > 0),
          f"terminal summary of {total} warnings:\n{terminal[-2000:]}")
    return total


def check_report(config, bed):
    text = open(os.path.join(config["outdir"], "report.html")).read()
    for _, _, _, name in bed:
        check(f'<section class="region" id="region-{name}">' in text, f"report: section {name}")
        check(f'id="overview-{name}"' in text, f"report: {name} in the genome overview")
    check(text.count('<img alt="') == len(bed), "report: one plot per region")
    check(text.count('src="data:image/png;base64,') == len(bed), "report: plots embedded")
    check('src="http' not in text and 'href="http' not in text, "report: no network reference")
    for program in ("orvane", "orvane-vcf", "orvane-plot", "bcftools", "snakemake"):
        check(f"<td>{program}</td>" in text, f"report: version of {program}")
    command = text.split("<h2>Command</h2>")[1]
    check("--configfile" in command and "--target-jobs" not in command
          and "--allowed-rules" not in command, "report: the command typed " + command[:300])
    check("permutations 50" in text, "report: the parameter file")


def check_study(config, bed, vcf_for_hand):
    rows = read_tsv(os.path.join(config["outdir"], "summary.tsv"))
    check([r["region"] for r in rows] == [b[3] for b in bed], "summary: one row per region")
    study_positions = []
    for row, (chrom, start, end, name) in zip(rows, bed):
        check([row["chrom"], row["start"], row["end"]] == [chrom, start, end],
              f"{name}: coordinates {row['chrom']} {row['start']} {row['end']}")
        hand = by_hand(config, name, chrom, start, end, vcf_for_hand(name))
        for field, value in hand.items():
            check(row[field] == value, f"{name}: {field} {row[field]} != by hand {value}")
        check(row["samples"] == "160" and row["haplotypes"] == "320",
              f"{name}: every sample kept")
        positions = [int(m["pos"]) for m in
                     read_tsv(os.path.join(config["outdir"], "regions", name, "orvane.markers.tsv"))]
        check(positions and int(start) < min(positions) and max(positions) <= int(end),
              f"{name}: markers outside the region")
        check(sumstats_positions(os.path.join(config["outdir"], "regions", name,
                                              name + ".sumstats.tsv.gz")) == positions,
              f"{name}: the sumstats table's rows are not the region's markers")
        study_positions += positions
    check(sorted(sumstats_positions(os.path.join(config["outdir"], "study.sumstats.tsv.gz")))
          == sorted(study_positions), "study.sumstats.tsv.gz: not every region's rows")
    check_report(config, bed)


def sumstats_positions(table):
    """The positions of an indexed summary-statistics table (none without its index)."""
    if not os.path.exists(table + ".tbi"):
        return None
    import gzip
    with gzip.open(table, "rt") as f:
        return [int(line.split("\t")[1]) for line in list(f)[1:]]
def check_cluster_report(config, config_path, bed):
    """No cluster report by default, not even a dangling link; with
    cluster_report: true only orvane reruns, and its report is the hand run's."""
    regions = os.path.join(config["outdir"], "regions")
    for name in (b[3] for b in bed):
        check(not os.path.lexists(os.path.join(regions, name, "output")),
              f"{name}: a cluster report without cluster_report")
    asked = rewrite_config(config, "cluster_report", cluster_report=True)
    plan = planned_jobs(asked)
    check(plan.get("analyse") == len(bed) and "convert" not in plan,
          f"cluster_report: true reruns orvane alone: {plan}")
    run = snakemake(asked)
    check(run.returncode == 0, f"cluster_report: status {run.returncode}\n{run.stderr[-2000:]}")
    for name in (b[3] for b in bed):
        mine = os.path.join(regions, name, "output")
        # orvane by hand again, with the parameter file as it now reads.
        folder = os.path.join(WORK, "by-hand", name)
        sh(os.path.abspath(ORVANE), "-s", "hand.dat", config["params"], "hand.dist", cwd=folder)
        hand = os.path.join(folder, "output")
        check(os.path.isfile(mine) and not os.path.islink(mine)
              and open(mine).read() == open(hand).read() != "",
              f"{name}: the cluster report differs from the hand run's")


def rewrite_config(config, name, **changes):
    path = os.path.join(WORK, name + ".yaml")
    with open(path, "w") as f:
        json.dump({**config, **changes}, f, indent=1)
    return path


def checks_case(bed):
    """Each broken study stops before anything runs, naming the user's files;
    a small region's warnings do not stop it and reach the user."""
    config_path, config = write_config(phased_copy(), "none")
    regions = os.path.join(config["outdir"], "regions")
    bad_bed = os.path.join(WORK, "bad.bed")
    with open(bad_bed, "w") as f:
        f.write("chr1\t8000000\t8300000\tnamed_chr\n"   # the VCF says 1
                "1\t100\t200\tempty\n"                   # no site there
                "2\t11200000\t11500000\tfine\n")
    bad_params = os.path.join(WORK, "bad-params.txt")
    with open(bad_params, "w") as f:
        f.write("epsilon = 2 0.1\nwindowSize = 11\npermutations = 100\n")
    stops = [
        ("misspelt key", {"phaseing": "none"},
         ["orvane-workflow: error: config: unknown key 'phaseing' (did you mean 'phasing'?)"]),
        ("misspelt nested key", {"minmaf": 0.05},
         ["unknown key 'minmaf' (did you mean 'min_maf'?)"]),
        ("range", {"min_maf": 2}, ["config: min_maf: 2 is greater than the maximum of 0.5"]),
        ("type", {"threads": "two"}, ["config: threads: 'two' is not of type 'integer'"]),
        ("regions", {"regions": bad_bed, "map": os.path.join(WORK, "nomaps", "chr{chrom}.map")},
         [f"orvane-workflow: error: {bad_bed}:1: contig 'chr1' is not in {config['vcf']} "
          "(did you mean '1'?)",
          f"orvane-workflow: error: {bad_bed}:2: region empty (1:101-200) holds no site of "
          f"{config['vcf']}",
          "orvane-workflow: error: config: map: " + os.path.join(WORK, "nomaps", "chr2.map")
          + ": no such file"]),
        ("parameter file", {"params": bad_params},
         [f"{bad_params}: the parameter file does not pass 'orvane --check --strict'",
          "orvane: error: "]),
    ]
    for name, changes, messages in stops:
        run = snakemake(rewrite_config(config, name.replace(" ", "_"), **changes))
        check(run.returncode != 0, f"{name}: status 0")
        for message in messages:
            check(message in run.stderr, f"{name}: no {message!r} in\n{run.stderr[-2000:]}")
        check(not os.path.exists(regions), f"{name}: a region ran")

    # Five sites, a window of 11: orvane warns, the region still runs.
    small = os.path.join(WORK, "small.bed")
    small_bed = [["1", "8175000", "8181000", "small"]]
    with open(small, "w") as f:
        f.write("\t".join(small_bed[0]) + "\n")
    run = snakemake(rewrite_config(config, "small", regions=small))
    check(run.returncode == 0, f"small region: status {run.returncode}:\n{run.stderr[-3000:]}")
    if run.returncode == 0:
        found = region_warnings(config, "small")
        check(any("windowSize 11 is larger than the 5 markers" in w for w in found),
              f"small region: the window warning {found}")
        check_warnings(config, small_bed, run.stderr)
    print(f"{CASE}: {len(failures)} failures")
    return 1 if failures else 0


def check_tiled_adaptive(config):
    """Tiles default to the adaptive scheme, bounded by max_permutations; the
    summary states the replicates each region drew."""
    tiled = {k: v for k, v in config.items() if k != "regions"}
    tiled.update(tile={"chromosomes": ["2"], "size_mb": 5}, max_permutations=3000,
                 outdir=os.path.join(WORK, "tiled"))
    run = snakemake(rewrite_config(tiled, "tiled"))
    check(run.returncode == 0, f"tiled study: snakemake status {run.returncode}:\n{run.stderr[-3000:]}")
    if run.returncode != 0:
        return
    rows = read_tsv(os.path.join(tiled["outdir"], "summary.tsv"))
    check(len(rows) == 1, f"tiled study: {len(rows)} regions, one tile has sites")
    for row in rows:
        with open(os.path.join(tiled["outdir"], "regions", row["region"], "orvane.dat-results.jsonl")) as f:
            record = json.loads(f.read().splitlines()[-1])
        check("--max-permutations" in record["command"] and "3000" in record["command"],
              f"tiled study: command {record['command']}")
        check([row["permutation_scheme"], row["permutations"], row["replicates"]] ==
              ["adaptive", "3000", str(record["permutation"]["replicates"])],
              f"tiled study: scheme, bound and replicates {row}")
        check(list(row)[-1] == "replicates", "tiled study: replicates is the last column")


def main():
    if not shutil.which("snakemake"):
        print("snakemake is not installed (Debian package snakemake): test skipped")
        return SKIPPED
    if CASE in ("beagle", "shapeit4") and not shutil.which(CASE):
        print(f"{CASE} is not installed (Debian package {CASE}): test skipped")
        return SKIPPED
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    bed = read_bed(os.path.join(STUDY, "loci.bed"))

    if CASE == "checks":
        return checks_case(bed)
    if CASE == "broken":
        config_path, config = write_config(phased_copy(unphase_locus="locus2"), "none")
        run = snakemake(config_path, "--keep-going")
        check(run.returncode != 0, "a failed region must fail the run")
        check("orvane-vcf: error:" in run.stderr and "unphased" in run.stderr,
              "the converter's error is shown")
        regions = os.path.join(config["outdir"], "regions")
        for name in ("locus1", "locus3"):
            for output in ("orvane.dat-results", "plot.png"):
                check(os.path.exists(os.path.join(regions, name, output)),
                      f"{name}/{output} made despite locus2")
        check(not os.path.exists(os.path.join(regions, "locus2", "orvane.dat")),
              "locus2 leaves no converted file")
        check(not os.path.exists(os.path.join(config["outdir"], "summary.tsv")),
              "no summary without every region")
        # A rerun plans the failed region and the gathering steps only.
        plan = planned_jobs(config_path)
        check(plan == {"all": 1, "convert": 1, "analyse": 1, "plot": 1, "sumstats": 1, "summary": 1,
                       "report": 1, "study_sumstats": 1}, f"rerun plan after a failed region: {plan}")
    else:
        vcf = phased_copy() if CASE == "none" else os.path.join(STUDY, "study.vcf.gz")
        config_path, config = write_config(vcf, CASE)
        run = snakemake(config_path)
        check(run.returncode == 0, f"snakemake status {run.returncode}:\n{run.stderr[-3000:]}")
        if run.returncode != 0:
            return 1
        check_warnings(config, bed, run.stderr)
        regions = os.path.join(config["outdir"], "regions")
        if CASE == "none":
            check_study(config, bed, lambda name: vcf)
        else:
            # The converter's input is the phased region; the hand run starts from it.
            check_study(config, bed, lambda name: os.path.join(regions, name, "region.vcf.gz"))
            for name in (b[3] for b in bed):
                calls = sh("bcftools", "query", "-f", "[%GT ]\n",
                           os.path.join(regions, name, "region.vcf.gz"))
                check("/" not in calls and "." not in calls, f"{name}: phased, no missing call")
        # A rerun redoes only what is out of date; each result file holds one block.
        results = os.path.join(regions, "locus1", "orvane.dat-results")
        converted = os.path.join(regions, "locus1", "orvane.dat")
        summary = open(os.path.join(config["outdir"], "summary.tsv")).read()
        again = snakemake(config_path)
        check("Nothing to be done" in again.stdout + again.stderr,
              "rerun of a finished study does nothing")
        stamps = os.stat(results).st_mtime_ns, os.stat(converted).st_mtime_ns
        text = open(config["params"]).read()
        with open(config["params"], "w") as f:  # only the cluster report's threshold changes
            f.write(text.replace("reportThreshold 2.0", "reportThreshold 2.5"))
        check(snakemake(config_path).returncode == 0, "rerun after a new parameter file")
        check(os.stat(results).st_mtime_ns != stamps[0], "rerun: orvane runs again")
        check(os.stat(converted).st_mtime_ns == stamps[1], "rerun: the conversion is kept")
        check(sum(line.startswith("GeneticDistance") for line in open(results)) == 1,
              "one block in the result file")
        check(len(open(results + ".jsonl").read().splitlines()) == 1,
              "one run record beside the result file")
        check(open(os.path.join(config["outdir"], "summary.tsv")).read() == summary,
              "rerun: same summary")
        if CASE == "none":
            check_tiled_adaptive(config)
            check_cluster_report(config, config_path, bed)
    print(f"{CASE}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
