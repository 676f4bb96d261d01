"""The data file, read in pieces, and r^2 with the lead marker."""
import math
import re

from .errors import PlotError


class HaplotypeData:
    """What the picture needs of the data file, gathered while it is read:
    the number of haplotypes, how many have a status starting with "a" (a
    case), and, per marker, the counts behind its r^2 with the lead marker
    over the haplotypes typed at both (all 0 without a lead marker)."""
    def __init__(self, n_markers, lead):
        self.count = 0
        self.cases = 0
        self.lead = lead
        # Per marker, over the haplotypes typed there and at the lead marker:
        # their number, and how many carry allele 1 at the lead marker, at
        # the marker, and at both.
        zeros = [0] * n_markers
        self.typed, self.lead_one, self.marker_one, self.both_one = (
            list(zeros), list(zeros), list(zeros), list(zeros))

    def add(self, codes, cases):
        """codes: one row per haplotype, 0 untyped, 1 allele 1, 2 any other code."""
        self.count += len(codes)
        self.cases += cases
        if self.lead is None or not len(codes):
            return
        import numpy as np

        def plus(totals, counts):
            return [total + int(count) for total, count in zip(totals, counts)]
        typed_at_lead = codes[codes[:, self.lead] != 0]
        self.typed = plus(self.typed, np.count_nonzero(typed_at_lead, axis=0))
        self.marker_one = plus(self.marker_one, np.count_nonzero(typed_at_lead == 1, axis=0))
        one_at_lead = codes[codes[:, self.lead] == 1]
        self.lead_one = plus(self.lead_one, np.count_nonzero(one_at_lead, axis=0))
        self.both_one = plus(self.both_one, np.count_nonzero(one_at_lead == 1, axis=0))


# The data file is read in pieces of whole lines of about this many bytes, so
# that a million haplotypes need little memory.
DATA_PIECE = 8 << 20


def token_bytes():
    """Byte classes of the data file's fast paths: bytes of a field, the
    separators between fields, and every byte a piece may hold."""
    import numpy as np
    field = np.zeros(256, dtype=bool)
    field[0x21:0x7f] = True
    field[ord(",")] = False
    separator = np.zeros(256, dtype=bool)
    separator[[ord(" "), ord(","), ord("\t")]] = True
    accepted = field | separator
    accepted[[ord("\r"), ord("\n")]] = True
    return field, separator, accepted


def aligned_lines(piece, n_markers, classes):
    """The layout orvane-vcf writes, read fastest: every line ends in its
    allele codes, each one digit after one separator, and holds exactly two
    fields before them (identifier, status or trait). (codes, cases, lines,
    False), or None for a piece of any other layout."""
    import numpy as np
    from numpy.lib.stride_tricks import sliding_window_view
    field, separator, _ = classes
    buf = np.frombuffer(piece, dtype=np.uint8)
    width = 2 * n_markers
    if buf[-1] != ord("\n") or len(buf) <= width:
        return None
    line_ends = np.flatnonzero(buf == ord("\n"))
    line_starts = np.concatenate(([0], line_ends[:-1] + 1))
    codes_at = line_ends - width
    before = codes_at - line_starts
    if before.min() < 0 or before.max() > 256:
        return None
    # The codes of all lines as one matrix, separator and code byte pairs.
    block = sliding_window_view(buf, width)[codes_at]
    if not separator[block[:, 0::2]].all():
        return None
    codes = block[:, 1::2] - ord("0")
    if (codes > 9).any():
        return None
    # The text before the codes, right-aligned in a window as wide as the
    # longest; bytes of the line before count as separators.
    longest = int(before.max())
    columns = codes_at[:, None] - longest + np.arange(longest)
    window = buf[np.maximum(columns, 0)]
    inside = columns >= line_starts[:, None]
    if not (field[window] | separator[window] | ~inside).all():
        return None
    is_field = field[window] & inside
    starts = is_field.copy()
    starts[:, 1:] &= ~is_field[:, :-1]
    if (np.count_nonzero(starts, axis=1) != 2).any():
        return None
    second = starts & (np.cumsum(starts, axis=1) == 2)
    cases = int(np.count_nonzero(window[second] == ord("a")))
    return np.minimum(codes, 2), cases, len(line_ends), False


