"""The study's report: one HTML page that needs no network (its pictures are
embedded), opening on the genome-wide overview (overview.py), with the summary
table, a map of the regions, each region's plot, the
parameters, the programs' versions and the command that made it."""
import base64
import html
import io
import math
import os

import overview
from study import path_key, read_text

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import LogNorm  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

# Wide tables scroll inside their own box, so that the page itself fits a
# 1280-pixel window whatever the number of columns or the length of a path.
STYLE = """
body { font-family: sans-serif; margin: 2em; color: #222; }
div.scroll { max-width: 100%; overflow-x: auto; }
table { border-collapse: collapse; font-size: 0.85em; }
td.warnings { text-align: left; max-width: 28em; white-space: nowrap; overflow: hidden;
              text-overflow: ellipsis; }
ul.warnings li { margin: 0.2em 0; overflow-wrap: anywhere; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: right; }
th { background: #eee; }
td:first-child, th:first-child { text-align: left; }
tr.significant td { background: #fde0dc; }
p.warning { color: #a00; }
pre { background: #f6f6f6; padding: 0.6em; overflow-x: auto; }
section.region img { max-width: 100%; }
div.overview-plots { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
div.overview-plots svg { max-width: 100%; height: auto; }
"""


def read_tsv(path):
    lines = read_text(path).splitlines()
    return lines[0].split("\t"), [line.split("\t") for line in lines[1:] if line]


def effective_p(row):
    """The regional p drawn in the overview: the omnibus p when there is one,
    else the cluster score's permutation p, whose 0 is below 1/(P+1)."""
    regional = row.get("omnibus_p", "NA")
    if regional == "NA":
        regional = row["permutation_p"]
    if regional == "NA":
        return float("nan")
    p, permutations = float(regional), int(row["permutations"])
    if p == 0 and permutations > 0:
        return 1.0 / (permutations + 1)
    return p if p > 0 else float("nan")


def overview_svg(rows, lengths):
    """Each chromosome a grey bar, each region a box on it coloured by its
    permutation p. Every box carries the id overview-NAME in the SVG (NAME as in file names)."""
    chroms = []
    for row in rows:
        if row["chrom"] not in chroms:
            chroms.append(row["chrom"])
    chroms.sort(key=lambda c: (not c.lstrip("chr").isdigit(), int(c.lstrip("chr"))
                               if c.lstrip("chr").isdigit() else 0, c))
    ps = [effective_p(r) for r in rows]
    finite = [p for p in ps if not math.isnan(p)]
    low = min(finite + [1e-3])
    norm = LogNorm(vmin=min(low, 0.999), vmax=1.0)
    cmap = plt.get_cmap("viridis")
    # At least 2.4 inches high: with one or two chromosomes the colour bar,
    # as high as the axes, would be squashed to a sliver.
    fig, ax = plt.subplots(figsize=(9, max(2.4, 0.7 + 0.6 * len(chroms))))
    for y, chrom in enumerate(chroms):
        ends = [int(r["end"]) for r in rows if r["chrom"] == chrom]
        length = max([lengths.get(chrom, 0)] + ends) / 1e6
        ax.add_patch(Rectangle((0, y - 0.15), length, 0.3, color="#dddddd", zorder=1))
    for row, p in zip(rows, ps):
        y = chroms.index(row["chrom"])
        start, end = int(row["start"]) / 1e6, int(row["end"]) / 1e6
        colour = "#999999" if math.isnan(p) else cmap(norm(p))
        box = Rectangle((start, y - 0.3), max(end - start, 0.05), 0.6, color=colour, zorder=2)
        box.set_gid(f"overview-{path_key(row['region'])}")
        ax.add_patch(box)
    top = max([lengths.get(c, 0) / 1e6 for c in chroms] +
              [int(r["end"]) / 1e6 for r in rows])
    ax.set_xlim(0, top * 1.02)
    ax.set_ylim(-0.6, len(chroms) - 0.4)
    ax.set_yticks(range(len(chroms)))
    ax.set_yticklabels(chroms)
    ax.invert_yaxis()
    ax.set_xlabel("position (Mb)")
    ax.set_ylabel("chromosome")
    bar = fig.colorbar(plt.cm.ScalarMappable(norm=norm, cmap=cmap), ax=ax)
    bar.set_label("regional p")
    bar.ax.set_gid("colour-bar")
    fig.tight_layout()
    out = io.StringIO()
    # The same study gives the same page: fixed element ids, no date.
    with matplotlib.rc_context({"svg.hashsalt": "orvane"}):
        fig.savefig(out, format="svg", metadata={"Date": None})
    plt.close(fig)
    text = out.getvalue()
    return text[text.index("<svg"):]


def png_data(path):
    with open(path, "rb") as f:
        return "data:image/png;base64," + base64.b64encode(f.read()).decode("ascii")


