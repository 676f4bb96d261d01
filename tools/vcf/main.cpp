// orvane-vcf: phased VCF/BCF and a phenotype table to orvane's input files.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "genetic_map.h"
#include "options.h"
#include "output_files.h"
#include "phenotypes.h"
#include "tool_error.h"
#include "vcf_haplotypes.h"

namespace orvane {
namespace {

std::string count(long n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// One line on standard error, so that every sample and site left out is accounted for.
void reportSummary(const HaplotypeMatrix& m, PhenotypeMode mode) {
    long nHaplotypes = 0, nCases = 0;
    for (const KeptSample& s : m.samples) {
        nHaplotypes += s.ploidy;
        nCases += s.phenotype.isCase;
    }
    const long nKept = static_cast<long>(m.samples.size());
    std::string text = "orvane-vcf: kept " + std::to_string(nKept) + " of " +
                       count(m.nVcfSamples, "sample") + " (" + count(nHaplotypes, "haplotype");
    if (mode == PhenotypeMode::CaseControl)
        text += ": " + count(nCases, "case") + ", " + count(nKept - nCases, "control");
    text += "), left out " + std::to_string(m.nWithoutPhenotype) + " without a phenotype and " +
            std::to_string(m.nPhenotypedNotInVcf) + " phenotyped but absent from the VCF; wrote " +
            std::to_string(m.sites.size()) + " of " + count(m.nSitesRead, "site") + " (dropped " +
            std::to_string(m.nMonomorphic) + " monomorphic, " + std::to_string(m.nBelowMaf) +
            " below --min-maf)";
    if (m.nUnphasedSetMissing > 0)
        text += ", " + count(m.nUnphasedSetMissing, "unphased call") + " set missing";
    std::fprintf(stderr, "%s\n", text.c_str());
}

int run(int argc, char** argv) {
    const ConverterOptions opt = parseOptions(argc, argv);
    if (opt.help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }
    const PhenotypeTable phenotypes = readPhenotypes(opt.phenoPath, opt.mode, opt.phenoColumn);
    const GeneticMap map =
        opt.mapPath.empty() ? GeneticMap::constantRate(opt.cmPerMb) : GeneticMap::read(opt.mapPath);

    VcfReadSettings settings;
    settings.path = opt.vcfPath;
    settings.region = opt.region;
    settings.unphasedAsMissing = opt.unphasedAsMissing;
    settings.minMaf = opt.minMaf;
    const HaplotypeMatrix m = readPhasedVcf(settings, phenotypes);

    std::vector<double> cm;
    cm.reserve(m.sites.size());
    for (const Site& site : m.sites) cm.push_back(map.cmAt(site.pos));
    writeConversion(opt.outPrefix, opt.mode, m, cm);
    reportSummary(m, opt.mode);
    return kExitOk;
}

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) {
    try {
        return orvane::run(argc, argv);
    } catch (const orvane::ToolError& e) {
        std::fprintf(stderr, "orvane-vcf: error: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane-vcf: error: %s\n", e.what());
        return orvane::kExitInput;
    }
}
