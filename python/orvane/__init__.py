"""orvane from Python: the haplotype-cluster scan on numpy arrays, phased VCFs
read into arrays, and a command-line run's files read back as DataFrames.

    import orvane
    data = orvane.read_vcf("study.vcf.gz", region="1:8000001-8300000", pheno="pheno.txt")
    run = orvane.scan(data.alleles, data.phenotype, epsilon_fraction=0.3, window_size=11,
                      distances=data.distances, permutations=1000)
    run.markers            # one row per marker (the result file's columns)
    run.summary            # peaks, -log10 p, permutation and omnibus p (the run record)

The numbers are those of the `orvane` program on the same data and settings:
the scan is the same code, and the per-marker values are the result file's.
"""
import json
import math
import os
import tempfile
from dataclasses import dataclass, field
from typing import List, Optional

import numpy as np
import pandas as pd

from . import _orvane

__version__ = _orvane.__version__
__all__ = ["scan", "read_vcf", "read_results", "ScanResult", "VcfData", "parameter_text"]

# The result file's columns under readable names, per mode.
MARKER_COLUMNS = {
    "s": {"GeneticDistance": "genetic_distance", "Markers": "marker", "Z-score": "cluster_score",
          "tMinusLog10Pvalue": "cluster_neg_log10_p", "SingleSNPChiSQ": "chisq",
          "SingleSNPMinusLogP": "chisq_neg_log10_p"},
    "q": {"GeneticDistance": "genetic_distance", "Markers": "marker", "Q-score": "cluster_score",
          "MinusLog10Pvalue": "cluster_neg_log10_p", "T": "t", "WelthT": "welch_t",
          "DoFWelthT": "welch_df", "U": "mann_whitney_u", "Z": "mann_whitney_z"},
}
# A cluster's statistics line in the cluster report, per mode.
CLUSTER_COLUMNS = {
    "ChiSquare": "chisq", "Z_Score": "z_score", "nHaplotypes": "haplotypes", "nCore": "core",
    "-Log10Pvalue": "neg_log10_p", "T_Score": "t_score", "ClusterMean": "mean", "ClusterVar": "variance",
}
SCHEMES = ("joint", "chained", "adaptive")


@dataclass
class ScanResult:
    """One scan: `markers` (a DataFrame, one row per marker), `summary` (the run
    record as a dict), `clusters` (a DataFrame, one row per reported cluster,
    or None unless asked for) and `warnings` (the run's warnings);
    `result_file` is the block the command line would append to its result
    file, `cluster_report` its "output" (empty unless clusters were asked for)."""
    markers: pd.DataFrame
    summary: dict
    clusters: Optional[pd.DataFrame] = None
    warnings: List[str] = field(default_factory=list)
    result_file: str = ""
    cluster_report: str = ""


@dataclass
class VcfData:
    """A phased VCF as orvane-vcf converts it: `alleles` (haplotypes x sites,
    code 1 the first ALT, 2 REF, 0 missing), `phenotype` (booleans, trait
    values, or NaN without a phenotype file), `markers` (orvane-vcf's marker
    table), `haplotypes` (its haplotype table) and `distances` (the gaps in cM,
    as its distance file gives them)."""
    alleles: np.ndarray
    phenotype: np.ndarray
    markers: pd.DataFrame
    haplotypes: pd.DataFrame
    distances: np.ndarray


def _real(value):
    # repr is the shortest text that reads back as the same double.
    return repr(float(value))


def parameter_text(*, epsilon=0.2, epsilon_fraction=None, min_pts_quantile=0.0, window_size=21,
                   distance_type=0, distance_parameters=(), permutations=1000, report_threshold=1.0):
    """The parameter file for these settings, as `orvane` reads it.
    `epsilon_fraction` (mode 2: the radius from that share of a window's
    pairs) replaces the fixed radius `epsilon` (mode 1)."""
    if epsilon_fraction is not None:
        epsilon_line = f"epsilon 2 {_real(epsilon_fraction)}"
    else:
        epsilon_line = f"epsilon 1 {_real(epsilon)}"
    distance = [str(_whole("distance_type", distance_type))]
    distance += [_real(p) for p in distance_parameters]
    return "\n".join([epsilon_line, f"minPtsQuantile {_real(min_pts_quantile)}",
                      f"windowSize {_whole('window_size', window_size)}",
                      "distanceType " + " ".join(distance),
                      f"permutations {_whole('permutations', permutations)}",
                      f"reportThreshold {_real(report_threshold)}"]) + "\n"


def _whole(name, value):
    if isinstance(value, (bool, np.bool_)) or int(value) != value:
        raise ValueError(f"{name} {value!r} is not a whole number")
    value = int(value)
    if not -2**31 <= value < 2**31:
        raise ValueError(f"{name} {value} is outside the 32-bit integer range")
    return value


