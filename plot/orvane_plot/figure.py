"""The picture: its layout and what is drawn."""
import bisect
import math
import os
import sys
import textwrap

from .errors import EXIT_OUTPUT, PlotError
from .haplotypes import r2_with
from .log_tails import (beyond_underflow, chi_square_log10, t_two_sided_log10,
                        upper_normal_tail_log10)
from .notes import default_title, no_single_marker_test, permutation_note
from .results import PREDICTIONS, has_cluster, no_cluster_formed

# The usual five r^2 bins of regional association plots, and the lead marker.
R2_EDGES = [0.0, 0.2, 0.4, 0.6, 0.8, 1.0]
R2_COLOURS = ["#2c2c9c", "#5fb8e8", "#3cb043", "#f5a623", "#e0301e"]
R2_UNDEFINED = "#b0b0b0"
LEAD_COLOUR = "#8e3fb5"
CLUSTER_COLOUR = "#222222"
RATE_COLOUR = "#4a90c8"
INTERVAL_COLOUR = "#f3c96b"
PREDICTED_COLOURS = ("#c0392b", "#1e8449", "#7d3c98")


class Size:
    """The picture's size in inches and its resolution (PNG pixels per inch)."""
    def __init__(self, width=8.0, height=4.5, dpi=100):
        self.width, self.height, self.dpi = width, height, dpi


class Layout:
    """Where things go, as fractions of the figure, from lengths in inches:
    the legend column keeps its width whatever the figure's, and the data
    area takes the rest (less room for the rate axis when it is drawn)."""
    COLUMN = 2.15  # the legend, the notes and the colour bar

    def __init__(self, width, height, rate_axis):
        self.column = 1 - (self.COLUMN + 0.05) / width
        left, bottom, top = 0.56 / width, 0.54 / height, 1 - 0.63 / height
        right = self.column - (0.7 if rate_axis else 0.2) / width
        self.axes = [left, bottom, right - left, top - bottom]
        self.legend_top = 1 - 0.32 / height
        self.gap = 0.135 / height
        self.bar = [self.column + 0.05 / width, bottom, 1.75 / width, 0.135 / height]


def predicted(block, where):
    marks = []
    for field, name in PREDICTIONS[block.mode]:
        value = block.summary[field]
        if not (math.isfinite(value) and value == int(value) and 0 <= value < len(block.rows)):
            raise PlotError(f"{where}: predicted position {value} is not a marker index")
        marks.append((name, int(value)))
    return marks


def cap_infinite(values, top):
    """Infinite -log10 p (p underflowed to 0) is drawn at the top of the axis."""
    capped = [top if v == math.inf else (math.nan if v == -math.inf else v) for v in values]
    hits = [i for i, v in enumerate(values) if v == math.inf]
    return capped, hits


def r2_bin(value):
    """Index of the r^2 bin (lower edges inclusive), None when undefined."""
    if math.isnan(value):
        return None
    return min(bisect.bisect_right(R2_EDGES, value) - 1, len(R2_COLOURS) - 1)


class Inputs:
    """Everything a picture is drawn from besides the result block."""
    def __init__(self):
        self.markers = None       # (positions, names, chrom)
        self.haplotypes = None    # HaplotypeData of the data file
        self.data_path = None
        self.genetic_map = None   # (positions, cM)
        self.intervals = None     # rows of the interval file
        self.interval_path = None
        self.permutations = None  # None: unknown
        self.record = None  # the block's run record, when there is one
        self.title = None
        self.lead_name = None
        self.size = Size()


def axis_positions(block, inputs):
    if inputs.markers:
        positions, names, chrom = inputs.markers
        x = [p / 1e6 for p in positions]
        label = ("chromosome " + chrom) if chrom and not chrom.startswith("chr") else chrom
        return x, names, (f"position on {label} (Mb)" if label else "position (Mb)")
    names = [f"marker {int(row[1])}" for row in block.rows]
    # GeneticDistance sums the distance file's gaps x 0.01, i.e. Morgans.
    x = [row[0] * 100.0 for row in block.rows]
    if len(set(x)) < 2 or not all(math.isfinite(v) for v in x):
        return [row[1] for row in block.rows], names, "marker index"
    return x, names, "genetic position (cM)"