def regular_lines(piece, n_markers, classes):
    """The haplotype lines of `piece` (whole lines of printable ASCII whose
    fields are separated by blanks, commas or tabs, with one-digit allele
    codes and \\r only before \\n), read with numpy: (codes, cases, lines up to
    and without the first empty line, whether an empty line ended the data).
    None for any other piece, which is then read line by line."""
    import numpy as np
    field, _, accepted = classes
    buf = np.frombuffer(piece, dtype=np.uint8)
    if not accepted[buf].all():
        return None
    returns = np.flatnonzero(buf[:-1] == ord("\r"))
    if buf[-1] == ord("\r") or (returns.size and (buf[returns + 1] != ord("\n")).any()):
        return None
    # A field starts at a field byte after a byte that is not one, and ends
    # (exclusive) at a byte that is not one after a field byte.
    is_field = np.zeros(len(buf) + 2, dtype=bool)
    is_field[1:-1] = field[buf]
    starts = np.flatnonzero(is_field[1:] & ~is_field[:-1])
    ends = np.flatnonzero(is_field[:-1] & ~is_field[1:])
    line_ends = np.flatnonzero(buf == ord("\n"))
    if buf[-1] != ord("\n"):
        line_ends = np.append(line_ends, len(buf))
    fields_before = np.searchsorted(starts, line_ends)
    per_line = np.diff(fields_before, prepend=0)
    empty = np.flatnonzero(per_line == 0)
    lines, stopped = len(line_ends), False
    if empty.size:
        lines, stopped = int(empty[0]), True
        begin = int(line_ends[lines - 1]) + 1 if lines else 0
        if ord(",") in buf[begin:line_ends[lines]]:
            return None  # a line of commas is not empty: it lacks its fields
        starts, ends = starts[:fields_before[lines]], ends[:fields_before[lines]]
    width = n_markers + 2
    if (per_line[:lines] != width).any():
        return None
    starts, ends = starts.reshape(lines, width), ends.reshape(lines, width)
    if (ends[:, 2:] - starts[:, 2:] != 1).any():
        return None
    codes = buf[starts[:, 2:]] - ord("0")
    if (codes > 9).any():
        return None
    cases = int(np.count_nonzero(buf[starts[:, 1]] == ord("a")))
    return np.minimum(codes, 2), cases, lines, stopped


def irregular_lines(path, piece, first_number, n_markers):
    """Reads the haplotype lines of `piece` one by one, as the whole file
    would be read as text: (codes, cases, lines, whether an empty line ended
    the data). Errors name the line."""
    import numpy as np
    rows, cases = [], 0
    lines = piece.decode("utf-8", errors="replace").splitlines()
    for number, line in enumerate(lines, first_number):
        if not line.strip():
            return np.array(rows, dtype=np.uint8).reshape(-1, n_markers), cases, \
                number - first_number, True
        fields = [f for f in re.split(r"[ ,\t]+", line.strip()) if f]
        if len(fields) != n_markers + 2:
            raise PlotError(f"{path}:{number}: {len(fields) - 2} allele codes, but the result "
                            f"block has {n_markers} markers")
        try:
            codes = [int(code) for code in fields[2:]]
        except ValueError:
            raise PlotError(f"{path}:{number}: allele codes must be integers")
        rows.append([1 if c == 1 else (0 if c == 0 else 2) for c in codes])
        cases += fields[1].startswith("a")
    return np.array(rows, dtype=np.uint8).reshape(-1, n_markers), cases, len(lines), False


def read_haplotypes(path, n_markers, lead=None):
    """orvane's data file: header, then identifier, status or trait, allele
    codes, up to the first empty line. Returns its HaplotypeData, with the
    counts for r^2 with marker `lead` when one is given."""
    data = HaplotypeData(n_markers, lead)
    classes = token_bytes()
    try:
        with open(path, "rb") as f:
            rest = f.read(DATA_PIECE)
            # The header: up to the first line break as text sees them.
            while b"\n" not in rest:
                more = f.read(DATA_PIECE)
                if not more:
                    break
                rest += more
            cut = rest.find(b"\n") + 1 or len(rest)
            header, rest = rest[:cut], rest[cut:]
            number = 2
            after_header = header.decode("utf-8", errors="replace").splitlines()[1:]
            if after_header:
                # Another line break within the first line: its text is read as lines.
                rest = "\n".join(after_header).encode() + b"\n" + rest
            while True:
                more = f.read(DATA_PIECE)
                cut = rest.rfind(b"\n") + 1 if more else len(rest)
                if not cut and more:
                    rest += more
                    continue
                piece, rest = rest[:cut], rest[cut:] + more
                if piece:
                    read = (aligned_lines(piece, n_markers, classes)
                            or regular_lines(piece, n_markers, classes))
                    if read is None:
                        read = irregular_lines(path, piece, number, n_markers)
                    codes, cases, lines, stopped = read
                    data.add(codes, cases)
                    number += lines
                    if stopped:
                        break
                if not more and not rest:
                    break
    except OSError as e:
        raise PlotError(f"{path}: cannot read: {e.strerror}")
    if data.count < 3:
        raise PlotError(f"{path}: {data.count} haplotype line(s); the data file of the "
                        "run is needed")
    return data


def r2_with(data):
    """r^2 of carrying allele 1 (code 1) at each marker with carrying it at the
    lead marker, over the haplotypes typed at both; nan where undefined."""
    values = []
    for n, lead_one, marker_one, both_one in zip(data.typed, data.lead_one, data.marker_one,
                                                 data.both_one):
        if n == 0:
            values.append(math.nan)
            continue
        p_a = lead_one / n
        p_b = marker_one / n
        p_ab = both_one / n
        denominator = p_a * (1 - p_a) * p_b * (1 - p_b)
        values.append((p_ab - p_a * p_b) ** 2 / denominator if denominator > 0 else math.nan)
    return values
