// Radius and core threshold of the density clustering, derived per window.
#pragma once

#include <cstdint>

#include "model/analysis_state.h"

namespace orvane {

void deriveEpsilon(AnalysisState& state);
void deriveMinPts(AnalysisState& state, int32_t centre);

}  // namespace orvane