def cluster_log10(block, row, inputs):
    """The cluster score's -log10 p: the file's, or in log space beyond p =
    1e-300 (case/control: chi-square of Z^2 with 1 df; trait: two-sided t on
    N - 2 df, N from the data file or the run record; without either, the
    file's value)."""
    if block.mode == "single-gene":
        return beyond_underflow(row[3], lambda: chi_square_log10(row[2] * row[2]))
    if inputs.haplotypes is not None:
        n = inputs.haplotypes.count
    elif inputs.record is not None and isinstance(inputs.record.get("haplotypes"), int):
        n = inputs.record["haplotypes"]
    else:
        return beyond_underflow(row[3], None)
    return beyond_underflow(row[3], lambda: t_two_sided_log10(row[2], n - 2))


def draw(block, number, n_blocks, result_path, out_path, inputs):
    import matplotlib
    matplotlib.use("Agg")
    # Text stays text in SVG, so that it can be searched and tested.
    matplotlib.rcParams["svg.fonttype"] = "none"
    matplotlib.rcParams["svg.hashsalt"] = "orvane-plot"
    import matplotlib.pyplot as plt

    where = f"{result_path}: run {number}"
    marks = predicted(block, where)
    x, names, xlabel = axis_positions(block, inputs)
    nothing_found = no_cluster_formed(block)
    no_single = no_single_marker_test(block, inputs)

    cluster = [cluster_log10(block, row, inputs) if has_cluster(block, row) else math.nan
               for row in block.rows]
    if block.mode == "single-gene":
        single = [beyond_underflow(row[5], lambda x=row[4]: chi_square_log10(x))
                  for row in block.rows]
        single_label = "single-marker chi-square"
        extra = None
    elif inputs.haplotypes is not None:
        df = inputs.haplotypes.count - 2
        single = [t_two_sided_log10(row[4], df) for row in block.rows]
        single_label = "single-marker T (pooled)"
        extra = ([upper_normal_tail_log10(row[8]) for row in block.rows],
                 "single-marker Mann-Whitney Z")
    else:
        # Without the data file the number of haplotypes, which the pooled T's
        # p-value needs, is unknown; the Mann-Whitney Z has a p-value of its own.
        single = [upper_normal_tail_log10(row[8]) for row in block.rows]
        single_label = "single-marker Mann-Whitney Z"
        extra = None

    finite = [v for v in cluster + single + (extra[0] if extra else []) if math.isfinite(v)]
    top = max(finite + [1.0]) * 1.12
    size = inputs.size
    fig = plt.figure(figsize=(size.width, size.height), dpi=size.dpi)
    place = Layout(size.width, size.height, inputs.genetic_map is not None)
    ax = fig.add_axes(place.axes)
    # Its right edge bounds the data area, outside which the legend is placed.
    ax.spines["right"].set_gid("data-area-right")
    ax.set_xlim(min(x) - 0.02 * (max(x) - min(x) or 1), max(x) + 0.02 * (max(x) - min(x) or 1))
    handles = []

    if inputs.intervals is not None:
        handles += draw_interval(ax, x, names, inputs)

    if inputs.genetic_map:
        handles += draw_rate(fig, ax, inputs)

    # The cluster score: a line with gaps where no cluster formed.
    capped, hits = cap_infinite(cluster, top)
    if not nothing_found and not all(math.isnan(v) for v in capped):
        line, = ax.plot(x, capped, "o-", color=CLUSTER_COLOUR, markersize=2.5, linewidth=1.1,
                        label="haplotype cluster score", zorder=4)
        line.set_gid("cluster-curve")
        handles.append(line)
        if hits:
            ax.plot([x[i] for i in hits], [top] * len(hits), "^", color=CLUSTER_COLOUR,
                    markersize=6, zorder=4, gid="infinite-cluster-score")
    # The cluster score's p-value is two-sided, but the predicted position is
    # the largest signed score: negative scores are hollow, never predicted.
    negative = [i for i, row in enumerate(block.rows) if row[2] < 0 and has_cluster(block, row)]
    if negative:
        values, _ = cap_infinite([cluster[i] for i in negative], top)
        hollow, = ax.plot([x[i] for i in negative], values, "o", color=CLUSTER_COLOUR,
                          markerfacecolor="white", markersize=4.5, linestyle="none",
                          label="negative cluster score", zorder=5)
        hollow.set_gid("negative-cluster-points")
        handles.append(hollow)

    if extra:
        values, hits = cap_infinite(extra[0], top)
        line, = ax.plot(x, values, "-", color="#8c8c8c", linewidth=0.9, label=extra[1], zorder=3)
        line.set_gid("mann-whitney-curve")
        handles.append(line)

    lead = marks[1][1]
    inputs.lead_name = names[lead]
    if no_single:
        pass
    elif inputs.haplotypes is not None:
        handles += draw_r2_points(fig, ax, x, single, top, lead, single_label, inputs)
    else:
        values, hits = cap_infinite(single, top)
        line, = ax.plot(x, values, "s-", color="C1", markersize=3, linewidth=1.0,
                        label=single_label, zorder=3)
        line.set_gid("single-marker-points")
        handles.append(line)
        if hits:
            ax.plot([x[i] for i in hits], [top] * len(hits), "^", color="C1", markersize=6,
                    gid="infinite-single-marker")

    # Statistics that agree on a marker share one line; with no cluster, the
    # cluster score predicts nothing.
    by_marker = {}
    for name, index in marks:
        if name == "cluster score" and nothing_found:
            continue
        if name != "cluster score" and no_single:
            continue
        by_marker.setdefault(index, []).append(name)
    for (index, stats), colour in zip(by_marker.items(), PREDICTED_COLOURS):
        line = ax.axvline(x[index], color=colour, linestyle="--", linewidth=1, zorder=2,
                          label=f"predicted by {', '.join(stats)}: {names[index]}")
        line.set_gid("predicted-" + "-".join(s.replace(" ", "-") for s in stats))
        handles.append(line)

    ax.set_title(inputs.title or default_title(block, number, n_blocks, x, inputs),
                 fontsize=10, loc="left", pad=8)
    ax.set_xlabel(xlabel, fontsize=9)
    ax.set_ylabel("-log10 p (cluster score: nominal)", fontsize=9)
    ax.set_ylim(0, top)
    ax.tick_params(labelsize=8)

    for handle in handles:
        handle.set_label(textwrap.fill(handle.get_label(), 34, subsequent_indent="  "))
    legend = fig.legend(handles=handles, loc="upper left", bbox_to_anchor=(place.column, place.legend_top),
                        fontsize=7, frameon=False, borderaxespad=0, handlelength=1.5,
                        handletextpad=0.6)
    legend.set_gid("legend")
    # The notes go below the legend, whatever its height.
    fig.canvas.draw()
    below = legend.get_window_extent().transformed(fig.transFigure.inverted()).y0 - place.gap
    if nothing_found:
        text = fig.text(place.column, below, "no cluster formed", fontsize=8, fontweight="bold",
                        va="top", color=PREDICTED_COLOURS[0])
        text.set_gid("no-cluster-note")
        below -= 2 * place.gap
    if no_single:
        wrapped = textwrap.fill(no_single, 32)
        text = fig.text(place.column, below, wrapped, fontsize=7, fontweight="bold", va="top",
                        color=PREDICTED_COLOURS[0])
        text.set_gid("no-single-marker-note")
        below -= place.gap * (wrapped.count("\n") + 2)
    note = fig.text(place.column, below, permutation_note(block, inputs.permutations, inputs.record),
                    fontsize=7,
                    va="top", linespacing=1.3)
    note.set_gid("permutation-note")

    fmt = os.path.splitext(out_path)[1].lower().lstrip(".")
    # Written beside the target and renamed, so a failure leaves no partial image.
    temp = f"{out_path}.tmp{os.getpid()}"
    try:
        fig.savefig(temp, format=fmt, dpi=size.dpi)
        os.replace(temp, out_path)
    except OSError as e:
        if os.path.exists(temp):
            os.remove(temp)
        raise PlotError(f"cannot write {out_path}: {e.strerror}", EXIT_OUTPUT)
    finally:
        plt.close(fig)


