#!/usr/bin/python3
"""The study report in a real browser: headless Chromium, driven by Selenium,
loads a report.html made by the workflow's report code at a 1280-pixel wide
window and checks that the page does not scroll sideways, that every region's
plot has loaded, that the Warnings section lists a region's warning and that
the overview's colour bar is readable with one chromosome. A screenshot is
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
        values = [name, "1", str(8000000 + k * 9000000), str(8300000 + k * 9000000), "160",
                  "320", "48", "rs_very_long_marker_identifier_%d" % k, "8150000", "12.345678",
                  "4.56789", "3.21", "0.004", "1000", "0.008", "rs_another_long_identifier",
                  "8160000", "2.5", "0.01", "rs_third_long_identifier", "8170000", "2.2", "0.02",
                  "joint", "0.006",
                  summary.warnings_cell(found), "1000"]
        rows.append("\t".join(values))
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

    driver = browser()
    try:
        driver.get("file://" + page)
        width = driver.execute_script("return window.innerWidth;")
        check(width == WIDTH, f"the window is {width} pixels wide, not {WIDTH}")
        scroll, client = driver.execute_script(OVERFLOW)
        check(scroll <= client, f"the page scrolls sideways: {scroll} pixels in {client}")

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
