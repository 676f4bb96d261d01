// The haplotype bootstrap of the predicted position: replicates that draw the
// haplotypes with replacement (within cases and within controls in single-gene
// mode, so each replicate keeps the study's numbers of both), rescan, and keep
// each statistic's peak.
#pragma once

#include <cstdint>
#include <vector>

#include "locate/locus_scan.h"
#include "model/analysis_state.h"

namespace orvane {

// Fills `replicate` (a copy of `source`, the imputed study) with the haplotypes
// of replicate `index`: record k is a draw from the records of k's group.
void resampleHaplotypes(const AnalysisState& source, uint64_t seed, int32_t index,
                        AnalysisState& replicate);

// Per statistic of the mode (in statisticsOf order), the peak of every replicate.
// Replicates run on up to `threads` threads; the peaks depend only on the study,
// the seed and the replicate count.
std::vector<std::vector<int32_t>> bootstrapPeaks(const AnalysisState& source, int32_t replicates,
                                                 uint64_t seed, int threads);

// The share of the peaks that fall on each marker.
std::vector<double> peakShares(const std::vector<int32_t>& peaks, int32_t markers);

}  // namespace orvane
