"""The Python package against the command line: the same arrays written to
the text formats and run through the built `orvane` give the same result
file, run record and cluster report, byte for byte; bad input raises the
command line's message and writes nothing. Run by ctest with the package's
build folder on PYTHONPATH and the build folder in ORVANE_BUILD."""
import glob
import json
import os
import subprocess
import tempfile
import threading

import numpy as np
import pandas as pd
import pytest

import orvane

BUILD = os.environ["ORVANE_BUILD"]
ORVANE = os.path.join(BUILD, "orvane")
SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
EXAMPLE = os.path.join(SOURCE, "examples", "vcf")


def simulated(seed, haplotypes=60, markers=25, mode="s"):
    """Haplotypes from a few founders with mutations, missing and multi-allelic
    codes; cases (or high trait values) enriched for founder 0."""
    rng = np.random.default_rng(seed)
    founders = rng.integers(1, 3, size=(4, markers))
    origin = rng.integers(0, 4, size=haplotypes)
    alleles = founders[origin].copy()
    flips = rng.random((haplotypes, markers)) < 0.08
    alleles[flips] = 3 - alleles[flips]
    alleles[rng.random((haplotypes, markers)) < 0.03] = 0
    alleles[rng.random((haplotypes, markers)) < 0.01] = 3
    if mode == "s":
        phenotype = (origin == 0) | (rng.random(haplotypes) < 0.3)
    else:
        # float32 values: what the data file's reader keeps of any trait.
        phenotype = (rng.normal(size=haplotypes) + (origin == 0)).astype(np.float32).astype(np.float64)
    gaps = np.round(rng.uniform(0.001, 0.05, size=markers - 1), 5)
    return alleles, phenotype, gaps


def write_inputs(folder, alleles, phenotype, gaps, mode, settings):
    with open(os.path.join(folder, "data.txt"), "w") as f:
        f.write("id phenotype " + " ".join(f"m{k}" for k in range(alleles.shape[1])) + "\n")
        for h, row in enumerate(alleles):
            value = ("a" if phenotype[h] else "c") if mode == "s" else repr(float(phenotype[h]))
            f.write(f"{h + 1}\t{value}\t" + "\t".join(str(int(c)) for c in row) + "\n")
    with open(os.path.join(folder, "params.txt"), "w") as f:
        f.write(orvane.parameter_text(**settings))
    files = ["data.txt", "params.txt"]
    if gaps is not None:
        with open(os.path.join(folder, "dist.txt"), "w") as f:
            f.write(" ".join(repr(float(g)) for g in gaps) + "\n")
        files.append("dist.txt")
    return files


def command_line(folder, mode, files, scheme="joint"):
    done = subprocess.run([ORVANE, "--permutation", scheme, f"-{mode}"] + files, cwd=folder,
                          capture_output=True, text=True)
    return done


def read(folder, name):
    with open(os.path.join(folder, name)) as f:
        return f.read()


SETTINGS = [
    ("s", dict(epsilon_fraction=0.3, min_pts_quantile=0.5, window_size=7, distance_type=1,
               distance_parameters=(-254, 1), permutations=50, report_threshold=1.0), "joint", True),
    ("s", dict(epsilon=1.5, min_pts_quantile=0.2, window_size=5, distance_type=3,
               distance_parameters=(3,), permutations=20, report_threshold=0.5), "chained", True),
    ("q", dict(epsilon_fraction=0.4, min_pts_quantile=0.5, window_size=9, distance_type=2,
               distance_parameters=(-10, 1), permutations=40, report_threshold=1.0), "joint", True),
    ("q", dict(epsilon_fraction=0.3, window_size=30, permutations=0), "joint", False),
    ("s", dict(epsilon_fraction=0.2, window_size=5, distance_type=6, distance_parameters=(1, 2),
               permutations=30), "joint", False),
]


