#!/usr/bin/python3
"""The workflow on the bundled study given as a biobank would give it, BGEN 1.2
or a PLINK 2 fileset, against the same study given as its VCF: the summary
and every region's converted files and results must be the same bytes.

usage: test_biobank.py CASE ORVANE ORVANE_VCF ORVANE_PLOT SOURCE_DIR WORK_DIR
  CASE phased:   every sample phased, phasing none; the VCF against a PGEN
                 (plink2 --make-pgen), a BGEN exported by plink2 (REF last,
                 bgen_ref: last), BGEN files written here to the format's
                 layout, one per chromosome as UK Biobank ships them (REF
                 first, the default bgen_ref, whose warning prints once; the
                 sample file named by bgen_sample), and one VCF and one PGEN
                 per chromosome ({chrom} in the path). Then plink2's BGEN read
                 the wrong way round (bgen_ref: first): every region warns in
                 summary.tsv and report.html that REF and ALT look swapped.
  CASE unphased: the study as bundled (a third unphased), phased by Beagle;
                 the VCF against a PGEN
  CASE tiled:    the phased study tiled (every chromosome, tiles of 2 Mb)
                 from the VCF, from a PGEN and from a BGEN exported by
                 plink2: the tiles come from each file's own sites (the VCF
                 without contig lengths, as a BGEN has none)
Exits 77 (skipped) when snakemake, plink2 or (unphased) beagle is missing.
"""
import html
import json
import os
import shutil
import subprocess
import sys

import bgen_writer
from checks_harness import check, failures, read, sh

CASE, ORVANE, ORVANE_VCF, ORVANE_PLOT, SOURCE, WORK = sys.argv[1:7]
SKIPPED = 77
STUDY = os.path.join(SOURCE, "examples", "study")
REGIONS = ("locus1", "locus2", "locus3")
# The tiles of 2 Mb that hold sites of the phased study: each chromosome ends
# at its last site.
TILES = ["1_6-8Mb", "1_8-10Mb", "1_16-18Mb", "1_18-18.0376Mb", "2_10-11.7477Mb"]
REGION_FILES = ("orvane.dat-results", "orvane.markers.tsv", "orvane.haplotypes.tsv", "orvane.dat")


def study_folder():
    if CASE == "unphased":
        return STUDY
    folder = os.path.join(WORK, "study")
    sh(sys.executable, os.path.join(STUDY, "make_study.py"), folder, "--all-phased")
    if CASE == "tiled":
        strip_contig_lengths(os.path.join(folder, "study.vcf.gz"))
    return folder


def strip_contig_lengths(vcf):
    """The VCF's ##contig lines without their lengths: its chromosomes then
    end at their last site, as a BGEN's do."""
    header = os.path.join(WORK, "header.txt")
    with open(header, "w") as f:
        f.writelines(line.split(",length=")[0] + (">" if ",length=" in line else "") + "\n"
                     for line in sh("bcftools", "view", "-h", vcf).splitlines())
    stripped = vcf + ".stripped"
    sh("bcftools", "reheader", "-h", header, "-o", stripped, vcf)
    os.replace(stripped, vcf)
    sh("bcftools", "index", "-f", vcf)


def write_bgen(vcf, path):
    """The VCF's calls as BGEN 1.2 straight from the format's layout (REF first)."""
    samples, variants = None, []
    for line in sh("bcftools", "view", vcf).splitlines():
        if line.startswith("##"):
            continue
        fields = line.split("\t")
        if line.startswith("#"):
            samples = fields[9:]
            continue
        variants.append((fields[0], int(fields[1]), fields[2], fields[3], fields[4],
                         bgen_writer.calls_from_vcf_line(fields)))
    bgen_writer.write(path, samples, variants)


def per_chromosome(vcf):
    """The study's VCF, one PGEN and one layout BGEN per chromosome, named as
    UK Biobank names its files: (VCF, PGEN prefix, BGEN, sample file) paths
    with {chrom}. The BGENs share one sample file of a name of its own."""
    chromosomes = sh("bcftools", "index", "-s", vcf).split()[::3]
    paths = [os.path.join(WORK, "chrom", name) for name in
             ("study_c{chrom}.vcf.gz", "study_c{chrom}", "ukb_c{chrom}.bgen")]
    os.makedirs(os.path.join(WORK, "chrom"))
    for chrom in chromosomes:
        vcf_chrom, prefix, bgen = (path.replace("{chrom}", chrom) for path in paths)
        sh("bcftools", "view", "-r", chrom, "-Oz", "-o", vcf_chrom, vcf)
        sh("bcftools", "index", vcf_chrom)
        sh("plink2", "--vcf", vcf_chrom, "--make-pgen", "--out", prefix)
        write_bgen(vcf_chrom, bgen)
        sample = bgen[:-len(".bgen")] + ".sample"
        os.replace(sample, os.path.join(WORK, "chrom", "ukb_s160.sample"))
    return paths + [os.path.join(WORK, "chrom", "ukb_s160.sample")]


