// Reading phased genotypes through htslib into one allele code per haplotype
// and site, in orvane's coding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "covariates.h"
#include "phenotypes.h"

namespace orvane {

struct KeptSample {
    std::string name;
    int vcfIndex = 0;
    Phenotype phenotype;
    int ploidy = 2;  // 1 for haploid calls: the sample gives one haplotype
};

struct Site {
    std::string chrom;
    long pos = 0;  // 1-based
    std::string id;  // the VCF ID, or CHROM:POS when it has none
    std::string ref;
    std::string alt;  // comma-separated, "." when none
};

// A sample of the VCF or of the phenotype file that the conversion leaves out.
struct LeftOutSample {
    std::string name;
    std::string reason;
};

struct VcfReadSettings {
    std::string path;
    PhenotypeMode mode = PhenotypeMode::CaseControl;
    // Phenotyped samples without every covariate are left out (null: none asked).
    const CovariateTable* covariates = nullptr;
    std::string region;
    bool unphasedAsMissing = false;
    double minMaf = 0.0;
};

struct HaplotypeMatrix {
    std::vector<KeptSample> samples;  // in VCF order
    std::vector<Site> sites;          // kept sites, in file order
    // codes[site * 2 * nSamples + 2 * sample + h], h = 0, 1; the second slot
    // of a haploid sample is 0 and never written.
    std::vector<uint16_t> codes;
    long nVcfSamples = 0;
    long nWithoutPhenotype = 0;   // VCF samples left out
    long nPhenotypedNotInVcf = 0; // phenotype rows with a value but no VCF sample
    long nWithoutCovariate = 0;   // phenotyped VCF samples left out for a missing covariate
    // Every sample counted above, by name: the VCF's in its order, then the
    // phenotype file's absent from the VCF in name order.
    std::vector<LeftOutSample> leftOut;
    long nSitesRead = 0;
    long nMonomorphic = 0;  // fewer than two observed alleles
    long nBelowMaf = 0;
    long nUnphasedSetMissing = 0;  // calls, with --unphased-as-missing

    uint16_t code(size_t site, size_t sample, int h) const {
        return codes[site * 2 * samples.size() + 2 * sample + static_cast<size_t>(h)];
    }
};

// REF = 2, first ALT = 1, k-th ALT (k >= 2) = k + 1, so that orvane, which
// counts only code 1 as carrying an allele, tests the first ALT allele.
inline uint16_t alleleCode(int alleleIndex) {
    if (alleleIndex == 0) return 2;
    if (alleleIndex == 1) return 1;
    return static_cast<uint16_t>(alleleIndex + 1);
}

// Throws ToolError (kExitInput) naming the file, the site (or line) and the
// sample; also when a phenotype table's first line names a VCF sample (a
// table without header) and, in case/control mode, when the kept samples lack
// cases or controls.
HaplotypeMatrix readPhasedVcf(const VcfReadSettings& settings, const PhenotypeTable& phenotypes);

}  // namespace orvane
