// How many of the written alleles are missing, overall and site by site.
#pragma once

#include "model/data_warnings.h"
#include "vcf_haplotypes.h"

namespace orvane {

// A site with a larger share of missing alleles than this is warned about, at
// the share where orvane's own warning starts: it fills missing alleles by
// random draws from each case/control group, which inflates its scores.
constexpr double kMaxSiteMissingShare = kMissingShareWarning;

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
