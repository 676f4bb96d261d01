#!/usr/bin/python3
"""The study report in a real browser: headless Chromium, driven by Selenium,
loads a report.html made by the workflow's report code at a 1280-pixel wide
window and checks that the page does not scroll sideways, that the summary's
first numeric columns are omnibus_p and bonferroni_p and in view without
scrolling, that every region's plot has loaded, that the Warnings section
lists a region's warning, that the overview's colour bar is readable with one
chromosome, and that the page opens on the genome-wide overview whose points
lead to their regions. A screenshot is
kept as WORK_DIR/report-1280.png.

usage: test_report_browser.py SCRIPTS_DIR WORK_DIR
Exits 77 (skipped) when Chromium, its driver or Selenium is missing, except
under CI (CI set in the environment), where that is a failure.
"""
import os
import shutil
import sys

SCRIPTS, WORK = sys.argv[1], sys.argv[2]
SKIPPED = 77
WIDTH = 1280
sys.path.insert(0, SCRIPTS)
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def make_report():
    """A trait-mode study of one chromosome, its widest table: two regions,
    one of which warns at length."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import report
    import summary

    warning = ("orvane: warning: /data/studies/a-rather-long-folder-name/params.txt: windowSize 21 "
               "is larger than the 5 markers of orvane.dat: every window covers the whole map, "
               "so every marker has the same clusters; give a window of at most 5 markers")
    regions = {"locus_with_a_long_name_1": [warning, "orvane: warning: the radius came out 0 in "
                                            "3 of 5 windows"],
               "locus2": []}
    header = summary.columns("q")
    rows = []
    for k, (name, found) in enumerate(regions.items()):
        values = {"region": name, "omnibus_p": "0.006", "bonferroni_p": "0.012", "chrom": "1",
                  "start": str(8000000 + k * 9000000), "end": str(8300000 + k * 9000000),
                  "samples": "160", "haplotypes": "320", "markers": "48",
                  "predicted_id": "rs_very_long_marker_identifier_%d" % k,
                  "predicted_pos": "8150000", "predicted_cm": "12.345678", "score": "4.56789",
                  "minus_log10_p": "3.21", "permutation_p": "0.004", "permutations": "1000",
                  "single_id": "rs_another_long_identifier", "single_pos": "8160000",
                  "single_minus_log10_p": "2.5", "single_permutation_p": "0.01",
                  "mw_id": "rs_third_long_identifier", "mw_pos": "8170000",
                  "mw_minus_log10_p": "2.2", "mw_permutation_p": "0.02",
                  "permutation_scheme": "joint", "warnings": summary.warnings_cell(found),
                  "replicates": "1000"}
        rows.append("\t".join(values[c] for c in header))
    path = write("summary.tsv", "\t".join(header) + "\n" + "\n".join(rows) + "\n")
    versions = write("versions.tsv", "orvane\t/a/long/path/to/the/installed/bin/orvane\t0.2.0\n")
    params = write("params.txt", "epsilon 2 0.1\nwindowSize 21\npermutations 1000\n")
    plots = {}
    for name in regions:
        fig = plt.figure(figsize=(8, 4.5), dpi=100)
        fig.text(0.5, 0.5, name)
        plots[name] = os.path.join(WORK, name + ".png")
        fig.savefig(plots[name])
        plt.close(fig)
    out = os.path.join(WORK, "report.html")
    report.write(out, path, versions, params, {"mode": "q", "phasing": "none"},
                 "(in /data/studies)\nsnakemake -s workflow/Snakefile --cores 2 --configfile "
                 "study.yaml", {"1": 249000000}, plots, [], regions)
    return out, regions


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", f"--window-size={WIDTH},900", "--hide-scrollbars"):
        options.add_argument(argument)
    options.binary_location = shutil.which("chromium")
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


OVERFLOW = ("return [document.documentElement.scrollWidth, "
            "document.documentElement.clientWidth];")


def check_overview(driver):
    """The page opens on the genome-wide overview: its heading is the first
    of the page and both plots are in the first screen; a point of the
    Manhattan plot takes the reader to its region's section."""
    driver.execute_script("window.scrollTo(0, 0);")
    first = driver.execute_script("return document.querySelector('h2').textContent;")
    check(first == "Genome-wide overview", f"the page opens on {first!r}")
    height = driver.execute_script("return window.innerHeight;")
    for selector in ("#overview div.manhattan svg", "#overview div.qq svg"):
        box = driver.execute_script(
            f"const e = document.querySelector('{selector}');"
            "if (!e) return null; const b = e.getBoundingClientRect();"
            "return [b.top, b.bottom, b.width];")
        check(box is not None and box[2] > 100 and box[1] <= height,
              f"{selector} is not whole in the first screen of {height} pixels: {box}")
    links = driver.find_elements("css selector", "#overview div.manhattan svg a")
    check(len(links) == 2, f"{len(links)} linked points in the Manhattan plot, not 2")
    if links:
        target = driver.execute_script("return arguments[0].href.baseVal;", links[-1])[1:]
        links[-1].find_element("css selector", "use").click()
        where = driver.execute_script(
            "return [location.hash, document.getElementById(location.hash.slice(1))"
            ".getBoundingClientRect().top];")
        check(where[0] == "#" + target and abs(where[1]) < 5,
              f"a click on the point of {target} leads to {where}")
        driver.execute_script("history.replaceState(null, '', location.pathname);"
                              "window.scrollTo(0, 0);")


