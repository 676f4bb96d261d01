"""Summaries of many studies' p-values shared by the benchmark scripts."""
import math


def wilson(k, n):
    """95 % Wilson score interval of k successes in n trials."""
    if n == 0:
        return (float("nan"), float("nan"))
    z, p = 1.96, k / n
    centre = (p + z * z / (2 * n)) / (1 + z * z / n)
    half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / (1 + z * z / n)
    return (max(0.0, centre - half), min(1.0, centre + half))


def rate(ps, level):
    """(count at or below the level, studies, its Wilson interval); None (a p
    that was not computed) is left out of both counts."""
    given = [p for p in ps if p is not None]
    k = sum(p <= level for p in given)
    return k, len(given), wilson(k, len(given))


def rate_cell(ps, level):
    """'0.048 (0.031-0.073)' for a table; '-' when no p was computed."""
    k, n, (lo, hi) = rate(ps, level)
    return "-" if n == 0 else "%.3f (%.3f-%.3f)" % (k / n, lo, hi)


def deciles(ps):
    """Share of the p-values in each tenth of [0, 1]: [0, 0.1), ..., [0.9, 1]
    (1 itself in the last); a p on a tenth's edge is in the tenth above it."""
    given = [p for p in ps if p is not None]
    counts = [0] * 10
    for p in given:
        counts[min(9, max(0, int(math.floor(p * 10))))] += 1
    return [c / len(given) for c in counts] if given else [float("nan")] * 10


def share_zero(ps):
    given = [p for p in ps if p is not None]
    return (sum(p == 0 for p in given), len(given))


def median(values):
    values = sorted(v for v in values if v is not None)
    if not values:
        return float("nan")
    mid = len(values) // 2
    return values[mid] if len(values) % 2 else (values[mid - 1] + values[mid]) / 2


def monte_carlo_z(p1, p2, permutations):
    """(p1 - p2) over the standard error of the difference of two permutation
    p-values of the same test, each from its own `permutations` replicates
    (their mean stands for the true p, at least 1 / (permutations + 1))."""
    mean = max((p1 + p2) / 2, 1.0 / (permutations + 1))
    se = math.sqrt(mean * (1 - mean) * 2.0 / permutations)
    return (p1 - p2) / se if se > 0 else 0.0
