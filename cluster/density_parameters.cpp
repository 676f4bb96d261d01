#include "cluster/density_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace orvane {

int distanceBin(double d) {
    const double scaled = 10.0 * d;
    if (std::isnan(scaled) || scaled >= 10.0) return kDistanceBins - 1;
    if (scaled < 0.0) return 0;
    return static_cast<int>(scaled);
}

size_t quantileIndex(int32_t n, double quantile) {
    const double position = std::floor(static_cast<double>(n) * quantile);
    if (!(position > 0.0)) return 0;
    const double top = static_cast<double>(n - 1);
    return static_cast<size_t>(position < top ? position : top);
}

int64_t epsilonTarget(int64_t pairs, double fraction) {
    const double wanted = static_cast<double>(pairs) * fraction;
    if (std::isnan(wanted)) return 0;
    if (wanted > static_cast<double>(pairs + 1)) return pairs + 1;
    if (wanted < -1.0) return -1;
    return static_cast<int64_t>(wanted);
}

int radiusBin(const int64_t* counts, int64_t target) {
    for (int b = 0; b < kDistanceBins; ++b) {
        if (counts[b] >= target) return b;
        target -= counts[b];
    }
    return -1;
}

double coreThreshold(int32_t n, int32_t countAtQuantile, double centreAlleleFreq) {
    double minPts = countAtQuantile + 1;
    // A cluster cannot be denser than the carriers of allele 1 at the centre allow.
    const double cap = static_cast<double>(n) * centreAlleleFreq * 0.5;
    if (minPts > cap) minPts = cap;
    const double floorValue = static_cast<double>(n) * 0.01;
    if (floorValue > minPts) minPts = floorValue;
    return minPts;
}

void deriveEpsilon(AnalysisState& state) {
    if (state.epsilonFraction == 0.0) return;
    const int64_t n = state.nHaplotypes > 0 ? state.nHaplotypes : 0;
    const int64_t pairs = n * (n > 0 ? n - 1 : 0) / 2;
    int64_t counts[kDistanceBins] = {};
    for (int64_t k = 0; k < pairs; ++k) {
        ++counts[distanceBin(state.haplotypeDistances[static_cast<size_t>(k)])];
    }
    const int bin = radiusBin(counts, epsilonTarget(pairs, state.epsilonFraction));
    if (bin >= 0) state.epsilon = bin * 0.1;
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
    state.minPts = coreThreshold(n, atQuantile, state.alleleFreq[static_cast<size_t>(centre)]);
}

}  // namespace orvane
