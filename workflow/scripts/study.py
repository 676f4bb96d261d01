"""The study's configuration: its checks, its regions, and the settings the
rules need. Plain Python, without Snakemake, so that it can be tested alone."""
import os
import re
import shutil
import subprocess

PROGRAM = "orvane-workflow"
PHASERS = ("none", "beagle", "shapeit4")
# The genotype sources a study may give, one of them: a VCF/BCF, or a
# biobank's BGEN 1.2 or PLINK 2 fileset, read through plink2.
SOURCES = ("vcf", "bgen", "pgen")
# Which allele of each BGEN variant is REF: BGEN itself does not say. The
# default is the layout biobanks ship (UK Biobank lists REF first); plink2
# exports BGEN ref-last.
BGEN_REF = ("first", "last")
BGEN_REF_DEFAULT = "first"
# The placeholder that makes a genotype path one file per chromosome.
CHROM = "{chrom}"
# Characters a region's directory name and Snakemake wildcard value may hold.
UNSAFE = re.compile(r"[^A-Za-z0-9_.+-]")


def read_text(path):
    with open(path) as f:
        return f.read()


class ConfigError(Exception):
    """One line for the user: PROGRAM: error: WHERE: WHAT."""

    def __init__(self, where, what):
        super().__init__(f"{PROGRAM}: error: {where}: {what}")


class Region:
    """A BED interval: 0-based start, exclusive end; positions start+1 .. end."""

    def __init__(self, name, chrom, start, end):
        self.name, self.chrom, self.start, self.end = name, chrom, start, end
        # The name as it appears in paths: other characters become '_'.
        self.key = path_key(name)

    def span(self, flank_bp=0):
        """The region (plus a flank on each side) as CHROM:FROM-TO, 1-based inclusive."""
        return f"{self.chrom}:{max(1, self.start + 1 - flank_bp)}-{self.end + flank_bp}"

    def bounds(self, flank_bp=0):
        """(chrom, first, last) of span(flank_bp), as plink2's --chr, --from-bp, --to-bp."""
        return self.chrom, max(1, self.start + 1 - flank_bp), self.end + flank_bp

    def __repr__(self):
        return f"Region({self.name!r}, {self.chrom!r}, {self.start}, {self.end})"


def path_key(name):
    return UNSAFE.sub("_", name)


def read_bed(path):
    """chrom, start, end, name (optional: CHROM_START_END); '#', 'track' and
    'browser' lines and blank lines are skipped."""
    regions = []
    try:
        lines = read_text(path).splitlines()
    except OSError as e:
        raise ConfigError(path, f"cannot read the BED file of regions ({e.strerror})")
    for number, line in enumerate(lines, 1):
        if not line.strip() or line.startswith(("#", "track", "browser")):
            continue
        fields = line.split("\t") if "\t" in line else line.split()
        where = f"{path}:{number}"
        if len(fields) < 3:
            raise ConfigError(where, "a region needs chrom, start and end")
        try:
            start, end = int(fields[1]), int(fields[2])
        except ValueError:
            if not regions and number == first_data_line(lines):
                continue  # a header line
            raise ConfigError(where, f"start '{fields[1]}' and end '{fields[2]}' must be integers")
        if start < 0 or end <= start:
            raise ConfigError(where, f"end {end} must lie after start {start} (0-based start)")
        name = fields[3].strip() if len(fields) > 3 and fields[3].strip() else \
            f"{fields[0]}_{start}_{end}"
        regions.append(Region(name, fields[0], start, end))
        regions[-1].line = where
    return unique(regions, path)


def first_data_line(lines):
    for number, line in enumerate(lines, 1):
        if line.strip() and not line.startswith(("#", "track", "browser")):
            return number
    return 0


def unique(regions, where):
    seen = {}
    for region in regions:
        if region.key in seen:
            raise ConfigError(getattr(region, "line", where),
                              f"region name '{region.name}' is used twice (as '{region.key}' "
                              "in file names); names must be unique")
        seen[region.key] = region
    if not regions:
        raise ConfigError(where, "no region to analyse")
    return regions


def tile_chromosome(chrom, length, size_mb, overlap_mb):
    """Windows of size_mb, each starting size_mb - overlap_mb after the previous
    one, from position 1 until one reaches the end of the chromosome."""
    size, step = round(size_mb * 1e6), round((size_mb - overlap_mb) * 1e6)
    tiles, start = [], 0
    while True:
        end = min(start + size, length)
        tiles.append(Region(f"{chrom}_{start / 1e6:g}-{end / 1e6:g}Mb", chrom, start, end))
        if end >= length:
            return tiles
        start += step


