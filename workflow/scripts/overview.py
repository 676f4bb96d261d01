"""The genome-wide overview at the top of the study's report: a Manhattan
plot of every region's regional -log10 p along the genome (chromosomes side by
side, a Bonferroni line for the number of regions, each point a link to its
region's section), a QQ plot of the regional p against the uniform with the
genomic inflation, and the table of the regions past the line.

The regional p is the one the summary judges a region by (report.effective_p):
the omnibus p, or with the chained scheme the cluster score's permutation p.
A region without one (no permutations) is left out of both plots. Both are
SVG with their text kept as text, so that they can be searched and tested.
"""
import html
import io
import math
from statistics import NormalDist, median

from study import path_key

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ALPHA = 0.05
# The median of the chi-square distribution with 1 degree of freedom.
CHI2_1_MEDIAN = 0.4549364231195724
COLOURS = ("#1f4e8c", "#6f9fd8")  # chromosomes alternate
PAST_LINE = "#c0392b"
GAP = 0.02  # between chromosomes, a share of the genome drawn


def chromosome_order(chrom):
    """1, 2, ..., 22, then X, Y, MT and the rest by name; 'chr' is ignored."""
    bare = chrom[3:] if chrom.startswith("chr") else chrom
    return (0, int(bare), "") if bare.isdigit() else (1, 0, bare)


def bonferroni_line(n_regions):
    """-log10 of ALPHA / number of regions."""
    return -math.log10(ALPHA / max(n_regions, 1))


def inflation(ps):
    """The genomic inflation of the regional p: the median of their chi-square
    (1 degree of freedom) quantiles, chi2 = z^2 with z the normal quantile of
    p/2, over the median of that distribution, 0.4549. 1 for uniform p; NaN
    without p."""
    found = [p for p in ps if 0 < p <= 1]
    if not found:
        return float("nan")
    normal = NormalDist()
    return median(normal.inv_cdf(p / 2) ** 2 for p in found) / CHI2_1_MEDIAN


def positions(records, lengths):
    """Each region's x on the genome (its middle, in Mb, chromosomes laid end
    to end with a gap), each chromosome's (name, middle) for its label, the
    chromosomes in order and the genome's end."""
    chroms = sorted({r["chrom"] for r in records}, key=chromosome_order)
    ends = {c: max([lengths.get(c, 0)] + [int(r["end"]) for r in records if r["chrom"] == c])
            for c in chroms}
    gap = GAP * sum(ends.values())
    offsets, at = {}, 0.0
    for chrom in chroms:
        offsets[chrom] = at
        at += ends[chrom] + gap
    xs = [(offsets[r["chrom"]] + (int(r["start"]) + int(r["end"])) / 2) / 1e6 for r in records]
    ticks = [(c, (offsets[c] + ends[c] / 2) / 1e6) for c in chroms]
    return xs, ticks, chroms, (at - gap) / 1e6


def svg_text(fig):
    out = io.StringIO()
    # Text stays text; the same study gives the same page (fixed ids, no date).
    with matplotlib.rc_context({"svg.fonttype": "none", "svg.hashsalt": "orvane"}):
        fig.savefig(out, format="svg", metadata={"Date": None})
    plt.close(fig)
    text = out.getvalue()
    return text[text.index("<svg"):]


def manhattan_svg(records, ps, lengths):
    """One point per region with a p, linked to #region-KEY."""
    xs, ticks, chroms, end = positions(records, lengths)
    line = bonferroni_line(len(records))
    drawn = [(x, -math.log10(p), r) for x, p, r in zip(xs, ps, records) if not math.isnan(p)]
    fig, ax = plt.subplots(figsize=(8, 3.2))
    colours = [PAST_LINE if y > line else COLOURS[chroms.index(r["chrom"]) % 2]
               for _, y, r in drawn]
    points = ax.scatter([x for x, _, _ in drawn], [y for _, y, _ in drawn], s=22, c=colours,
                        zorder=3)
    points.set_urls([f"#region-{path_key(r['region'])}" for _, _, r in drawn])
    points.set_gid("manhattan-points")
    ax.axhline(line, color=PAST_LINE, linestyle="--", linewidth=0.9, zorder=2,
               gid="bonferroni-line")
    ax.text(1.0, line, f" p = {ALPHA:g} / {len(records)}", transform=ax.get_yaxis_transform(),
            va="center", ha="left", fontsize=8, color=PAST_LINE)
    top = max([y for _, y, _ in drawn] + [line])
    ax.set_ylim(0, top * 1.12 + 0.2)
    ax.set_xlim(0, end)
    ax.set_xticks([m for _, m in ticks])
    ax.set_xticklabels([c for c, _ in ticks])
    ax.set_xlabel("chromosome")
    ax.set_ylabel("regional -log10 p")
    ax.set_title(f"{len(drawn)} regions along the genome")
    fig.tight_layout()
    return svg_text(fig)


