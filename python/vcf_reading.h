// orvane.read_vcf: orvane-vcf's reading of a phased VCF/BCF, handed to Python
// as arrays and tables instead of files.
#pragma once

#include <pybind11/pybind11.h>

namespace orvane::python {

void defineReadVcf(pybind11::module_& m);

}  // namespace orvane::python