def chromosome_lengths(vcf, scan=True):
    """From the index: the header's contig length, else (with scan, which reads
    the chromosome's sites) the last site's position."""
    out = subprocess.run(["bcftools", "index", "-s", vcf], capture_output=True, text=True)
    if out.returncode != 0:
        raise ConfigError(vcf, "cannot read the index (bgzip the VCF and run "
                               f"'bcftools index' on it): {out.stderr.strip()}")
    lengths = {}
    for line in out.stdout.splitlines():
        chrom, length = line.split("\t")[:2]
        if length == "." and not scan:
            continue
        if length == ".":
            positions = subprocess.run(["bcftools", "query", "-r", chrom, "-f", "%POS\\n", vcf],
                                       capture_output=True, text=True, check=True).stdout.split()
            length = positions[-1] if positions else "0"
        lengths[chrom] = int(length)
    return lengths


def tiles(tile, lengths, where="config: tile", source="VCF"):
    """The tiles of the listed chromosomes, or of every chromosome of the
    source (`chromosomes: all`) in the order of `lengths`."""
    chromosomes = tile.get("chromosomes")
    if chromosomes == "all":
        chromosomes = list(lengths)
    if isinstance(chromosomes, (str, int)):
        chromosomes = [chromosomes]
    if not chromosomes:
        raise ConfigError(where, "list the chromosomes to tile")
    size, overlap = float(tile.get("size_mb", 0)), float(tile.get("overlap_mb", 0))
    if size <= 0 or overlap < 0 or overlap >= size:
        raise ConfigError(where, f"size_mb ({size:g}) must be positive and overlap_mb "
                                 f"({overlap:g}) at least 0 and below it")
    regions = []
    for chrom in map(str, chromosomes):
        if chrom not in lengths:
            raise ConfigError(where, f"chromosome '{chrom}' is not in the {source}")
        regions += tile_chromosome(chrom, lengths[chrom], size, overlap)
    return unique(regions, where)


def drop_unset(config):
    """Keys left empty in the YAML (null) count as not given."""
    for key in [key for key, value in config.items() if value is None or value == ""]:
        del config[key]


def check_config(config):
    """The configuration's mistakes, found before any job starts."""
    given = [key for key in SOURCES if config.get(key)]
    if len(given) != 1:
        raise ConfigError("config", "give the genotypes as one of 'vcf', 'bgen' or 'pgen'"
                                    + (f", not {' and '.join(given)}" if given else ""))
    for key in ("pheno", "params", "outdir"):
        if not config.get(key):
            raise ConfigError("config", f"'{key}' is missing")
    if config.get("bgen") and bgen_ref(config) not in BGEN_REF:
        raise ConfigError("config: bgen_ref", f"'{config['bgen_ref']}' must be first (REF is "
                                              "each variant's first allele) or last")
    if str(config.get("mode", "s")) not in ("s", "q"):
        raise ConfigError("config: mode", f"'{config['mode']}' must be s (case/control) or q (trait)")
    if str(config.get("phasing", "none")) not in PHASERS:
        raise ConfigError("config: phasing",
                          f"'{config['phasing']}' must be one of {', '.join(PHASERS)}")
    if bool(config.get("regions")) == bool(config.get("tile")):
        raise ConfigError("config", "give either 'regions' (a BED file) or 'tile', not both")
    if config.get("map") and config.get("cm_per_mb") is not None:
        raise ConfigError("config", "give either 'map' or 'cm_per_mb', not both")
    if config.get("map") and "{chrom}" not in str(config["map"]):
        raise ConfigError("config: map", "the path must hold {chrom}, e.g. maps/chr{chrom}.txt")
    if config.get("covar") and str(config.get("mode", "s")) != "q":
        raise ConfigError("config: covar", "covariates are used in trait mode (mode: q) only")
    if bool(config.get("covar")) != bool(config.get("covar_cols")):
        raise ConfigError("config", "'covar' and 'covar_cols' go together")
    if float(config.get("flank_mb", 0)) < 0:
        raise ConfigError("config: flank_mb", "must not be negative")
    for key in ("pheno", "params", "regions"):
        if config.get(key) and not os.path.exists(config[key]):
            raise ConfigError(f"config: {key}", f"{config[key]}: no such file")
    if config.get("bgen_sample") and not config.get("bgen"):
        raise ConfigError("config: bgen_sample", "names the sample file of a 'bgen' input")
    if not per_chromosome(config):
        check_source_files(config, [None])


def per_chromosome(config):
    """Whether the genotypes are one file per chromosome ({chrom} in the path)."""
    return CHROM in str(config[genotype_source(config)])


