// Filling of missing alleles (code 0) by draws from the group's allele frequencies.
#pragma once

#include <cstdint>
#include <map>

#include "model/analysis_state.h"

namespace orvane {

using AlleleTable = std::map<int32_t, double>;

void imputeMissingAlleles(AnalysisState& state);
// Fills the two tables of marker m (both empty on entry).
void groupAlleleFrequencies(const AnalysisState& state, int32_t m, AlleleTable& affected,
                            AlleleTable& other);

}  // namespace orvane