@pytest.mark.parametrize("case", range(len(SETTINGS)))
def test_same_bytes_as_the_command_line(tmp_path, case):
    mode, settings, scheme, with_gaps = SETTINGS[case]
    alleles, phenotype, gaps = simulated(100 + case, mode=mode)
    gaps = gaps if with_gaps else None
    files = write_inputs(str(tmp_path), alleles, phenotype, gaps, mode, settings)
    done = command_line(str(tmp_path), mode, files, scheme)
    assert done.returncode == 0, done.stderr
    run = orvane.scan(alleles, phenotype == 1 if mode == "s" else phenotype, mode=mode,
                      distances=gaps, permutation=scheme, clusters=True, **settings)
    assert run.result_file == read(str(tmp_path), "data.txt-results")
    assert run.cluster_report == read(str(tmp_path), "output")
    record = json.loads(read(str(tmp_path), "data.txt-results.jsonl"))
    del record["command"], run.summary["command"]
    # The warnings name the arrays where the command line names its files.
    assert len(record.pop("warnings")) == len(run.summary.pop("warnings")) == len(run.warnings)
    assert run.summary == record
    # The DataFrame holds the result file's numbers, read back exactly.
    rows = [line.split("\t") for line in run.result_file.splitlines()[1:1 + alleles.shape[1]]]
    expected = np.array([[float(v) for v in row] for row in rows])
    assert np.array_equal(run.markers.to_numpy(dtype=float), expected, equal_nan=True)
    assert list(run.markers.columns) == list(orvane.MARKER_COLUMNS[mode].values())
    # Every reported cluster, members among the arrays' rows.
    assert len(run.clusters) == run.cluster_report.count("Cluster number ")
    for cluster in run.clusters.itertuples():
        assert len(cluster.members) == cluster.haplotypes
        assert set(cluster.core_members) <= set(cluster.members)
        assert all(0 <= h < alleles.shape[0] for h in cluster.members)


def test_seed_threads_and_defaults(tmp_path):
    alleles, _, gaps = simulated(7)
    # A null status, so that the permutation p-values are not all at their floor.
    status = np.random.default_rng(5).random(alleles.shape[0]) < 0.5
    settings = dict(epsilon_fraction=0.3, window_size=7, permutations=60, distances=gaps)
    default = orvane.scan(alleles, status, **settings)
    # The command line's generator starts from state 1.
    assert orvane.scan(alleles, status, seed=1, **settings).result_file == default.result_file
    first = orvane.scan(alleles, status, seed=12345, threads=1, **settings)
    again = orvane.scan(alleles, status, seed=12345, threads=2, **settings)
    assert first.result_file == again.result_file
    assert first.summary == again.summary
    others = [orvane.scan(alleles, status, seed=s, **settings).summary for s in (2, 3, 4)]
    assert any(o["statistics"]["cluster"]["permutation_p"] !=
               first.summary["statistics"]["cluster"]["permutation_p"] or
               o["omnibus_p"] != first.summary["omnibus_p"] for o in others)
    assert default.clusters is None and default.cluster_report == ""


def cli_message(tmp_path, alleles_text, params_text, mode, dist_text=None):
    folder = tmp_path / "cli"
    folder.mkdir(exist_ok=True)
    (folder / "data.txt").write_text(alleles_text)
    (folder / "params.txt").write_text(params_text)
    files = ["data.txt", "params.txt"]
    if dist_text is not None:
        (folder / "dist.txt").write_text(dist_text)
        files.append("dist.txt")
    done = command_line(str(folder), mode, files)
    assert done.returncode == 2, done.stderr
    # "orvane: error: FILE:LINE: WHAT": the WHAT.
    return done.stderr.strip().split(": ", 3)[-1]


PARAMS = orvane.parameter_text(epsilon_fraction=0.3, window_size=3, permutations=0)

