// Radius and core threshold of the density clustering, derived per window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/analysis_state.h"

namespace orvane {

void deriveEpsilon(AnalysisState& state);
void deriveMinPts(AnalysisState& state, int32_t centre);

// Histogram bins of width 0.1; bin 10 also takes 1, anything above it and a
// distance that is not a number.
constexpr int kDistanceBins = 11;
int distanceBin(double d);

// The running count of pairs the radius must reach: pairs x fraction, truncated,
// kept within -1 .. pairs + 1 (beyond those every target behaves alike).
int64_t epsilonTarget(int64_t pairs, double fraction);
// The bin whose lower edge becomes the radius, or -1 when no bin reaches the target.
int radiusBin(const int64_t* counts, int64_t target);

// Index of the neighbour count at the quantile: floor(n x quantile) within 0 .. n - 1.
size_t quantileIndex(int32_t n, double quantile);
// The core threshold from the neighbour count at the quantile: that count plus one,
// capped by half the carriers of allele 1 at the centre, raised to n / 100.
double coreThreshold(int32_t n, int32_t countAtQuantile, double centreAlleleFreq);

}  // namespace orvane
