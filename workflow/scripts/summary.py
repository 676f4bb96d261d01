"""The study's summary table, one row per region, from each region's
directory (orvane.dat-results, orvane.markers.tsv, orvane.haplotypes.tsv).

Values are copied as orvane and orvane-vcf wrote them, so that a row reads
the same as the programs' own outputs. bonferroni_p is the permutation p
times the number of regions, at most 1; a permutation p of 0 (no replicate
reached the observed score) is taken as 1/(P+1) there. A region in which no
window formed a cluster has no cluster test at all, and orvane's permutation
p there is a convention (0 in trait mode): the row keeps the values as written,
and the workflow warns and the report marks the region instead.
"""
import sys
import os

from study import read_text

COLUMNS = ["region", "chrom", "start", "end", "samples", "haplotypes", "markers",
           "predicted_id", "predicted_pos", "predicted_cm", "score", "minus_log10_p",
           "permutation_p", "permutations", "bonferroni_p", "single_id", "single_pos",
           "single_minus_log10_p"]
# Trait mode: single_* is the pooled T; then its permutation p and the Mann-Whitney Z.
TRAIT_COLUMNS = ["single_permutation_p", "mw_id", "mw_pos", "mw_minus_log10_p",
                 "mw_permutation_p"]
# Last: the programs' warnings for the region, their count and the first one.
WARNINGS_COLUMN = "warnings"
# The logs of a region whose warning lines are gathered, in the order they ran.
WARNING_LOGS = ("convert.log", "orvane.log", "locate.log")
WARNING_PROGRAMS = ("orvane-vcf", "orvane", "orvane-locate")
SUMMARY_FIELDS = {"s": 7, "q": 12}
DEFAULT_PERMUTATIONS = 1000


class SummaryError(Exception):
    pass


def columns(mode):
    return COLUMNS + (TRAIT_COLUMNS if mode == "q" else []) + [WARNINGS_COLUMN]


def region_warnings(directory):
    """The warning lines that orvane-vcf, orvane and orvane-locate wrote to the
    region's logs, as written ("PROGRAM: warning: ..."), in the order they ran."""
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


def permutations_setting(text):
    """The permutation count of an orvane parameter file, read as orvane reads
    the labelled sequence (epsilon MODE [VALUE], minPtsQuantile, windowSize,
    distanceType with its parameters, permutations); the default when the
    sequence stops before it."""
    tokens = text.split()
    count = {1: 2, 2: 2, 6: 2, 3: 1, 4: 4, 5: 4}

    def integer(k):
        return int(tokens[k]) if k < len(tokens) and tokens[k].lstrip("+-").isdigit() else None

    def real(k):
        try:
            float(tokens[k])
            return True
        except (IndexError, ValueError):
            return False

    mode = integer(1)
    if mode is None:
        return DEFAULT_PERMUTATIONS
    at = 2 + (mode in (1, 2))
    if mode in (1, 2) and not real(2):
        return DEFAULT_PERMUTATIONS
    if not real(at + 1) or integer(at + 3) is None:
        return DEFAULT_PERMUTATIONS
    distance = integer(at + 5)
    if distance is None:
        return DEFAULT_PERMUTATIONS
    at += 6
    for _ in range(count.get(distance, 0)):
        if not real(at):
            return DEFAULT_PERMUTATIONS
        at += 1
    value = integer(at + 1)
    return DEFAULT_PERMUTATIONS if value is None else value


def bonferroni(permutation_p, permutations, n_regions):
    """The permutation p times the number of regions, capped at 1; a p of 0
    counts as 1/(P+1). 'NA' when the test did not run."""
    if permutations <= 0:
        return "NA"
    p = float(permutation_p)
    if p == 0:
        p = 1.0 / (permutations + 1)
    return "%g" % min(1.0, p * n_regions)


def no_cluster(path, mode):
    """Whether no window of the last block formed a cluster that was scored:
    every score is the no-cluster value (trait mode -1e+07, case/control 0)."""
    lines = read_text(path).splitlines()
    starts = [k for k, line in enumerate(lines) if line.startswith("GeneticDistance\t")]
    if not starts:
        raise SummaryError(f"{path}: no result block")
    scores = []
    for line in lines[starts[-1] + 1:]:
        fields = line.split("\t")
        try:
            scores.append(float(fields[2]))
        except (IndexError, ValueError):
            break  # the summary's header ends the marker lines
    empty = -1e7 if mode == "q" else 0.0
    return all(score == empty for score in scores)


def last_summary(path, mode):
    """The summary line of the last block of a result file, as its fields."""
    lines = read_text(path).splitlines()
    want = SUMMARY_FIELDS[mode]
    for line in reversed(lines):
        fields = [f for f in line.split("\t") if f != ""]
        if line.strip():
            if len(fields) != want:
                raise SummaryError(f"{path}: the last line has {len(fields)} fields, "
                                   f"a summary of mode {mode} has {want}")
            return fields
    raise SummaryError(f"{path}: no summary line")


def read_tsv(path):
    lines = read_text(path).splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:] if line]


def region_row(name, chrom, start, end, directory, mode, permutations, n_regions):
    markers = read_tsv(os.path.join(directory, "orvane.markers.tsv"))
    haplotypes = read_tsv(os.path.join(directory, "orvane.haplotypes.tsv"))
    s = last_summary(os.path.join(directory, "orvane.dat-results"), mode)

    def marker(field):
        m = markers[int(s[field])]
        return [m["id"], m["pos"]]

    row = [name, chrom, str(start), str(end), str(len({h["sample"] for h in haplotypes})),
           str(len(haplotypes)), str(len(markers))]
    predicted = markers[int(s[0])]
    row += [predicted["id"], predicted["pos"], predicted["cm"], s[1], s[2], s[3],
            str(permutations), bonferroni(s[3], permutations, n_regions)]
    if mode == "s":
        row += marker(4) + [s[6]]
    else:
        row += marker(4) + [s[6], s[7]] + marker(8) + [s[10], s[11]]
    return row + [warnings_cell(region_warnings(directory))]


def without_cluster(regions, directories, mode):
    """The names of the regions in which no window formed a cluster."""
    return [r.name for r in regions
            if no_cluster(os.path.join(directories[r.name], "orvane.dat-results"), mode)]


def write(out, regions, directories, mode, params):
    """regions: objects with name, chrom, start, end; directories: by name.
    Warns on standard error about regions without a cluster."""
    permutations = permutations_setting(read_text(params))
    with open(out + ".tmp", "w") as f:
        f.write("\t".join(columns(mode)) + "\n")
        for r in regions:
            row = region_row(r.name, r.chrom, r.start, r.end, directories[r.name], mode,
                             permutations, len(regions))
            f.write("\t".join(row) + "\n")
    os.replace(out + ".tmp", out)
    empty = without_cluster(regions, directories, mode)
    if empty:
        print("orvane workflow: warning: no window formed a cluster in %d region(s) (%s): "
              "their predicted positions and permutation p-values (and so bonferroni_p) are "
              "conventions that mean nothing; see the warnings in each region's logs"
              % (len(empty), ", ".join(empty)), file=sys.stderr)
