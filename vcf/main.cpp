// orvane-vcf: phased VCF/BCF and a phenotype table to orvane's input files.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "covariates.h"
#include "genetic_map.h"
#include "missingness.h"
#include "orvane_version.h"
#include "options.h"
#include "output_files.h"
#include "phenotypes.h"
#include "sample_warnings.h"
#include "tool_error.h"
#include "vcf_haplotypes.h"

namespace orvane {
namespace {

std::string count(long n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// One line on standard error, so that every sample and site left out is accounted for.
void reportSummary(const HaplotypeMatrix& m, PhenotypeMode mode,
                   const MissingnessSummary& missing, bool withCovariates) {
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
    char share[32];
    std::snprintf(share, sizeof share, "%.2f", 100.0 * missing.share());
    text += "; " + std::string(share) + " % of the written alleles missing";
    if (withCovariates)
        text += "; left out " + std::to_string(m.nWithoutCovariate) + " missing a covariate";
    std::fprintf(stderr, "%s\n", text.c_str());
}

// orvane fills missing alleles by random draws: many of them blur the
// haplotype sharing it looks for, and unphased calls set missing can even make
// a null phenotype look associated.
void warnAboutMissingness(const HaplotypeMatrix& m, const MissingnessSummary& missing) {
    if (missing.nSitesOverLimit == 0) return;
    std::fprintf(stderr,
                 "orvane-vcf: warning: %ld of %zu written sites have more than %g %% of their "
                 "alleles missing; %s\n",
                 missing.nSitesOverLimit, m.sites.size(), 100.0 * kMaxSiteMissingShare,
                 m.nUnphasedSetMissing > 0
                     ? "phase the VCF instead of using --unphased-as-missing (the study "
                       "workflow does that)"
                     : "phase and impute the VCF to fill them (the study workflow does that)");
}

// The trait becomes its residual after the fit on the covariates, over the kept samples.
void adjustForCovariates(HaplotypeMatrix& m, const CovariateTable& covariates) {
    std::vector<double> trait;
    std::vector<std::vector<double>> values;
    for (const KeptSample& sample : m.samples) {
        trait.push_back(sample.phenotype.trait);
        values.push_back(covariates.byId.at(sample.name));
    }
    const std::vector<double> residuals =
        covariateResiduals(trait, values, covariates.names, covariates.path);
    for (size_t k = 0; k < m.samples.size(); ++k) m.samples[k].phenotype.trait = residuals[k];
}

int run(int argc, char** argv) {
    const ConverterOptions opt = parseOptions(argc, argv);
    if (opt.help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }
    if (opt.version) {
        std::printf("orvane-vcf %s\n", ORVANE_VERSION);
        return kExitOk;
    }
    const PhenotypeTable phenotypes =
        readPhenotypes(opt.phenoPath, opt.mode, opt.phenoColumn, opt.phenoFormat);
    const bool withCovariates = !opt.covarPath.empty();
    const CovariateTable covariates =
        withCovariates ? readCovariates(opt.covarPath, opt.covarColumns) : CovariateTable();
    const GeneticMap map =
        opt.mapPath.empty() ? GeneticMap::constantRate(opt.cmPerMb) : GeneticMap::read(opt.mapPath);

    VcfReadSettings settings;
    settings.path = opt.vcfPath;
    settings.mode = opt.mode;
    settings.covariates = withCovariates ? &covariates : nullptr;
    settings.region = opt.region;
    settings.unphasedAsMissing = opt.unphasedAsMissing;
    settings.minMaf = opt.minMaf;
    HaplotypeMatrix m = readPhasedVcf(settings, phenotypes);
    if (withCovariates) adjustForCovariates(m, covariates);

    std::vector<double> cm;
    cm.reserve(m.sites.size());
    for (const Site& site : m.sites) cm.push_back(map.cmAt(site.pos));
    writeConversion(opt.outPrefix, opt.mode, m, cm);
    const MissingnessSummary missing = summarizeMissingness(m);
    std::optional<std::string> twoValued;
    if (opt.mode == PhenotypeMode::Trait) twoValued = twoValuedTraitWarning(phenotypes);
    for (const auto& warning :
         {twoValued, keptSamplesWarning(static_cast<long>(m.samples.size()), m.nVcfSamples),
          leftOutWarning(m, opt.outPrefix + ".left-out.tsv")}) {
        if (warning) std::fprintf(stderr, "orvane-vcf: warning: %s\n", warning->c_str());
    }
    warnAboutMissingness(m, missing);
    reportSummary(m, opt.mode, missing, withCovariates);
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
