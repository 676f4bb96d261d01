"""The checks made before any job of a study runs: the configuration's keys
against the schema (workflow/config.schema.yaml), the regions against the
user's VCF and maps, and orvane's parameter file with `orvane --check
--strict`. Each names the user's own files, not the workflow's intermediate
ones. Also records the command the user typed, for the report."""
import difflib
import os
import shlex
import subprocess

import yaml

from study import PROGRAM, ConfigError, has_sites, vcf_path

COMMAND_FILE = "command.txt"


def load_schema(path):
    with open(path) as f:
        return yaml.safe_load(f)


def check_keys(config, schema, where="config"):
    """Every key known to the schema, at every level it describes; an unknown
    one is named with the nearest known key."""
    known = schema.get("properties", {})
    for key, value in config.items():
        if key not in known:
            near = difflib.get_close_matches(str(key), list(known), n=1, cutoff=0.6)
            hint = f" (did you mean '{near[0]}'?)" if near else \
                f"; the known keys: {', '.join(sorted(known))}"
            raise ConfigError(where, f"unknown key '{key}'{hint}")
        if isinstance(value, dict) and "properties" in known[key]:
            check_keys(value, known[key], f"{where}: {key}")


def schema_problem(config, schema):
    """The most telling violation of the schema as (where, what), or None."""
    import jsonschema
    error = jsonschema.exceptions.best_match(
        jsonschema.validators.validator_for(schema)(schema).iter_errors(config))
    if error is None:
        return None
    path = ": ".join(str(p) for p in error.absolute_path)
    if error.validator == "oneOf" and not error.absolute_path:
        given = [k for k in ("vcf", "bgen", "pgen") if k in config]
        return ("config", "give exactly one of 'vcf', 'bgen' and 'pgen'" +
                (f" (given: {', '.join(given)})" if given else ""))
    if error.validator == "pattern" and path == "map":
        return ("config: map", "the path must hold {chrom}, e.g. maps/chr{chrom}.txt")
    return ("config" + (f": {path}" if path else ""), error.message)


def contig_hint(contig, contigs):
    """'did you mean' for the chr / no-chr naming of the same chromosome."""
    other = contig[3:] if contig.startswith("chr") else "chr" + contig
    return f" (did you mean '{other}'?)" if other in contigs else ""


def vcf_contigs(vcf):
    """The contigs of the VCF that hold sites, from its index."""
    out = subprocess.run(["bcftools", "index", "-s", vcf], capture_output=True, text=True)
    if out.returncode != 0:
        raise ConfigError(vcf, "cannot read the index (bgzip the VCF and run "
                               f"'bcftools index' on it): {out.stderr.strip()}")
    return [line.split("\t")[0] for line in out.stdout.splitlines() if line]


def region_problems(config, regions, chromosome_map, against_vcf=True):
    """One line per region problem: a contig the VCF lacks, a region without
    any site of the VCF (with against_vcf), a chromosome whose map file does
    not exist."""
    problems = []
    missing = set()  # contigs already named: their maps are not looked for
    contigs_of = {}  # a VCF's contigs, by path (one VCF per chromosome with {chrom})
    if config.get("vcf") and against_vcf:
        for region in regions:
            vcf = vcf_path(config, region.chrom)
            if vcf not in contigs_of:
                contigs_of[vcf] = vcf_contigs(vcf)
            contigs = contigs_of[vcf]
            where = getattr(region, "line", f"region {region.name}")
            if region.chrom not in contigs:
                missing.add(region.chrom)
                problems.append(f"{where}: contig '{region.chrom}' is not in {vcf}"
                                f"{contig_hint(region.chrom, contigs)}; its contigs: "
                                f"{', '.join(contigs[:10]) + (' ...' if len(contigs) > 10 else '')}")
            elif not has_sites(vcf, region):
                problems.append(f"{where}: region {region.name} ({region.span()}) holds no site "
                                f"of {vcf}; widen it or leave it out")
    if config.get("map"):
        for chrom in sorted({region.chrom for region in regions} - missing):
            path = chromosome_map(chrom)
            if not os.path.exists(path):
                problems.append(f"config: map: {path}: no such file (the map of chromosome "
                                f"'{chrom}', from {config['map']})")
    return [f"{PROGRAM}: error: {p}" for p in problems]


def check_params(orvane, params):
    """orvane --check --strict on the parameter file: its error lines, or []."""
    run = subprocess.run([orvane, "--check", "--strict", params], capture_output=True, text=True)
    if run.returncode == 0:
        return []
    lines = [line for line in run.stderr.splitlines() if line.strip()]
    return [f"{PROGRAM}: error: {params}: the parameter file does not pass "
            f"'orvane --check --strict' (fix it; orvane --check {params} shows how orvane "
            "reads it):"] + lines


def record_command(outdir, argv, cwd):
    """The command as the user typed it, for the report's "Command"."""
    os.makedirs(outdir, exist_ok=True)
    path = os.path.join(outdir, COMMAND_FILE)
    with open(path + ".tmp", "w") as f:
        f.write(f"(in {cwd})\n{shlex.join(['snakemake'] + list(argv[1:]))}\n")
    os.replace(path + ".tmp", path)


def recorded_command(outdir):
    try:
        with open(os.path.join(outdir, COMMAND_FILE)) as f:
            return f.read().rstrip("\n")
    except OSError:
        return "(not recorded)"