# (what, scan's arguments, the command line's data, parameters and distances or None)
BAD_INPUTS = [
    ("ragged rows", dict(alleles=[[1, 2, 1], [1, 2]], phenotype=[True, False]),
     "id s a b c\n1 a 1 2 1\n2 c 1 2\n", PARAMS, None),
    ("non-finite trait", dict(alleles=[[1, 2], [2, 1]], phenotype=[0.5, float("nan")], mode="q"),
     "id t a b\n1 0.5 1 2\n2 nan 2 1\n", PARAMS, None),
    ("infinite trait", dict(alleles=[[1, 2], [2, 1]], phenotype=[float("inf"), 0.5], mode="q"),
     "id t a b\n1 inf 1 2\n2 0.5 2 1\n", PARAMS, None),
    ("window of 0", dict(alleles=[[1, 2], [2, 1]], phenotype=[True, False], window_size=0),
     "id s a b\n1 a 1 2\n2 c 2 1\n", orvane.parameter_text(window_size=0), None),
    ("distance type 3 with p1 5", dict(alleles=[[1, 2], [2, 1]], phenotype=[True, False],
                                       distance_type=3, distance_parameters=(5,)),
     "id s a b\n1 a 1 2\n2 c 2 1\n", orvane.parameter_text(distance_type=3, distance_parameters=(5,)), None),
    ("negative weight", dict(alleles=[[1, 2], [2, 1]], phenotype=[True, False], distance_type=1,
                             distance_parameters=(-100, -1)),
     "id s a b\n1 a 1 2\n2 c 2 1\n",
     orvane.parameter_text(distance_type=1, distance_parameters=(-100, -1)), None),
    ("negative distance", dict(alleles=[[1, 2], [2, 1]], phenotype=[True, False], distances=[-0.5]),
     "id s a b\n1 a 1 2\n2 c 2 1\n", PARAMS, "-0.5\n"),
    ("allele beyond 32 bits", dict(alleles=np.array([[1, 2**33], [2, 1]]), phenotype=[True, False]),
     "id s a b\n1 a 1 8589934592\n2 c 2 1\n", PARAMS, None),
]


@pytest.mark.parametrize("what, arguments, data, params, dist", BAD_INPUTS, ids=[b[0] for b in BAD_INPUTS])
def test_bad_input_raises_the_command_lines_message(tmp_path, monkeypatch, what, arguments, data, params,
                                                    dist):
    arguments = dict(arguments)
    expected = cli_message(tmp_path, data, params, arguments.get("mode", "s"), dist)
    scratch = tmp_path / "scan"
    scratch.mkdir()
    monkeypatch.chdir(scratch)
    before = set(glob.glob(os.path.join(tempfile.gettempdir(), "orvane-scan-*")))
    if arguments.get("mode") != "q":
        arguments["phenotype"] = np.asarray(arguments["phenotype"], dtype=bool)
    with pytest.raises(ValueError) as raised:
        orvane.scan(**arguments)
    # Arrays have rows where the file has lines: the text before the line number.
    assert expected.split(": ")[-1].split(" as on line ")[0] in str(raised.value), (expected, str(raised.value))
    assert os.listdir(scratch) == []
    assert set(glob.glob(os.path.join(tempfile.gettempdir(), "orvane-scan-*"))) == before


@pytest.mark.parametrize("arguments, message", [
    (dict(alleles=np.ones((3, 2), dtype=int), phenotype=np.array([True, False])),
     "2 values for 3 haplotypes"),
    (dict(alleles=np.ones(3, dtype=int), phenotype=np.array([True])), "a 2-D array"),
    (dict(alleles=np.ones((2, 2)), phenotype=np.array([True, False])), "integer allele codes"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([1.0, 0.0])), "needs booleans"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([True, False]), mode="x"), "mode 'x'"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([True, False]), permutation="both"),
     "unknown permutation scheme"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([True, False]), window_size=2.5),
     "not a whole number"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([True, False]), threads=0), "at least 1"),
    (dict(alleles=np.ones((2, 2), dtype=int), phenotype=np.array([True, False]), seed=-1), "seed -1"),
])
def test_bad_arguments_of_the_arrays(arguments, message):
    with pytest.raises(ValueError, match=message):
        orvane.scan(**arguments)


def test_the_scan_lets_other_threads_run():
    alleles, phenotype, gaps = simulated(3, haplotypes=300, markers=40)
    finished = threading.Event()
    result = {}

    def work():
        result["run"] = orvane.scan(alleles, phenotype == 1, epsilon_fraction=0.3, window_size=11,
                                    permutations=400, threads=1)
        finished.set()

    worker = threading.Thread(target=work)
    # While the worker is inside the scan, this thread keeps counting: with the
    # GIL held it could not run at all until the scan returned.
    counted = 0
    worker.start()
    while not finished.is_set():
        counted += 1
    worker.join()
    assert counted > 10000
    assert result["run"].summary["markers"] == 40