def draw_r2_points(fig, ax, x, single, top, lead, label, inputs):
    """Single-marker points coloured by r^2 with the lead marker, and a colour bar."""
    from matplotlib.colors import BoundaryNorm, ListedColormap
    from matplotlib.lines import Line2D
    import matplotlib.cm

    r2 = r2_with(inputs.haplotypes)
    values, hits = cap_infinite(single, top)
    handles = []
    for b in [None] + list(range(5)):
        chosen = [i for i in range(len(x)) if i != lead and r2_bin(r2[i]) == b]
        if not chosen:
            continue
        colour = R2_UNDEFINED if b is None else R2_COLOURS[b]
        points = ax.scatter([x[i] for i in chosen], [values[i] for i in chosen], s=22,
                            c=colour, edgecolors="black", linewidths=0.4, zorder=6,
                            marker="o")
        points.set_gid("r2-points-" + ("undefined" if b is None else
                                       f"{R2_EDGES[b]:.1f}-{R2_EDGES[b + 1]:.1f}"))
        if b is None:
            points.set_label("r\u00b2 undefined")
            handles.append(points)
    lead_point = ax.scatter([x[lead]], [values[lead]], s=60, c=LEAD_COLOUR, marker="D",
                            edgecolors="black", linewidths=0.5, zorder=7,
                            label=f"lead marker: {inputs.lead_name}")
    lead_point.set_gid("lead-marker")
    for i in hits:
        ax.plot([x[i]], [top], "^", color="black", markersize=6, zorder=7,
                gid="infinite-single-marker")
    sample = Line2D([], [], marker="o", linestyle="none", markerfacecolor=R2_COLOURS[2],
                    markeredgecolor="black", markeredgewidth=0.4,
                    label=label + ", coloured by r\u00b2")
    handles = [sample, lead_point] + handles

    cmap = ListedColormap(R2_COLOURS)
    norm = BoundaryNorm(R2_EDGES, cmap.N)
    bar_axes = fig.add_axes(Layout(*fig.get_size_inches(), inputs.genetic_map is not None).bar)
    bar = fig.colorbar(matplotlib.cm.ScalarMappable(norm=norm, cmap=cmap), cax=bar_axes,
                       orientation="horizontal", ticks=R2_EDGES)
    bar.ax.tick_params(labelsize=7.5)
    bar.set_label("r\u00b2 with the lead marker", fontsize=8)
    bar_axes.set_gid("r2-colour-bar")
    return handles


