#include "vcf_reading.h"

#include <htslib/vcf.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "genetic_map.h"
#include "options.h"
#include "phenotypes.h"
#include "tool_error.h"
#include "vcf_haplotypes.h"

namespace py = pybind11;

namespace orvane::python {

namespace {

// Without a phenotype file every sample of the VCF is kept, with no value.
PhenotypeTable everySample(const std::string& path) {
    htsFile* file = bcf_open(path.c_str(), "r");
    if (file == nullptr) throw inputError(path + ": cannot open");
    bcf_hdr_t* header = bcf_hdr_read(file);
    if (header == nullptr) {
        bcf_close(file);
        throw inputError(path + ": cannot read the header");
    }
    PhenotypeTable table;
    table.path = "(none)";
    Phenotype none;
    none.trait = std::numeric_limits<double>::quiet_NaN();
    for (int s = 0; s < bcf_hdr_nsamples(header); ++s) table.byId[header->samples[s]] = none;
    table.nRows = bcf_hdr_nsamples(header);
    bcf_hdr_destroy(header);
    bcf_close(file);
    return table;
}

// The gap as the distance file writes it (eight digits), so that a scan of
// these arrays reads the distances orvane reads from orvane-vcf's files.
double writtenGap(double gap) {
    char text[64];
    std::snprintf(text, sizeof text, "%.8g", gap > 0.0 ? gap : 0.0);
    return std::strtod(text, nullptr);
}

py::dict readVcf(const std::string& path, const std::optional<std::string>& phenoPath, const std::string& mode,
                 const std::string& region, const std::string& phenoColumn, const std::string& phenoFormat,
                 const std::optional<std::string>& mapPath, double cmPerMb, double minMaf,
                 bool unphasedAsMissing) {
    const PhenotypeMode phenotypeMode = mode == "q" || !phenoPath ? PhenotypeMode::Trait : PhenotypeMode::CaseControl;
    const PhenotypeFormat format = phenoFormat == "fam"     ? PhenotypeFormat::Fam
                                   : phenoFormat == "table" ? PhenotypeFormat::Table
                                                            : PhenotypeFormat::Auto;
    HaplotypeMatrix m;
    std::vector<double> cm;
    try {
        const PhenotypeTable phenotypes =
            phenoPath ? readPhenotypes(*phenoPath, phenotypeMode, phenoColumn, format) : everySample(path);
        const GeneticMap map = mapPath ? GeneticMap::read(*mapPath) : GeneticMap::constantRate(cmPerMb);
        VcfReadSettings settings;
        settings.path = path;
        settings.mode = phenotypeMode;
        settings.region = region;
        settings.unphasedAsMissing = unphasedAsMissing;
        settings.minMaf = minMaf;
        {
            py::gil_scoped_release released;
            m = readPhasedVcf(settings, phenotypes);
        }
        for (const Site& site : m.sites) cm.push_back(map.cmAt(site.pos));
    } catch (const ToolError& error) {
        throw py::value_error(error.what());
    }
    size_t haplotypes = 0;
    for (const KeptSample& sample : m.samples) haplotypes += static_cast<size_t>(sample.ploidy);
    const size_t sites = m.sites.size();
    py::array_t<int32_t> alleles({haplotypes, sites});
    py::array_t<double> phenotype(haplotypes);
    auto codes = alleles.mutable_unchecked<2>();
    auto values = phenotype.mutable_unchecked<1>();
    py::list sampleNames, haplotypeNumbers;
    size_t row = 0;
    // Haplotypes in the order of orvane-vcf's data file: sample by sample.
    for (size_t k = 0; k < m.samples.size(); ++k) {
        const KeptSample& sample = m.samples[k];
        for (int h = 0; h < sample.ploidy; ++h, ++row) {
            for (size_t s = 0; s < sites; ++s) codes(row, s) = m.code(s, k, h);
            values(row) = phenotypeMode == PhenotypeMode::Trait ? sample.phenotype.trait
                                                                : (sample.phenotype.isCase ? 1.0 : 0.0);
            sampleNames.append(sample.name);
            haplotypeNumbers.append(h + 1);
        }
    }
    py::list chrom, pos, id, ref, alt;
    for (const Site& site : m.sites) {
        chrom.append(site.chrom);
        pos.append(site.pos);
        id.append(site.id);
        ref.append(site.ref);
        alt.append(site.alt);
    }
    std::vector<double> gaps;
    for (size_t s = 1; s < sites; ++s) gaps.push_back(writtenGap(cm[s] - cm[s - 1]));
    py::dict out;
    out["alleles"] = alleles;
    out["phenotype"] = phenotype;
    out["trait"] = phenotypeMode == PhenotypeMode::Trait;
    out["chrom"] = chrom;
    out["pos"] = pos;
    out["id"] = id;
    out["ref"] = ref;
    out["alt"] = alt;
    out["cm"] = cm;
    out["distances"] = gaps;
    out["sample"] = sampleNames;
    out["haplotype"] = haplotypeNumbers;
    return out;
}

}  // namespace

void defineReadVcf(py::module_& m) {
    m.def("read_vcf", &readVcf, py::arg("path"), py::arg("pheno"), py::arg("mode"), py::arg("region"),
          py::arg("pheno_col"), py::arg("pheno_format"), py::arg("map"), py::arg("cm_per_mb"), py::arg("min_maf"),
          py::arg("unphased_as_missing"));
}

}  // namespace orvane::python
