"""The study's summary table, one row per region, from each region's
directory (orvane's run record orvane.dat-results.jsonl, orvane.markers.tsv,
orvane.haplotypes.tsv).

Values are written as orvane writes them (six significant digits), so that a
row reads the same as the result file. omnibus_p is orvane's regional test
over all its statistics (joint and adaptive permutation schemes); bonferroni_p is omnibus_p
times the number of regions, at most 1: the two come first, as the numbers to
report. With the chained scheme there is no omnibus p: bonferroni_p is then
the cluster score's permutation p times the number of regions, a p of 0 (no
replicate reached the observed score) taken as 1/(P+1). A value that was not
computed, or is not a number, is NA; a -log10 p whose p underflowed to 0 is
inf. A region in which no window formed a cluster has no cluster test at all:
the row keeps the values as written, and the workflow warns and the report
marks the region instead.
"""
import json
import sys
import os

from study import read_text

# The numbers to report come first, beside the region's name: omnibus_p, the
# region's p, and bonferroni_p, the study's; then where the region lies and
# what the statistics found.
COLUMNS = ["region", "omnibus_p", "bonferroni_p", "chrom", "start", "end", "samples",
           "haplotypes", "markers", "predicted_id", "predicted_pos", "predicted_cm", "score",
           "minus_log10_p", "permutation_p", "permutations", "single_id", "single_pos",
           "single_minus_log10_p"]
# Trait mode: single_* is the pooled T; then its permutation p and the Mann-Whitney Z.
TRAIT_COLUMNS = ["single_permutation_p", "mw_id", "mw_pos", "mw_minus_log10_p",
                 "mw_permutation_p"]
# Then the permutation scheme, the programs' warnings for the region (their
# count and the first one), and last the replicates the permutation test drew
# (fewer than permutations where the adaptive scheme stopped early).
SCHEME_COLUMNS = ["permutation_scheme"]
WARNINGS_COLUMN = "warnings"
REPLICATES_COLUMN = "replicates"
# The logs of a region whose warning lines are gathered, in the order they ran
# (alleles.log: the workflow's own check that REF and ALT are not swapped).
WARNING_LOGS = ("convert.log", "alleles.log", "orvane.log", "locate.log")
WARNING_PROGRAMS = ("orvane-vcf", "orvane-workflow", "orvane", "orvane-locate")


class SummaryError(Exception):
    pass


def columns(mode):
    return (COLUMNS + (TRAIT_COLUMNS if mode == "q" else []) + SCHEME_COLUMNS + [WARNINGS_COLUMN]
            + [REPLICATES_COLUMN])


def region_warnings(directory):
    """The warning lines that orvane-vcf, the workflow's allele check, orvane
    and orvane-locate wrote to the region's logs, as written ("PROGRAM: warning: ..."), in the order they ran."""
    found = []
    for name in WARNING_LOGS:
        path = os.path.join(directory, "logs", name)
        if not os.path.exists(path):
            continue
        for line in read_text(path).splitlines():
            program, _, rest = line.partition(": warning: ")
            if rest and program in WARNING_PROGRAMS:
                found.append(line)
    return found


def warnings_cell(warnings):
    """The count, and the first warning's text: "0", or "2: orvane: ...". """
    if not warnings:
        return "0"
    first = warnings[0].replace(": warning: ", ": ", 1).replace("\t", " ")
    return f"{len(warnings)}: {first}"


def warnings_report(regions, directories, limit=20):
    """The lines that tell the terminal, at the end of a run, which regions
    warned; [] when none did."""
    by_region = [(r.name, region_warnings(directories[r.name])) for r in regions]
    warned = [(name, found) for name, found in by_region if found]
    if not warned:
        return []
    total = sum(len(found) for _, found in warned)
    lines = [f"orvane workflow: {total} warning(s) in {len(warned)} of {len(regions)} "
             "region(s); they are in summary.tsv (column warnings) and report.html "
             "(section Warnings):"]
    shown = [f"  {name}: {line}" for name, found in warned for line in found]
    lines += shown[:limit]
    if len(shown) > limit:
        lines.append(f"  ... and {len(shown) - limit} more")
    return lines


def bonferroni(p, permutations, n_regions):
    """p (text) times the number of regions, capped at 1; a p of 0 (the
    chained scheme's "no replicate reached it") counts as 1/(P+1). 'NA' when
    there is no p."""
    if permutations <= 0 or p == "NA":
        return "NA"
    value = float(p)
    if value == 0:
        value = 1.0 / (permutations + 1)
    return "%g" % min(1.0, value * n_regions)