def table(header, rows, significant=None, table_id=None):
    ident = f' id="{table_id}"' if table_id else ""
    out = [f'<div class="scroll"><table{ident}>',
           "<tr>" + "".join(f"<th>{html.escape(h)}</th>" for h in header) + "</tr>"]
    for i, row in enumerate(rows):
        mark = ' class="significant"' if significant and significant(i) else ""
        # The first warning is cut short in the table (whole in its title and
        # in the Warnings section), so that a row stays one line high.
        cells = "".join(f'<td class="warnings" title="{html.escape(c)}">{html.escape(c)}</td>'
                        if h == "warnings"
                        else f"<td>{html.escape(c)}</td>" for h, c in zip(header, row))
        out.append(f"<tr{mark}>{cells}</tr>")
    out.append("</table></div>")
    return "\n".join(out)


def warnings_section(records, warnings):
    """Every program warning, under its region; one line when there is none."""
    parts = ['<section id="warnings"><h2>Warnings</h2>']
    warned = [r["region"] for r in records if warnings.get(r["region"])]
    if not warned:
        parts.append("<p>No program warned about any region.</p>")
    for name in warned:
        parts.append(f'<h3 id="warnings-{path_key(name)}">{html.escape(name)}</h3>'
                     '<ul class="warnings">' +
                     "".join(f"<li>{html.escape(w)}</li>" for w in warnings[name]) + "</ul>")
    parts.append("</section>")
    return "\n".join(parts)


def write(out, summary, versions, params, config, command, lengths, plots, without_cluster=(),
          warnings=None):
    """plots: region name -> PNG path, in the summary's order; without_cluster:
    the regions in which no window formed a cluster (never shaded); warnings:
    region name -> the programs' warning lines."""
    header, rows = read_tsv(summary)
    records = [dict(zip(header, r)) for r in rows]

    def significant(i):
        # Without a cluster only the omnibus p (joint scheme) still tests the region.
        value = records[i]["bonferroni_p"]
        joint = records[i].get("permutation_scheme") in ("joint", "adaptive")
        return (value != "NA" and float(value) < 0.05
                and (joint or records[i]["region"] not in without_cluster))

    parts = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
             "<title>orvane study report</title>", f"<style>{STYLE}</style></head><body>",
             "<h1>orvane study report</h1>",
             f"<p>{len(records)} regions; mode {html.escape(str(config.get('mode', 's')))}; "
             f"phasing {html.escape(str(config.get('phasing', 'none')))}. Rows whose "
             "bonferroni_p is below 0.05 are shaded. Report omnibus_p, the region's p (its "
             "test over the cluster score and the single-marker statistics together), and, "
             "for the study, bonferroni_p: omnibus_p times the number of regions, at most 1; "
             "with the chained permutation scheme bonferroni_p rests on the cluster score's "
             "permutation p instead, a p of 0 taken as 1/(P+1).</p>",
             overview.section(records, [effective_p(r) for r in records], lengths),
             "<h2>Summary</h2>", table(header, rows, significant, "summary")]
    if without_cluster:
        parts.append('<p class="warning">No window formed a cluster in ' +
                     html.escape(", ".join(without_cluster)) + ": the predicted position and "
                     "the cluster score's permutation p-value of such a region are conventions "
                     "that mean nothing; its omnibus p rests on the single-marker statistics "
                     "alone.</p>")
    parts.append(warnings_section(records, warnings or {}))
    parts += ["<h2>Genome overview</h2>", overview_svg(records, lengths), "<h2>Regions</h2>"]
    for record in records:
        name = record["region"]
        parts.append(f'<section class="region" id="region-{path_key(name)}">'
                     f"<h3>{html.escape(name)}: {html.escape(record['chrom'])}:"
                     f"{int(record['start']) + 1}-{record['end']}</h3>"
                     f'<img alt="{html.escape(name)}" src="{png_data(plots[name])}"></section>')
    config_lines = [f"{k}: {config[k]}" for k in sorted(config)]
    parts += ["<h2>Parameters</h2>", "<h3>Workflow configuration</h3>",
              f"<pre>{html.escape(chr(10).join(config_lines))}</pre>",
              f"<h3>orvane parameter file ({html.escape(os.path.basename(params))})</h3>",
              f"<pre>{html.escape(read_text(params))}</pre>",
              "<h2>Versions</h2>", table(*versions_table(versions)),
              "<h2>Command</h2>", f"<pre>{html.escape(command)}</pre>",
              "</body></html>"]
    with open(out + ".tmp", "w") as f:
        f.write("\n".join(parts) + "\n")
    os.replace(out + ".tmp", out)


def versions_table(path):
    rows = [line.split("\t") for line in read_text(path).splitlines() if line]
    return ["program", "path", "version"], rows