def draw_rate(fig, ax, inputs):
    """The recombination rate between the map's points, on a second y axis."""
    positions, cms = inputs.genetic_map
    rate_axis = ax.twinx()
    xs, rates = [], []
    low, high = ax.get_xlim()
    for i in range(len(positions) - 1):
        start, end = positions[i] / 1e6, positions[i + 1] / 1e6
        if end < low or start > high:
            continue
        rate = (cms[i + 1] - cms[i]) / (end - start)
        xs += [max(start, low), min(end, high)]
        rates += [rate, rate]
    # The data stay in front of the rate.
    ax.set_zorder(rate_axis.get_zorder() + 1)
    ax.patch.set_visible(False)
    rate_axis.set_ylabel("recombination rate (cM/Mb)", fontsize=9, color=RATE_COLOUR)
    rate_axis.tick_params(labelsize=8, colors=RATE_COLOUR)
    if not xs:
        return []
    line, = rate_axis.plot(xs, rates, "-", color=RATE_COLOUR, linewidth=1, alpha=0.8,
                           label="recombination rate")
    line.set_gid("recombination-rate")
    rate_axis.set_ylim(0, max(rates + [1.0]) * 1.1)
    rate_axis.set_xlim(low, high)
    return [line]


def draw_interval(ax, x, names, inputs):
    """Shades the cluster statistic's interval; the file's other rows are not drawn."""
    rows = [r for r in inputs.intervals if r["statistic"] == "cluster"]
    if not rows:
        print(f"orvane-plot: warning: {inputs.interval_path} has no row for the cluster "
              "statistic; no interval is shaded", file=sys.stderr)
        return []
    if all(r["first"] is None for r in rows):
        print(f"orvane-plot: warning: {inputs.interval_path}:{rows[0]['line']}: the cluster "
              "statistic has no interval (NA: no window formed a cluster); none is shaded",
              file=sys.stderr)
        return []
    rows = [r for r in rows if r["first"] is not None]
    handles = []
    for row in rows:
        try:
            level = f"{float(row['level']) * 100:g} %"
        except ValueError:
            level = row["level"]
        first, last = row["first"], row["last"]
        label = (f"cluster {level} {row['construction']} interval: "
                 f"{names[first]}" + (f" to {names[last]}" if last != first else ""))
        if last == first:
            shade = ax.axvline(x[first], color=INTERVAL_COLOUR, linewidth=6, alpha=0.6,
                               zorder=1, label=label)
        else:
            shade = ax.axvspan(x[first], x[last], color=INTERVAL_COLOUR, alpha=0.45, zorder=1,
                               linewidth=0, label=label)
        shade.set_gid("interval-" + row["construction"])
        handles.append(shade)
    return handles