def main():
    try:
        import selenium  # noqa: F401
        missing = [p for p in ("chromium", "chromedriver") if not shutil.which(p)]
    except ImportError:
        missing = ["python3-selenium"]
    if missing:
        print("missing: " + ", ".join(missing) + " (Debian packages chromium, chromium-driver, "
              "python3-selenium)")
        return 1 if os.environ.get("CI") else SKIPPED
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    page, regions = make_report()
    with open(os.path.join(WORK, "summary.tsv")) as f:
        rows = f.read().splitlines()

    driver = browser()
    try:
        driver.get("file://" + page)
        width = driver.execute_script("return window.innerWidth;")
        check(width == WIDTH, f"the window is {width} pixels wide, not {WIDTH}")
        scroll, client = driver.execute_script(OVERFLOW)
        check(scroll <= client, f"the page scrolls sideways: {scroll} pixels in {client}")

        # The numbers to report are the table's first numeric columns, in view
        # without scrolling the table sideways.
        cells = driver.execute_script(
            "const box = document.querySelector('#summary').parentElement;"
            "const right = Math.min(window.innerWidth, box.getBoundingClientRect().right);"
            "return [box.scrollLeft, right, Array.from(document.querySelectorAll('#summary th'))"
            ".map(h => [h.textContent, h.getBoundingClientRect().left, "
            "h.getBoundingClientRect().right])];")
        scrolled, right, headers = cells
        names = [name for name, _, _ in headers]
        first = next(k for k, name in enumerate(names)
                     if all(is_number(r.split("\t")[k]) for r in rows[1:]))
        check(names[first:first + 2] == ["omnibus_p", "bonferroni_p"],
              f"the first numeric columns are {names[first:first + 2]}")
        for name, left, edge in headers[first:first + 2]:
            check(scrolled == 0 and 0 <= left and edge <= right,
                  f"{name} spans {left:.0f}-{edge:.0f} px, out of view (right edge {right:.0f})")

        # A long warning is cut short in its cell: every row stays one line high.
        heights = driver.execute_script(
            "return Array.from(document.querySelectorAll('#summary tr'))"
            ".map(r => r.getBoundingClientRect().height);")
        check(heights and max(heights) < 2 * min(heights), f"summary rows' heights {heights}")

        loaded = driver.execute_script(
            "return Array.from(document.querySelectorAll('section.region img'))"
            ".map(i => [i.alt, i.complete, i.naturalWidth]);")
        check(sorted(a for a, _, _ in loaded) == sorted(regions), f"plots: {loaded}")
        for alt, complete, natural in loaded:
            check(complete and natural > 0, f"{alt}: the plot did not load ({natural})")

        section = driver.find_element("id", "warnings").text
        for name, found in regions.items():
            for line in found:
                check(line in section, f"Warnings section lacks {line!r}:\n{section}")
        check("locus2" not in section, "Warnings section names a region without warnings")

        bar = driver.execute_script(
            "const b = document.getElementById('colour-bar').getBoundingClientRect();"
            "return [b.width, b.height];")
        check(bar[1] >= 100, f"the colour bar is {bar[1]:.0f} pixels high with one chromosome")

        check_overview(driver)

        # The page is wider than the window once the tables may not scroll in
        # their box: the check above can fail.
        driver.execute_script("document.querySelectorAll('div.scroll').forEach("
                              "d => d.style.overflowX = 'visible');")
        scroll, client = driver.execute_script(OVERFLOW)
        check(scroll > client, f"the summary table fits {client} pixels even unboxed ({scroll}): "
                               "the overflow check tests nothing")
        driver.execute_script("document.querySelectorAll('div.scroll').forEach("
                              "d => d.style.overflowX = '');")
        driver.save_screenshot(os.path.join(WORK, "report-1280.png"))
    finally:
        driver.quit()
    print(f"report in a browser: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