def read_record(path):
    """The last line of orvane's run record, as a dict."""
    if not os.path.exists(path):
        raise SummaryError(f"{path}: no run record (orvane 0.2.0 or later writes it)")
    lines = [line for line in read_text(path).splitlines() if line.strip()]
    if not lines:
        raise SummaryError(f"{path}: the run record is empty")
    try:
        return json.loads(lines[-1])
    except ValueError as e:
        raise SummaryError(f"{path}: the last line is not JSON ({e})")


def number(value):
    """A recorded number as orvane writes it; NA for null (a value that was
    missing, or not a number)."""
    if value is None:
        return "NA"
    return "%g" % value


def minus_log10_p(stat):
    """A statistic's -log10 p. The record writes null for any value that is
    not finite: beside a finite statistic that is a p that underflowed to 0,
    whose -log10 is +inf, written inf; beside a statistic that is itself
    missing or not a number, the p is missing too: NA."""
    if stat.get("minus_log10_p") is None and stat.get("value") is not None:
        return "inf"
    return number(stat.get("minus_log10_p"))


def no_cluster(record):
    """Whether no window formed a cluster that was scored (orvane warns so)."""
    return any(w.startswith("no window formed a cluster") for w in record.get("warnings", []))


def read_tsv(path):
    lines = read_text(path).splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:] if line]


STATISTICS = {"s": ["cluster", "chisq"], "q": ["cluster", "T", "Z"]}


def region_row(name, chrom, start, end, directory, mode, n_regions):
    markers = read_tsv(os.path.join(directory, "orvane.markers.tsv"))
    haplotypes = read_tsv(os.path.join(directory, "orvane.haplotypes.tsv"))
    path = os.path.join(directory, "orvane.dat-results.jsonl")
    record = read_record(path)
    if record.get("mode") != mode:
        raise SummaryError(f"{path}: a run of mode {record.get('mode')}, the study's mode is {mode}")
    try:
        stats = [record["statistics"][key] for key in STATISTICS[mode]]
        permutations = int(record["permutation"]["count"])
        scheme = record["permutation"]["scheme"]
        # Records written before the adaptive scheme drew every replicate.
        replicates = int(record["permutation"].get("replicates", max(permutations, 0)))
    except (KeyError, TypeError, ValueError) as e:
        raise SummaryError(f"{path}: the run record lacks {e}")

    def marker(stat):
        m = markers[int(stat["peak"])]
        return [m["id"], m["pos"]]

    def p(stat):
        return number(stat["permutation_p"])

    cluster = stats[0]
    predicted = markers[int(cluster["peak"])]
    omnibus = number(record.get("omnibus_p"))
    regional = p(cluster) if scheme == "chained" else omnibus
    row = [name, omnibus, bonferroni(regional, permutations, n_regions), chrom, str(start),
           str(end), str(len({h["sample"] for h in haplotypes})), str(len(haplotypes)),
           str(len(markers))]
    row += [predicted["id"], predicted["pos"], predicted["cm"], number(cluster["value"]),
            minus_log10_p(cluster), p(cluster), str(permutations)]
    row += marker(stats[1]) + [minus_log10_p(stats[1])]
    if mode == "q":
        row += [p(stats[1])] + marker(stats[2]) + [minus_log10_p(stats[2]), p(stats[2])]
    row += [scheme]
    return row + [warnings_cell(region_warnings(directory)), str(replicates)]


def without_cluster(regions, directories, mode):
    """The names of the regions in which no window formed a cluster."""
    return [r.name for r in regions
            if no_cluster(read_record(os.path.join(directories[r.name], "orvane.dat-results.jsonl")))]


def write(out, regions, directories, mode):
    """regions: objects with name, chrom, start, end; directories: by name.
    Warns on standard error about regions without a cluster."""
    with open(out + ".tmp", "w") as f:
        f.write("\t".join(columns(mode)) + "\n")
        for r in regions:
            row = region_row(r.name, r.chrom, r.start, r.end, directories[r.name], mode,
                             len(regions))
            f.write("\t".join(row) + "\n")
    os.replace(out + ".tmp", out)
    empty = without_cluster(regions, directories, mode)
    if empty:
        print("orvane workflow: warning: no window formed a cluster in %d region(s) (%s): "
              "their predicted positions and cluster permutation p-values are "
              "conventions that mean nothing; see the warnings in each region's logs"
              % (len(empty), ", ".join(empty)), file=sys.stderr)