def _alleles_array(alleles):
    if isinstance(alleles, np.ndarray):
        array = alleles
    else:
        rows = list(alleles)
        lengths = [len(row) for row in rows]
        for number, length in enumerate(lengths):
            if length != lengths[0]:
                # The data file reader's words, with rows where it has lines.
                raise ValueError(f"alleles: row {number}: {length} alleles, expected "
                                 f"{lengths[0]} as on row 0")
        array = np.asarray(rows)
    if array.ndim != 2:
        raise ValueError("alleles: a 2-D array (haplotypes x markers) is needed")
    if array.dtype.kind not in "iub":
        raise ValueError(f"alleles: integer allele codes are needed, not {array.dtype}")
    return np.ascontiguousarray(array, dtype=np.int64)


def _phenotype_array(phenotype, mode):
    array = np.asarray(phenotype)
    if array.ndim != 1:
        raise ValueError("phenotype: a 1-D array (one value per haplotype) is needed")
    if mode == "s":
        if array.dtype.kind != "b":
            raise ValueError("phenotype: mode 's' needs booleans (True: case)")
        return array.astype(np.float64)
    if array.dtype.kind not in "iuf":
        raise ValueError(f"phenotype: mode 'q' needs trait values, not {array.dtype}")
    return np.ascontiguousarray(array, dtype=np.float64)


def scan(alleles, phenotype, *, mode="s", epsilon=0.2, epsilon_fraction=None, min_pts_quantile=0.0,
         window_size=21, distance_type=0, distance_parameters=(), distances=None, permutations=0,
         report_threshold=1.0, permutation="joint", seed=None, threads=None, clusters=False):
    """The command line's run on arrays.

    alleles: haplotypes x markers integers (0 missing; only code 1 counts as
    carrying the allele in the single-marker tests). phenotype: one boolean
    (True: case) per haplotype in mode "s", one trait value in mode "q".
    The settings are the parameter file's (see `parameter_text`); `distances`
    the gaps between neighbouring markers in cM (the distance file), None for
    0.0001 Morgans each. `permutation` is "joint", "chained" or "adaptive"
    (the joint replicates, stopping a clearly null region early, with
    `permutations` as the bound); `seed` the
    random generator's starting state (None: the command line's); `threads`
    as ORVANE_THREADS (None: the processors the process may use).
    `clusters=True` also returns every reported cluster with its members.

    Bad input raises ValueError with the command line's message; nothing is
    written. The GIL is released while the scan runs.
    """
    if mode not in ("s", "q"):
        raise ValueError(f"mode {mode!r}: 's' (case/control) or 'q' (trait)")
    if permutation not in SCHEMES:
        raise ValueError(f"unknown permutation scheme {permutation!r}: joint, chained or adaptive")
    if seed is not None and not 0 <= _whole("seed", seed) < 2**32:
        raise ValueError(f"seed {seed} is outside 0 to 2^32 - 1")
    if threads is not None and _whole("threads", threads) < 1:
        raise ValueError(f"threads {threads} must be at least 1")
    allele_array = _alleles_array(alleles)
    phenotype_array = _phenotype_array(phenotype, mode)
    gaps = None if distances is None else np.ascontiguousarray(distances, dtype=np.float64).ravel()
    text = parameter_text(epsilon=epsilon, epsilon_fraction=epsilon_fraction,
                          min_pts_quantile=min_pts_quantile, window_size=window_size,
                          distance_type=distance_type, distance_parameters=distance_parameters,
                          permutations=permutations, report_threshold=report_threshold)
    # The scan writes its result file (and report) into a private folder, read
    # back and removed before this returns.
    with tempfile.TemporaryDirectory(prefix="orvane-scan-") as folder:
        out = _orvane.scan(allele_array, phenotype_array, mode == "q", text, gaps, permutation,
                           None if seed is None else int(seed),
                           None if threads is None else str(int(threads)), folder, bool(clusters))
    markers, _ = _last_block(out["result_file"], "scan")
    summary = json.loads(out["record"])
    cluster_table = _clusters(out["clusters"], mode) if clusters else None
    return ScanResult(markers=markers, summary=summary, clusters=cluster_table,
                      warnings=list(out["warnings"]), result_file=out["result_file"],
                      cluster_report=out["clusters"])


def _last_block(text, name):
    """The last block of a result file: the marker rows as a DataFrame (Python
    floats read back exactly what was written) and the summary line's fields."""
    lines = text.splitlines()
    starts = [i for i, line in enumerate(lines) if line.startswith("GeneticDistance\t")]
    if not starts:
        raise ValueError(f"{name}: no result block")
    header = lines[starts[-1]].split("\t")
    mode = "q" if "Q-score" in header else "s"
    rows = []
    summary = None
    for line in lines[starts[-1] + 1:]:
        if line.startswith("Orvane:"):
            summary = []
            continue
        if summary is not None:
            summary = line.rstrip("\t").split("\t")
            break
        rows.append([float(v) for v in line.rstrip("\t").split("\t")])
    frame = pd.DataFrame(rows, columns=[MARKER_COLUMNS[mode][c] for c in header])
    frame["marker"] = frame["marker"].astype(int)
    return frame, summary