def sources(folder):
    """Config keys of each input of the study's genotypes."""
    vcf = os.path.join(folder, "study.vcf.gz")
    prefix = os.path.join(WORK, "study-pgen")
    sh("plink2", "--vcf", vcf, "--make-pgen", "--out", prefix)
    inputs = {"vcf": {"vcf": vcf}, "pgen": {"pgen": prefix}}
    if CASE in ("phased", "tiled"):
        # plink2 writes phased BGEN 1.2, REF last unless told otherwise.
        exported = os.path.join(WORK, "study-plink2")
        sh("plink2", "--pfile", prefix, "--export", "bgen-1.2", "--out", exported)
        inputs["bgen-plink2"] = {"bgen": exported + ".bgen", "bgen_ref": "last"}
    if CASE == "phased":
        vcf_chrom, pgen_chrom, bgen_chrom, sample = per_chromosome(vcf)
        inputs["bgen-layout"] = {"bgen": bgen_chrom, "bgen_sample": sample}
        inputs["vcf-chrom"] = {"vcf": vcf_chrom}
        inputs["pgen-chrom"] = {"pgen": pgen_chrom}
        inputs["bgen-swapped"] = {"bgen": exported + ".bgen", "bgen_ref": "first"}
    return inputs


SWAPPED = "orvane-workflow: warning: REF is the minor allele at "


def check_swap_warnings(name, outdir):
    """The swapped run warns about every region in summary.tsv and the
    report; the others about none."""
    with open(os.path.join(outdir, "summary.tsv")) as f:
        lines = f.read().splitlines()
    column = lines[0].split("\t").index("warnings")
    cells = [line.split("\t")[column] for line in lines[1:]]
    with open(os.path.join(outdir, "report.html")) as f:
        page = html.unescape(f.read())
    swapped = name == "bgen-swapped"
    for region, cell in zip(regions(), cells):
        warned = SWAPPED.replace(": warning: ", ": ", 1) in cell
        check(warned == swapped, f"{name}: {region}: warnings cell {cell!r}")
        section = page.split(f'id="warnings-{region}"')[1].split("</ul>")[0] \
            if f'id="warnings-{region}"' in page else ""
        check((SWAPPED in section) == swapped, f"{name}: {region}: report's warnings {section!r}")


def write_config(name, genotypes, folder):
    tools = os.path.join(WORK, "bin")
    if not os.path.isdir(tools):
        os.makedirs(tools)
        for program in (ORVANE, ORVANE_VCF, ORVANE_PLOT):
            os.symlink(os.path.abspath(program), os.path.join(tools, os.path.basename(program)))
    params = os.path.join(WORK, "params.txt")
    with open(os.path.join(STUDY, "params.txt")) as f:
        text = f.read()
    with open(params, "w") as f:
        f.write(text.replace("permutations 200", "permutations 50"))
    config = {**genotypes, "pheno": os.path.join(folder, "pheno.txt"), "mode": "s",
              **({"tile": {"chromosomes": "all", "size_mb": 2}} if CASE == "tiled"
                 else {"regions": os.path.join(folder, "loci.bed")}),
              "map": os.path.join(folder, "chr{chrom}.map"), "min_maf": 0.01,
              "phasing": "beagle" if CASE == "unphased" else "none", "flank_mb": 0.2,
              "params": params, "outdir": os.path.join(WORK, name), "bin": tools}
    path = os.path.join(WORK, name + ".yaml")
    with open(path, "w") as f:
        json.dump(config, f, indent=1)  # JSON is YAML
    return path


def regions():
    """The regions of the run from the VCF: the BED's, or the tiles it laid."""
    if CASE != "tiled":
        return REGIONS
    tiles = read(os.path.join(WORK, "vcf", "tiles.bed")).decode()
    return [line.split("\t")[3] for line in tiles.splitlines() if line and not line.startswith("#")]


def main():
    for program, package in (("snakemake", "snakemake"), ("plink2", "plink2")) + \
            ((("beagle", "beagle"),) if CASE == "unphased" else ()):
        if not shutil.which(program):
            print(f"{program} is not installed (Debian package {package}): test skipped")
            return SKIPPED
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    folder = study_folder()
    for name, genotypes in sources(folder).items():
        run = subprocess.run(["snakemake", "-s", os.path.join(SOURCE, "workflow", "Snakefile"),
                              "--cores", "2", "--configfile", write_config(name, genotypes, folder)],
                             cwd=WORK, capture_output=True, text=True)
        check(run.returncode == 0, f"{name}: snakemake status {run.returncode}\n{run.stderr[-3000:]}")
        check(run.stderr.count("bgen_ref is not set") == (name == "bgen-layout"),
              f"{name}: one warning when, and only when, bgen_ref is left to its default")
        if run.returncode != 0:
            continue
        check_swap_warnings(name, os.path.join(WORK, name))
        if name == "vcf" and CASE == "tiled":
            check(regions() == TILES, f"the VCF's tiles {regions()}, expected {TILES}")
        if name in ("vcf", "bgen-swapped"):
            continue
        for path in ["summary.tsv"] + [f"regions/{r}/{f}" for r in regions() for f in REGION_FILES]:
            mine, reference = (os.path.join(WORK, out, path) for out in (name, "vcf"))
            check(os.path.exists(mine) and read(mine) == read(reference),
                  f"{name}: {path} differs from the VCF run's")
        if CASE == "unphased":
            # The phasing program got the unphased calls as such.
            flank = sh("bcftools", "query", "-f", "[%GT ]\n",
                       os.path.join(WORK, name, "regions", "locus1", "flank.vcf.gz"))
            check("/" in flank, f"{name}: unphased calls reach the phasing program")
    print(f"biobank {CASE}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
