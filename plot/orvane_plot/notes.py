"""The words of the picture: its title and the notes beside the legend."""
import math

from .results import PERMUTATION_P, RECORD_STATISTICS


def at_floor(p, permutations):
    """Whether p, as written (six digits), is 1/(P + 1) rather than any other
    multiple of 1/(P + 1) or the 1/P of the chained scheme."""
    floor = 1.0 / (permutations + 1)
    return math.isclose(p, floor, rel_tol=1e-5) and abs(p - floor) < abs(p - 1.0 / permutations)


def permutation_text(p, permutations):
    """A permutation p-value as the reader should take it: 0 means below
    1/P, or that the test did not run; 1/(P + 1), the smallest p-value P
    replicates give when none reaches the observed value, is a bound."""
    if permutations is not None and permutations <= 0:
        return "not run"
    if p > 0 and permutations is not None and at_floor(p, permutations):
        return f"p <= 1/{permutations + 1}"
    if p > 0:
        return f"{p:g}"
    if permutations is None:
        return "0 (< 1/P, or not run)"
    return f"< 1/{permutations}"


def default_title(block, number, n_blocks, x, inputs):
    text = "Case/control" if block.mode == "single-gene" else "Quantitative trait"
    text += " association"
    if inputs.markers:
        chrom = inputs.markers[2]
        if chrom and not chrom.startswith("chr"):
            chrom = "chromosome " + chrom
        text += f", {chrom + ' ' if chrom else ''}{min(x):.2f}-{max(x):.2f} Mb"
    else:
        text += f", markers 0-{len(block.rows) - 1}"
    if n_blocks > 1:
        text += f" (run {number} of {n_blocks})"
    return text


def no_single_marker_test(block, inputs):
    """Why a case/control block has no single-marker test, or None: without a
    case or without a control every chi-square is 0 and its "prediction" is
    only the last marker."""
    if block.mode != "single-gene":
        return None
    if inputs.haplotypes is not None:
        count = inputs.haplotypes.count
        if inputs.haplotypes.cases == 0:
            return f"no single-marker test: no case among the {count} haplotypes"
        if inputs.haplotypes.cases == count:
            return f"no single-marker test: no control among the {count} haplotypes"
        return None
    if all(row[4] == 0 for row in block.rows):
        return "no single-marker test: every chi-square is 0 (no case or no control?)"
    return None


def permutation_note(block, permutations, record=None):
    """One line per statistic, under a heading with the number of permutations;
    with the run record, its scheme and count, the chi-square's p and the
    omnibus p, the one to report for the region."""
    if record is not None:
        count = record["permutation"]["count"]
        # The adaptive scheme may stop before its bound: the replicates it drew.
        drawn = record["permutation"].get("replicates", count)
        heading = f"{count} permutations" if drawn == count else f"{drawn} of at most {count} replicates"
        lines = [f"permutation p ({heading}, {record['permutation']['scheme']}):"]
        for key, name in RECORD_STATISTICS[block.mode]:
            p = record["statistics"][key]["permutation_p"]
            if p is not None:
                lines.append(f"  {name}: {permutation_text(p, count)}")
        if record.get("omnibus_p") is not None:
            lines.append("  omnibus (all statistics): "
                         + permutation_text(record["omnibus_p"], count))
        return "\n".join(lines)
    count = "number not given" if permutations is None else f"{permutations} permutations"
    lines = [f"permutation p ({count}):"]
    lines += [f"  {name}: {permutation_text(block.summary[field], permutations)}"
              for field, name in PERMUTATION_P[block.mode]]
    return "\n".join(lines)