def _clusters(report, mode):
    """The cluster report: one row per reported cluster, members as haplotype
    rows (from 0) of the arrays, core members among them."""
    rows = []
    marker = cluster = None
    members, core = [], []
    lines = report.splitlines()
    k = 0
    while k < len(lines):
        line = lines[k]
        if line.startswith("Position: "):
            marker = int(line[len("Position: "):])
        elif line.startswith("Cluster number "):
            cluster = int(line[len("Cluster number "):])
            members, core = [], []
        elif line.startswith("ChiSquare\t") or line.startswith("T_Score\t"):
            names = [CLUSTER_COLUMNS[c] for c in line.rstrip("\t").split("\t")]
            values = [float(v) for v in lines[k + 1].rstrip("\t").split("\t")]
            row = {"marker": marker, "cluster": cluster}
            row.update(zip(names, values))
            for whole in ("haplotypes", "core"):
                row[whole] = int(row[whole])
            row["members"] = members
            row["core_members"] = core
            rows.append(row)
            k += 1
        elif line and marker is not None and cluster is not None:
            fields = line.split("\t")
            haplotype = int(fields[0]) - 1  # identifiers count from 1
            members.append(haplotype)
            if fields[2].endswith("(1):"):
                core.append(haplotype)
        k += 1
    columns = ["marker", "cluster"] + (["chisq", "z_score", "haplotypes", "core", "neg_log10_p"] if mode == "s"
                                       else ["t_score", "haplotypes", "core", "mean", "variance"])
    return pd.DataFrame(rows, columns=columns + ["members", "core_members"])


def read_vcf(path, region=None, pheno=None, *, mode="s", pheno_col=None, pheno_format="auto",
             map=None, cm_per_mb=1.0, min_maf=0.0, unphased_as_missing=False):
    """A phased VCF/BCF (and a phenotype table) read as orvane-vcf reads them,
    into arrays for `scan` and the converter's marker table. Without `pheno`
    every sample is kept and the phenotype is NaN. Errors are orvane-vcf's,
    as ValueError."""
    if mode not in ("s", "q"):
        raise ValueError(f"mode {mode!r}: 's' (case/control) or 'q' (trait)")
    if pheno_format not in ("auto", "table", "fam"):
        raise ValueError(f"pheno_format {pheno_format!r}: auto, table or fam")
    if not hasattr(_orvane, "read_vcf"):
        raise RuntimeError("this orvane package was built without htslib: read_vcf is not available")
    out = _orvane.read_vcf(os.fspath(path), None if pheno is None else os.fspath(pheno), mode, region or "",
                           pheno_col or "", pheno_format, None if map is None else os.fspath(map),
                           float(cm_per_mb), float(min_maf), bool(unphased_as_missing))
    phenotype = out["phenotype"]
    if pheno is not None and mode == "s":
        phenotype = phenotype != 0.0
    markers = pd.DataFrame({"index": range(len(out["pos"])), "chrom": out["chrom"], "pos": out["pos"],
                            "id": out["id"], "ref": out["ref"], "alt": out["alt"], "cm": out["cm"]})
    haplotypes = pd.DataFrame({"identifier": range(1, len(phenotype) + 1), "sample": out["sample"],
                               "haplotype": out["haplotype"], "phenotype": phenotype})
    return VcfData(alleles=out["alleles"], phenotype=phenotype, markers=markers, haplotypes=haplotypes,
                   distances=np.asarray(out["distances"], dtype=np.float64))


def read_results(prefix_or_region_dir):
    """A command-line run's files as DataFrames: a workflow region's folder
    (orvane.dat-results and the files beside it) or a prefix (PREFIX.dat-results,
    or a result file itself). Returns a dict: `markers` (the last block's rows),
    `record` (the last run record, a dict), `statistics` (its statistics, one
    row each), `sumstats` (the per-marker table, when there is one) and
    `marker_table` (orvane-vcf's, when there is one)."""
    path = os.fspath(prefix_or_region_dir)
    if os.path.isdir(path):
        results = os.path.join(path, "orvane.dat-results")
        prefix = os.path.join(path, "orvane")
        tables = sorted(f for f in os.listdir(path) if f.endswith(".sumstats.tsv.gz"))
        sumstats = os.path.join(path, tables[0]) if tables else None
    elif path.endswith("-results"):
        results = path
        prefix = path[:-len(".dat-results")] if path.endswith(".dat-results") else path[:-len("-results")]
        sumstats = prefix + ".sumstats.tsv.gz"
    else:
        results = path + ".dat-results"
        prefix = path
        sumstats = path + ".sumstats.tsv.gz"
    with open(results) as f:
        markers, _ = _last_block(f.read(), results)
    out = {"markers": markers}
    record_path = results + ".jsonl"
    if os.path.exists(record_path):
        with open(record_path) as f:
            lines = [line for line in f if line.strip()]
        record = json.loads(lines[-1])
        out["record"] = record
        out["statistics"] = pd.DataFrame(
            [dict(statistic=name, **values) for name, values in record["statistics"].items()])
    if sumstats and os.path.exists(sumstats):
        out["sumstats"] = pd.read_csv(sumstats, sep="\t", na_values="#NA", keep_default_na=False)
    if os.path.exists(prefix + ".markers.tsv"):
        out["marker_table"] = pd.read_csv(prefix + ".markers.tsv", sep="\t", dtype={"chrom": str})
    return out
