#include "cluster/density_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace orvane {

namespace {

constexpr int kBins = 11;

// Bin of width 0.1; the top bin also takes distances above 1 and values that are
// not a number, so every pair is counted somewhere.
int distanceBin(double d) {
    const double scaled = 10.0 * d;
    if (std::isnan(scaled) || scaled >= 10.0) return kBins - 1;
    if (scaled < 0.0) return 0;
    return static_cast<int>(scaled);
}

// n * quantile rounded down, kept inside 0 .. n - 1 before it becomes an index.
size_t quantileIndex(int32_t n, double quantile) {
    const double position = std::floor(static_cast<double>(n) * quantile);
    if (!(position > 0.0)) return 0;
    const double top = static_cast<double>(n - 1);
    return static_cast<size_t>(position < top ? position : top);
}

}  // namespace

void deriveEpsilon(AnalysisState& state) {
    if (state.epsilonFraction == 0.0) return;
    const int64_t n = state.nHaplotypes > 0 ? state.nHaplotypes : 0;
    const int64_t pairs = n * (n > 0 ? n - 1 : 0) / 2;
    int64_t counts[kBins] = {};
    for (int64_t k = 0; k < pairs; ++k) {
        ++counts[distanceBin(state.haplotypeDistances[static_cast<size_t>(k)])];
    }

    // Truncated toward zero. Any target above the number of pairs passes no bin and
    // any below 0 passes bin 0, so out-of-range products are bounded first.
    const double wanted = static_cast<double>(pairs) * state.epsilonFraction;
    int64_t target;
    if (std::isnan(wanted)) {
        target = 0;
    } else if (wanted > static_cast<double>(pairs + 1)) {
        target = pairs + 1;
    } else if (wanted < -1.0) {
        target = -1;
    } else {
        target = static_cast<int64_t>(wanted);
    }
    for (int b = 0; b < kBins; ++b) {
        if (counts[b] >= target) {
            state.epsilon = b * 0.1;
            return;
        }
        target -= counts[b];
    }
}

void deriveMinPts(AnalysisState& state, int32_t centre) {
    const int32_t n = state.nHaplotypes;
    const double epsilon = state.epsilon;
    std::vector<int32_t> counts(static_cast<size_t>(n > 0 ? n : 0), 0);
    const double* d = state.haplotypeDistances.data();
    for (int32_t i = 0; i + 1 < n; ++i) {
        for (int32_t j = i + 1; j < n; ++j) {
            if (*d++ < epsilon) {
                ++counts[static_cast<size_t>(i)];
                ++counts[static_cast<size_t>(j)];
            }
        }
    }
    std::sort(counts.begin(), counts.end());

    const int32_t atQuantile = n > 0 ? counts[quantileIndex(n, state.minPtsQuantile)] : 0;
    double minPts = atQuantile + 1;
    // A cluster cannot be denser than the carriers of allele 1 at the centre allow.
    const double cap = static_cast<double>(n) * state.alleleFreq[static_cast<size_t>(centre)] * 0.5;
    if (minPts > cap) minPts = cap;
    const double floorValue = static_cast<double>(n) * 0.01;
    if (floorValue > minPts) minPts = floorValue;
    state.minPts = minPts;
}

}  // namespace orvane
