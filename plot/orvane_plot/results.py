"""The result file: its blocks (one per run) and the run record beside it."""
import json

from .errors import PlotError

HEADERS = {
    "single-gene": ["GeneticDistance", "Markers", "Z-score", "tMinusLog10Pvalue",
                    "SingleSNPChiSQ", "SingleSNPMinusLogP"],
    "trait": ["GeneticDistance", "Markers", "Q-score", "MinusLog10Pvalue", "T",
              "WelthT", "DoFWelthT", "U", "Z"],
}
SUMMARY_FIELDS = {"single-gene": 7, "trait": 12}
# Summary fields holding the marker index of a predicted position, with the
# name of the statistic that predicts it; the first is the cluster score's,
# the second the single-marker test whose lead marker the r^2 refers to.
PREDICTIONS = {
    "single-gene": [(0, "cluster score"), (4, "single marker")],
    "trait": [(0, "cluster score"), (4, "single-marker T"), (8, "Mann-Whitney Z")],
}
# Summary fields holding permutation p-values, with the statistic's name.
PERMUTATION_P = {
    "single-gene": [(3, "cluster score")],
    "trait": [(3, "cluster score"), (7, "T"), (11, "Mann-Whitney Z")],
}
# The run record's statistics, in the order of PREDICTIONS, with their names.
RECORD_STATISTICS = {
    "single-gene": [("cluster", "cluster score"), ("chisq", "single marker")],
    "trait": [("cluster", "cluster score"), ("T", "T"), ("Z", "Mann-Whitney Z")],
}
# The Q-score of a trait-mode window in which no cluster formed.
NO_CLUSTER_Q = -1e7


class Block:
    def __init__(self, mode, line):
        self.mode = mode
        self.line = line  # of its header, for messages
        self.rows = []    # lists of floats, one per marker line
        self.summary = None
        self.awaiting_summary = False


def parse_numbers(fields, where):
    try:
        # float() takes the "nan", "-nan", "inf", "-inf" and "-0" a run may write.
        return [float(f) for f in fields]
    except ValueError:
        raise PlotError(f"{where}: expected numbers, got '{chr(9).join(fields)}'")


def read_blocks(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    blocks = []
    for number, line in enumerate(lines, 1):
        where = f"{path}:{number}"
        # A run that stopped early leaves a partial line that the next run's
        # header continues.
        start = line.find("GeneticDistance\t")
        if start > 0:
            line = line[start:]
        if start >= 0:
            fields = line.split("\t")
            mode = next((m for m, h in HEADERS.items() if fields == h), None)
            if mode is None:
                raise PlotError(f"{where}: unknown column header")
            blocks.append(Block(mode, number))
            continue
        if not line.strip():
            continue
        if not blocks:
            raise PlotError(f"{where}: no column header before this line")
        block = blocks[-1]
        if block.summary is not None:
            raise PlotError(f"{where}: text after the summary of the run at line {block.line}")
        fields = line.split("\t")
        if block.mode == "trait" and fields[-1] == "":
            fields.pop()  # trait summaries end with a tab
        if line.startswith("Orvane:predicted_Pos"):
            block.awaiting_summary = True
        elif block.awaiting_summary:
            if len(fields) != SUMMARY_FIELDS[block.mode]:
                raise PlotError(f"{where}: {len(fields)} summary fields, expected "
                                f"{SUMMARY_FIELDS[block.mode]}")
            block.summary = parse_numbers(fields, where)
        else:
            if len(fields) != len(HEADERS[block.mode]):
                raise PlotError(f"{where}: {len(fields)} fields, expected "
                                f"{len(HEADERS[block.mode])}")
            row = parse_numbers(fields, where)
            if row[1] != len(block.rows):
                raise PlotError(f"{where}: marker {fields[1]} where marker "
                                f"{len(block.rows)} was expected")
            block.rows.append(row)
    if not blocks:
        raise PlotError(f"{path}: no result block (no 'GeneticDistance' header line)")
    return blocks


def has_cluster(block, row):
    """False for a marker whose window formed no cluster."""
    return row[2] != NO_CLUSTER_Q if block.mode == "trait" else True


def no_cluster_formed(block):
    """Case/control: every Z-score 0; trait: every window without a cluster."""
    if block.mode == "trait":
        return all(row[2] == NO_CLUSTER_Q for row in block.rows)
    return all(row[2] == 0 for row in block.rows)


def read_record(result_path, blocks, number):
    """The run record of block `number` (RESULT.jsonl beside the result file),
    or None. Only runs that completed append a record, and only since the
    record exists, so the complete blocks and the record lines are matched
    from the end; a record whose peaks and values are not the block's is not
    used."""
    try:
        with open(result_path + ".jsonl", encoding="utf-8") as f:
            lines = [line for line in f.read().splitlines() if line.strip()]
    except OSError:
        return None
    complete = [k for k, block in enumerate(blocks) if block.summary is not None]
    if number - 1 not in complete:
        return None
    from_end = len(complete) - complete.index(number - 1)
    if from_end > len(lines):
        return None
    try:
        record = json.loads(lines[-from_end])
        block = blocks[number - 1]
        for (key, _), (field, _) in zip(RECORD_STATISTICS[block.mode], PREDICTIONS[block.mode]):
            statistic = record["statistics"][key]
            if (statistic["peak"], statistic["value"]) != (block.summary[field], block.summary[field + 1]):
                return None
        record["permutation"]["count"], record["permutation"]["scheme"]
    except (ValueError, KeyError, TypeError):
        return None
    return record