@pytest.fixture(scope="module")
def example(tmp_path_factory):
    """The worked example converted and analysed by the programs."""
    folder = tmp_path_factory.mktemp("example")
    subprocess.run([os.path.join(BUILD, "orvane-vcf"), "--vcf", os.path.join(EXAMPLE, "example.vcf"),
                    "--pheno", os.path.join(EXAMPLE, "pheno.txt"), "--map",
                    os.path.join(EXAMPLE, "genetic_map.txt"), "--out", str(folder / "example")],
                   check=True, capture_output=True)
    subprocess.run([ORVANE, "-s", "example.dat", os.path.join(EXAMPLE, "params.txt"), "example.dist"],
                   cwd=folder, check=True, capture_output=True)
    subprocess.run([os.path.join(BUILD, "orvane-sumstats"), "--prefix", str(folder / "example"),
                    "--out", str(folder / "example.sumstats.tsv.gz")], check=True, capture_output=True)
    return folder


def test_read_vcf_gives_the_converters_files(example):
    data = orvane.read_vcf(os.path.join(EXAMPLE, "example.vcf"), pheno=os.path.join(EXAMPLE, "pheno.txt"),
                           map=os.path.join(EXAMPLE, "genetic_map.txt"))
    dat = [line.split("\t") for line in read(str(example), "example.dat").splitlines()[1:]]
    assert data.alleles.tolist() == [[int(c) for c in row[2:]] for row in dat]
    assert data.phenotype.tolist() == [row[1] == "a" for row in dat]
    markers = pd.read_csv(example / "example.markers.tsv", sep="\t", dtype={"chrom": str})
    assert data.markers[["index", "chrom", "pos", "id", "ref", "alt"]].equals(
        markers[["index", "chrom", "pos", "id", "ref", "alt"]])
    assert np.allclose(data.markers["cm"], markers["cm"], rtol=1e-9)
    haplotypes = pd.read_csv(example / "example.haplotypes.tsv", sep="\t")
    assert list(data.haplotypes["sample"]) == list(haplotypes["sample"])
    assert list(data.haplotypes["haplotype"]) == list(haplotypes["haplotype"])
    gaps = [float(v) for v in read(str(example), "example.dist").split()]
    assert data.distances.tolist() == gaps
    # The notebook's path gives the command line's bytes.
    params = {"epsilon_fraction": 0.1, "min_pts_quantile": 0.5, "window_size": 11, "distance_type": 1,
              "distance_parameters": (-541, 1), "permutations": 1000, "report_threshold": 2.0}
    with open(os.path.join(EXAMPLE, "params.txt")) as f:
        file_values = [float(v) for v in f.read().split() if not v[0].isalpha()]
    assert [float(v) for v in orvane.parameter_text(**params).split() if not v[0].isalpha()] == file_values
    run = orvane.scan(data.alleles, data.phenotype, distances=data.distances, **params)
    assert run.result_file == read(str(example), "example.dat-results")


def test_read_vcf_errors_and_without_phenotypes(tmp_path):
    data = orvane.read_vcf(os.path.join(EXAMPLE, "example.vcf"))
    assert data.alleles.shape[0] == 100 and np.isnan(data.phenotype).all()
    with pytest.raises(ValueError, match="missing.vcf"):
        orvane.read_vcf(str(tmp_path / "missing.vcf"), pheno=os.path.join(EXAMPLE, "pheno.txt"))
    with pytest.raises(ValueError, match="--region needs an indexed file|index"):
        orvane.read_vcf(os.path.join(EXAMPLE, "example.vcf"), region="22:1-100",
                        pheno=os.path.join(EXAMPLE, "pheno.txt"))


def test_read_results(example):
    for where in (str(example / "example"), str(example / "example.dat-results")):
        loaded = orvane.read_results(where)
        assert len(loaded["markers"]) == len(loaded["marker_table"]) == len(loaded["sumstats"]) == 47
        assert loaded["record"]["mode"] == "s"
        assert set(loaded["statistics"]["statistic"]) == {"cluster", "chisq"}
        assert (loaded["sumstats"]["cluster_score"] == loaded["markers"]["cluster_score"]).all()
