// Allele-1 frequencies, pair frequencies and |D'| between markers that share a window.
#pragma once

#include "model/analysis_state.h"

namespace orvane {

// Both need windowSize already bounded by nMarkers: the band covers pairs closer
// than windowSize.
void computeMarkerStatistics(AnalysisState& state);
void computeLdMatrix(AnalysisState& state);

}  // namespace orvane
