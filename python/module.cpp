// orvane._orvane: the scan and the VCF reader of the command-line programs,
// for the Python package (python/orvane/__init__.py wraps them).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/memory_run.h"
#include "model/input_error.h"
#include "orvane_version.h"
#include "stats/distribution_tails.h"
#ifdef ORVANE_WITH_VCF
#include "vcf_reading.h"
#endif

namespace py = pybind11;

namespace {

using Alleles = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;
using Reals = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::dict scan(const Alleles& alleles, const Reals& phenotype, bool trait, const std::string& parameters,
              const std::optional<Reals>& distances, const std::string& scheme, std::optional<uint32_t> seed,
              std::optional<std::string> threads, const std::string& folder, bool clusters) {
    if (alleles.ndim() != 2) throw py::value_error("alleles: a 2-D array (haplotypes x markers) is needed");
    if (phenotype.ndim() != 1) throw py::value_error("phenotype: a 1-D array (one value per haplotype) is needed");
    orvane::MemoryInputs in;
    in.traitMode = trait;
    in.alleles = alleles.data();
    in.haplotypes = alleles.shape(0);
    in.markers = alleles.shape(1);
    in.phenotype = phenotype.data();
    in.phenotypeLength = phenotype.shape(0);
    in.parameters = parameters;
    if (distances) in.distances.emplace(distances->data(), distances->data() + distances->size());
    in.permutation = scheme == "chained"    ? orvane::PermutationScheme::Chained
                     : scheme == "adaptive" ? orvane::PermutationScheme::Adaptive
                                            : orvane::PermutationScheme::Joint;
    in.seed = seed;
    in.threads = threads;
    orvane::MemoryOutputs out;
    try {
        // The arrays stay alive with their Python objects; the scan needs no Python.
        py::gil_scoped_release released;
        out = orvane::runInMemory(in, folder, clusters);
    } catch (const orvane::InputError& error) {
        throw py::value_error(error.describe());
    } catch (const orvane::OutputError& error) {
        PyErr_SetString(PyExc_OSError, error.what());
        throw py::error_already_set();
    } catch (const orvane::NumericalError& error) {
        throw std::runtime_error(std::string("fatal numerical error: ") + error.what());
    }
    py::dict result;
    result["result_file"] = out.resultFile;
    result["record"] = out.recordLine;
    result["clusters"] = out.clusterReport;
    result["warnings"] = out.warnings;
    return result;
}

}  // namespace

PYBIND11_MODULE(_orvane, m) {
    m.doc() = "orvane's scan and VCF reader (use the orvane package, not this module)";
    m.attr("__version__") = ORVANE_VERSION;
    m.def("scan", &scan, py::arg("alleles"), py::arg("phenotype"), py::arg("trait"), py::arg("parameters"),
          py::arg("distances"), py::arg("scheme"), py::arg("seed"), py::arg("threads"), py::arg("folder"),
          py::arg("clusters"));
#ifdef ORVANE_WITH_VCF
    orvane::python::defineReadVcf(m);
#endif
}
