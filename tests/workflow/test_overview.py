#!/usr/bin/python3
"""The report's genome-wide overview, read through its SVG and HTML: the
Manhattan plot's points (one per region with a p, each a link to its region,
on the right side of the Bonferroni line), its chromosome labels in genome
order, the QQ plot's points and inflation, and the table of regions past the
line.

usage: test_overview.py SCRIPTS_DIR
"""
import math
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, sys.argv[1])
import overview  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"
XLINK = "{http://www.w3.org/1999/xlink}href"
NAN = float("nan")


def region(name, chrom, start):
    return {"region": name, "chrom": chrom, "start": str(start), "end": str(start + 300_000),
            "bonferroni_p": "0.5"}


# Six regions on four chromosomes, listed out of genome order; one without a
# p; two past the line 0.05 / 6 (-log10: 2.08).
RECORDS = [region("b", "1", 50_000_000), region("HLA DRB1", "chr6", 30_000_000),
           region("a", "1", 1_000_000), region("x1", "X", 2_000_000),
           region("none", "10", 100), region("c", "2", 5_000_000)]
PS = [1e-4, 0.002, 0.5, 0.3, NAN, 0.02]
PAST = ["#region-b", "#region-HLA_DRB1"]


def points(svg):
    """(link, y, fill) of each linked point of an SVG."""
    found = []
    for link in ET.fromstring(svg).iter(SVG + "a"):
        use = next(link.iter(SVG + "use"))
        fill = use.get("style").split("fill: ")[1].split(";")[0]
        found.append((link.get(XLINK), float(use.get("y")), fill))
    return found


def texts(svg):
    return [t.text for t in ET.fromstring(svg).iter(SVG + "text")]


class Inflation(unittest.TestCase):
    def test_against_known_medians(self):
        uniform = [(k + 0.5) / 1001 for k in range(1001)]
        cases = [([0.5] * 5, 1.0), (uniform, 1.0),
                 # chi2(1) quantile of 0.05 is 3.841459
                 ([0.05, 0.05, 0.9], 3.841459 / 0.4549364), ([], NAN)]
        for ps, expected in cases:
            value = overview.inflation(ps)
            if math.isnan(expected):
                self.assertTrue(math.isnan(value))
            else:
                self.assertAlmostEqual(value, expected, places=5, msg=str(ps[:3]))
        # Smaller p inflate it; the tiny ones stay finite.
        self.assertGreater(overview.inflation([1e-300, 1e-200, 1e-100]), 1000)


class Manhattan(unittest.TestCase):
    def setUp(self):
        self.svg = overview.manhattan_svg(RECORDS, PS, {"1": 249_000_000})

    def test_one_linked_point_per_region_with_a_p(self):
        found = points(self.svg)
        self.assertEqual(sorted(link for link, _, _ in found),
                         sorted("#region-" + k for k in ("b", "HLA_DRB1", "a", "x1", "c")))

    def test_points_past_the_line_are_above_it_and_marked(self):
        line = ET.fromstring(self.svg).find(f".//{SVG}g[@id='bonferroni-line']")
        path = next(line.iter(SVG + "path")).get("d").split()
        line_y = float(path[2])
        for link, y, fill in points(self.svg):
            past = link in PAST
            self.assertEqual(y < line_y, past, f"{link} at {y}, line at {line_y}")
            self.assertEqual(fill == overview.PAST_LINE, past, f"{link} is {fill}")

    def test_labels_in_genome_order_as_text(self):
        labels = texts(self.svg)
        chromosomes = [t for t in labels if t in ("1", "2", "chr6", "10", "X")]
        # The y axis has its own numbers: the chromosome labels are the first ones.
        self.assertEqual(chromosomes[:5], ["1", "2", "chr6", "10", "X"])
        self.assertIn(" p = 0.05 / 6", labels)
        self.assertIn("regional -log10 p", labels)

    def test_order_of_chromosomes(self):
        names = ["X", "chr10", "2", "MT", "chr1", "Y"]
        self.assertEqual(sorted(names, key=overview.chromosome_order),
                         ["chr1", "2", "chr10", "MT", "X", "Y"])


class QQ(unittest.TestCase):
    def test_points_and_inflation(self):
        ps = [p for p in PS if not math.isnan(p)]
        svg = overview.qq_svg(ps)
        group = ET.fromstring(svg).find(f".//{SVG}g[@id='qq-points']")
        self.assertEqual(len(list(group.iter(SVG + "use"))), len(ps))
        self.assertIn(f"inflation: {overview.inflation(ps):.3g}", texts(svg))


class Section(unittest.TestCase):
    def test_table_of_regions_past_the_line(self):
        page = overview.section(RECORDS, PS, {})
        table = page.split('<table id="past-line">')[1].split("</table>")[0]
        self.assertEqual(table.count("<tr>"), 3)  # a header and two regions
        self.assertLess(table.index('href="#region-b"'), table.index('href="#region-HLA_DRB1"'))
        self.assertIn("<td>chr6:30000001-30300000</td><td>0.002</td><td>2.699</td>", table)
        self.assertIn("5 of 6 regions have a regional p", page)

    def test_without_p_or_past_the_line(self):
        page = overview.section(RECORDS[:2], [NAN, NAN], {})
        self.assertNotIn("<svg", page)
        self.assertIn("No region passes the line", page)
        self.assertIn("Genomic inflation NA", page)
        page = overview.section(RECORDS[:2], [0.3, 0.9], {})
        self.assertEqual(page.count("<svg"), 2)
        self.assertIn("No region passes the line (regional p below 0.05 / 2 = 0.025)", page)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
