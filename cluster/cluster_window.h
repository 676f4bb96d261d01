// All the work of one centre marker before scoring: place the window, fill its
// distances, derive the density parameters and cluster the haplotypes.
#pragma once

#include <cstdint>

#include "model/analysis_state.h"

namespace orvane {

void clusterWindow(AnalysisState& state, int32_t centre);

}  // namespace orvane