def check_source_files(config, chromosomes):
    """Every file of the genotype source, for each chromosome (None: the
    path holds no {chrom})."""
    source = genotype_source(config)
    for chrom in chromosomes:
        files = source_files(config, chrom)
        for path in files:
            if os.path.exists(path):
                continue
            notes = [] if chrom is None else [f"chromosome '{chrom}', from {config[source]}"]
            if source != "vcf":
                notes.append(f"the {source} input needs "
                             + ", ".join(os.path.basename(f) for f in files))
            raise ConfigError(f"config: {source}", f"{path}: no such file"
                              + (f" ({'; '.join(notes)})" if notes else ""))


def has_sites(vcf, region):
    """Whether the VCF holds a site in the region (the first record is enough)."""
    with subprocess.Popen(["bcftools", "view", "-H", "-r", region.span(), vcf],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as p:
        found = bool(p.stdout.readline())
        p.kill()
    return found


def source_layout(config, chrom=None):
    """(lengths, has_site) of the study's genotypes for laying tiles:
    chromosome lengths (a VCF's or .pvar's header, else the last site) and a
    test of whether a tile holds a site, of the file of chromosome `chrom`
    when the paths hold {chrom}. A VCF is asked through its index; a
    BGEN or .pvar is read once for its variant positions (source_sites.py)."""
    source = genotype_source(config)
    if source == "vcf":
        vcf = vcf_path(config, chrom)
        return chromosome_lengths(vcf), lambda t: has_sites(vcf, t)
    import bisect
    import source_sites
    path = source_files(config, chrom)[0 if source == "bgen" else 1]
    try:
        if source == "bgen":
            lengths, sites = {}, source_sites.bgen_sites(path)
        else:
            lengths, sites = source_sites.pvar_sites(path)
    except OSError as e:
        raise ConfigError(path, f"cannot read the variant positions ({e.strerror})")
    except source_sites.SourceError as e:
        raise ConfigError(e.where, e.what)
    positions = {chrom: sorted(found) for chrom, found in sites.items()}
    lengths = {chrom: lengths.get(chrom, found[-1]) for chrom, found in positions.items()}

    def holds_site(tile):
        # A tile covers positions start + 1 to end.
        found = positions[tile.chrom]
        k = bisect.bisect_right(found, tile.start)
        return k < len(found) and found[k] <= tile.end
    return lengths, holds_site


def cached_tiles(config):
    """The tiles that hold sites. Tiles without a site (a gap such as a
    centromere) are left out, as the converter would stop on them. The list is
    kept in OUTDIR/tiles.bed, so that the jobs of a cluster, which each read
    the workflow again, do not look for the sites again; it is made anew when
    the tile settings or the genotype files change."""
    cache = os.path.join(config["outdir"], "tiles.bed")
    source = genotype_source(config)
    chromosomes = tile_chromosomes(config) if per_chromosome(config) else [None]
    files = [f for chrom in chromosomes for f in source_files(config, chrom)]
    settings = f"# tiles {config['tile']!r} of {os.path.abspath(str(config[source]))}"
    if os.path.exists(cache) and all(os.path.exists(f) and os.path.getmtime(cache) >= os.path.getmtime(f)
                                     for f in files):
        lines = read_text(cache).splitlines()
        if lines and lines[0] == settings:
            return read_bed(cache)
    if per_chromosome(config):
        check_source_files(config, chromosomes)
    lengths, tests = {}, {}
    for chrom in chromosomes:
        found_lengths, holds_site = source_layout(config, chrom)
        lengths.update(found_lengths)
        tests.update({c: holds_site for c in found_lengths})
    found = [t for t in tiles(config["tile"], lengths, source=source.upper()) if tests[t.chrom](t)]
    unique(found, "config: tile")
    os.makedirs(config["outdir"], exist_ok=True)
    with open(cache + ".tmp", "w") as f:
        f.write(settings + "\n")
        f.writelines(f"{t.chrom}\t{t.start}\t{t.end}\t{t.name}\n" for t in found)
    os.replace(cache + ".tmp", cache)
    return found


def report_lengths(config, chromosomes):
    """The chromosomes' lengths from the VCF headers (none for BGEN or PLINK 2
    input): chromosomes without one end at their last region."""
    if genotype_source(config) != "vcf":
        return {}
    lengths = {}
    for vcf in sorted({vcf_path(config, chrom) for chrom in chromosomes}):
        lengths.update(chromosome_lengths(vcf, scan=False))
    return lengths


def tile_chromosomes(config):
    chromosomes = config["tile"].get("chromosomes")
    return [str(c) for c in (chromosomes if isinstance(chromosomes, list) else [chromosomes])]


def study_regions(config):
    if config.get("regions"):
        return read_bed(config["regions"])
    return cached_tiles(config)


def tool_path(config, name):
    """The program in `bin` when it is set, else on PATH (where cmake --install puts it)."""
    folder = config.get("bin")
    if folder:
        path = os.path.abspath(os.path.join(folder, name))
        if not os.access(path, os.X_OK):
            raise ConfigError("config: bin", f"{path}: no such program")
        return path
    found = shutil.which(name)
    if not found:
        raise ConfigError("config", f"{name} is not on PATH; install it (cmake --install) "
                                    "or set 'bin' to the folder holding it")
    return os.path.abspath(found)


def list_option(value):
    """A list from YAML: a list, or a comma- or blank-separated string."""
    if value is None:
        return []
    if isinstance(value, (list, tuple)):
        return [str(v) for v in value]
    return [v for v in re.split(r"[,\s]+", str(value)) if v]


def genotype_source(config):
    """Which of vcf, bgen and pgen the study gives."""
    return next(key for key in SOURCES if config.get(key))


def with_chrom(path, chrom):
    """The path of one chromosome's file: {chrom} replaced (when chrom is given)."""
    return str(path) if chrom is None else str(path).replace(CHROM, str(chrom))


def vcf_path(config, chrom):
    """The VCF that holds chromosome `chrom`."""
    return with_chrom(config["vcf"], chrom)


def source_files(config, chrom=None):
    """The files the genotype source is made of, for chromosome `chrom` when
    the paths hold {chrom}: a BGEN and its sample file (bgen_sample, else
    FILE.sample beside FILE.bgen); a PLINK 2 prefix's .pgen, .pvar and .psam."""
    source = genotype_source(config)
    path = with_chrom(config[source], chrom)
    if source == "bgen":
        sample = with_chrom(config["bgen_sample"], chrom) if config.get("bgen_sample") \
            else os.path.splitext(path)[0] + ".sample"
        return [path, sample]
    if source == "pgen":
        return [path + suffix for suffix in (".pgen", ".pvar", ".psam")]
    return [path]


def turns_alleles(config):
    """Whether the region plink2 exports must have its alleles turned
    (swap_alleles.py): a BGEN whose first allele is REF, which plink2 reads
    ref-last."""
    return genotype_source(config) == "bgen" and bgen_ref(config) == "first"


def bgen_ref(config):
    return str(config.get("bgen_ref", BGEN_REF_DEFAULT))


def config_warnings(config):
    """Settings left to a default that may well be wrong for the data."""
    warnings = []
    if config.get("bgen") and not config.get("bgen_ref"):
        warnings.append(f"{PROGRAM}: warning: config: bgen_ref is not set: {config['bgen']} is "
                        "read with REF as each variant's first allele, as biobanks ship BGEN "
                        "(UK Biobank); set bgen_ref: last for files that plink2 exported, or "
                        "REF and ALT swap at every site")
    return warnings


def plink2_arguments(config, region, flank_bp):
    """plink2's input and the region (with its flank) out of a BGEN or PLINK 2
    fileset. BGEN names no REF allele: bgen_ref says which one it is (raw UK
    Biobank files are ref-first, the default; BGEN files that plink2 exports
    ref-last); read the wrong way, every REF and ALT swap, and with them the allele codes
    and the sign of a trait's T. A BGEN is always read ref-last, as plink2
    keeps its haplotypes in order only so (see swap_alleles.py), and turned
    afterwards when REF comes first. Chromosome codes keep a 'chr' prefix when
    the regions have one."""
    files = source_files(config, region.chrom)
    if genotype_source(config) == "bgen":
        args = ["--bgen", files[0], "ref-last", "--sample", files[1]]
    else:
        args = ["--pfile", files[0][:-len(".pgen")]]
    chrom, first, last = region.bounds(flank_bp)
    args += ["--chr", chrom, "--from-bp", str(first), "--to-bp", str(last)]
    if chrom.startswith("chr"):
        args += ["--output-chr", "chrM"]
    return args


def converter_arguments(config, region, map_file):
    """orvane-vcf's options other than --vcf and --out, in the order a user
    would type them by hand."""
    args = ["--pheno", config["pheno"], "--mode", str(config.get("mode", "s")),
            "--region", region.span()]
    if config.get("pheno_col"):
        args += ["--pheno-col", str(config["pheno_col"])]
    if map_file:
        args += ["--map", map_file]
    elif config.get("cm_per_mb") is not None:
        args += ["--cm-per-mb", str(config["cm_per_mb"])]
    if config.get("min_maf") is not None:
        args += ["--min-maf", str(config["min_maf"])]
    # The covariate options are passed only when the study has covariates.
    if config.get("covar"):
        args += ["--covar", config["covar"], "--covar-cols", ",".join(list_option(config["covar_cols"]))]
    return args