def qq_svg(ps):
    """Sorted observed -log10 p against the uniform's expected, with the
    diagonal and the inflation in the title."""
    found = sorted(p for p in ps if not math.isnan(p))
    n = len(found)
    expected = [-math.log10((k + 0.5) / n) for k in range(n)]
    observed = [-math.log10(p) for p in found]
    fig, ax = plt.subplots(figsize=(3.4, 3.2))
    top = max(expected + observed + [1]) * 1.05
    ax.plot([0, top], [0, top], color="#999999", linewidth=0.8, zorder=1)
    points = ax.scatter(expected, observed, s=14, color=COLOURS[0], zorder=3)
    points.set_gid("qq-points")
    ax.set_xlim(0, top)
    ax.set_ylim(0, top)
    ax.set_xlabel("expected -log10 p")
    ax.set_ylabel("observed -log10 p")
    value = inflation(found)
    ax.set_title("inflation: " + ("NA" if math.isnan(value) else f"{value:.3g}"), fontsize=10)
    fig.tight_layout()
    return svg_text(fig)


def past_line_table(records, ps):
    """The regions whose regional p is below ALPHA / number of regions,
    strongest first, each named with a link to its section."""
    limit = ALPHA / max(len(records), 1)
    past = sorted((p, k) for k, p in enumerate(ps) if not math.isnan(p) and p < limit)
    if not past:
        return (f'<p id="past-line">No region passes the line (regional p below {ALPHA:g} / '
                f"{len(records)} = {limit:.3g}).</p>")
    rows = ["<tr><th>region</th><th>position</th><th>regional p</th><th>-log10 p</th>"
            "<th>bonferroni_p</th></tr>"]
    for p, k in past:
        r = records[k]
        rows.append(f'<tr><td><a href="#region-{path_key(r["region"])}">'
                    f"{html.escape(r['region'])}</a></td>"
                    f"<td>{html.escape(r['chrom'])}:{int(r['start']) + 1}-{r['end']}</td>"
                    f"<td>{p:.6g}</td><td>{-math.log10(p):.3f}</td>"
                    f"<td>{html.escape(r.get('bonferroni_p', 'NA'))}</td></tr>")
    return ('<div class="scroll"><table id="past-line">' + "\n".join(rows) + "</table></div>")


def section(records, ps, lengths):
    """The overview's HTML: both plots side by side (wrapping on a narrow
    page), then the table. records: the summary's rows as dicts; ps: each
    row's regional p (NaN when it has none); lengths: chromosome lengths."""
    drawn = [p for p in ps if not math.isnan(p)]
    value = inflation(drawn)
    parts = ['<section id="overview"><h2>Genome-wide overview</h2>',
             f"<p>{len(drawn)} of {len(records)} regions have a regional p (the omnibus p; "
             "with the chained scheme the cluster score's permutation p). The dashed line is "
             f"the Bonferroni threshold for {len(records)} regions, p = {ALPHA:g} / "
             f"{len(records)}; each point links to its region. Genomic inflation "
             f"{'NA' if math.isnan(value) else f'{value:.3g}'}: the median of the regional "
             "p turned into chi-square quantiles (1 degree of freedom) over 0.4549, that "
             "distribution's median; 1 when the p are uniform.</p>"]
    if drawn:
        parts.append('<div class="overview-plots">'
                     f'<div class="manhattan">{manhattan_svg(records, ps, lengths)}</div>'
                     f'<div class="qq">{qq_svg(drawn)}</div></div>')
    parts += ["<h3>Regions past the line</h3>", past_line_table(records, ps), "</section>"]
    return "\n".join(parts)
