// How many of the written alleles are missing, overall and site by site.
#pragma once

#include "vcf_haplotypes.h"

namespace orvane {

// A site with a larger share of missing alleles than this is warned about:
// orvane fills missing alleles by random draws, which blurs haplotype sharing.
constexpr double kMaxSiteMissingShare = 0.05;

struct MissingnessSummary {
    long nAlleles = 0;         // haplotypes x written sites
    long nMissing = 0;
    long nSitesOverLimit = 0;  // sites above kMaxSiteMissingShare
    double share() const {
        return nAlleles ? static_cast<double>(nMissing) / static_cast<double>(nAlleles) : 0.0;
    }
};

// Counts over the haplotypes of the kept samples (one for a haploid sample).
MissingnessSummary summarizeMissingness(const HaplotypeMatrix& m);

}  // namespace orvane
