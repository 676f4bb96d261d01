"""The files given beside the result file: the markers, the genetic map,
the localisation intervals and the parameter file."""
import re

from .errors import PlotError

DEFAULT_PERMUTATIONS = 1000  # orvane's default when the parameter file stops early
INTERVAL_COLUMNS = ["statistic", "construction", "level", "first_marker", "last_marker",
                    "first_cm", "last_cm", "markers", "width_cm"]


def read_markers(path, n_markers):
    try:
        with open(path, encoding="utf-8") as f:
            rows = [line.rstrip("\r\n").split("\t") for line in f if line.strip()]
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    if not rows or "pos" not in rows[0] or "id" not in rows[0]:
        raise PlotError(f"{path}: expected a header with the columns pos and id")
    header, rows = rows[0], rows[1:]
    if len(rows) != n_markers:
        raise PlotError(f"{path}: {len(rows)} markers, but the result block has {n_markers}")
    pos_col, id_col = header.index("pos"), header.index("id")
    chrom = rows[0][header.index("chrom")] if "chrom" in header and rows else ""
    try:
        positions = [int(r[pos_col]) for r in rows]
        names = [r[id_col] for r in rows]
    except (ValueError, IndexError):
        raise PlotError(f"{path}: a marker line lacks a whole-number pos or an id")
    return positions, names, chrom


def read_map(path):
    """The converter's genetic map: position, rate, cumulative cM, an optional
    header. Returns (positions, cM)."""
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    positions, cms = [], []
    for number, line in enumerate(lines, 1):
        fields = line.split()
        if not fields:
            continue
        try:
            position, _, cm = (float(f) for f in fields)
        except ValueError:
            if number == 1:
                continue  # the header
            raise PlotError(f"{path}:{number}: expected three numbers: position, rate, cM")
        if positions and (position <= positions[-1] or cm < cms[-1]):
            raise PlotError(f"{path}:{number}: positions must increase and cM must not decrease")
        positions.append(position)
        cms.append(cm)
    if len(positions) < 2:
        raise PlotError(f"{path}: a genetic map needs at least two points")
    return positions, cms


def read_interval(path, block, result_where):
    """The localisation intervals, one row per statistic, as dicts. Every row's
    markers must be markers of the result block, at the same map positions: an
    interval file of another study or run is refused. A row of NA (a statistic
    without an interval) has first and last None."""
    n_markers = len(block.rows)
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    if not lines or any(c not in lines[0].split("\t") for c in INTERVAL_COLUMNS):
        raise PlotError(f"{path}:1: expected the header " + "\t".join(INTERVAL_COLUMNS))
    header = lines[0].split("\t")
    rows = []
    for number, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != len(header):
            raise PlotError(f"{path}:{number}: {len(fields)} fields, the header has {len(header)}")
        row = dict(zip(header, fields))
        row["line"] = number
        if row["first_marker"] == "NA" and row["last_marker"] == "NA":
            row["first"] = row["last"] = None
            rows.append(row)
            continue
        try:
            first, last = int(row["first_marker"]), int(row["last_marker"])
            first_cm, last_cm = float(row["first_cm"]), float(row["last_cm"])
        except ValueError:
            raise PlotError(f"{path}:{number}: first_marker and last_marker must be marker "
                            "indices, first_cm and last_cm numbers")
        if not 0 <= first <= last < n_markers:
            raise PlotError(f"{path}:{number}: markers {first} to {last} lie outside the "
                            f"{n_markers} markers of {result_where}: the interval file is not "
                            "of this result")
        for marker, cm in ((first, first_cm), (last, last_cm)):
            # GeneticDistance is in Morgans, the interval file in cM (6 digits).
            expected = block.rows[marker][0] * 100.0
            if abs(cm - expected) > 1e-6 + 1e-5 * abs(expected):
                raise PlotError(f"{path}:{number}: marker {marker} at {cm:g} cM, but at "
                                f"{expected:g} cM in {result_where}: the interval file is not "
                                "of this result")
        row["first"], row["last"] = first, last
        rows.append(row)
    return rows


INTEGER = re.compile(r"[+-]?\d+")
REAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
NUMBER_START = re.compile(r"[+-]?\.?\d")


def read_permutations(path):
    """The permutation count of an orvane parameter file: labels and values in
    order (epsilon mode [value], minPtsQuantile, windowSize, distanceType and
    its parameters, permutations). As in orvane, reading stops at the first
    value that is not a number and the default count then holds; a value with
    text glued to a number is refused rather than guessed at."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    tokens = [(token, number) for number, line in enumerate(text.splitlines(), 1)
              for token in line.split()]
    position = [0]

    class Stop(Exception):
        pass

    def take():
        if position[0] >= len(tokens):
            raise Stop
        position[0] += 1
        return tokens[position[0] - 1]

    def number(pattern):
        token, line = take()
        if pattern.fullmatch(token):
            value = int(token) if pattern is INTEGER else float(token)
            if pattern is INTEGER and not -2**31 <= value < 2**31:
                raise Stop
            return value
        if NUMBER_START.match(token):
            raise PlotError(f"{path}:{line}: cannot tell how orvane reads '{token}'; "
                            "give the count with --permutations P")
        raise Stop

    try:
        take()
        mode = number(INTEGER)
        if mode in (1, 2):
            number(REAL)
        take()
        number(REAL)
        take()
        number(INTEGER)
        take()
        distance_type = number(INTEGER)
        for _ in range({1: 2, 2: 2, 6: 2, 3: 1, 4: 4, 5: 4}.get(distance_type, 0)):
            number(REAL)
        take()
        return number(INTEGER)
    except Stop:
        return DEFAULT_PERMUTATIONS
