#include "model/marker_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace orvane {

void computeMarkerStatistics(AnalysisState& state) {
    const int32_t nMarkers = state.nMarkers;
    const int32_t width = state.windowSize;
    const size_t markers = static_cast<size_t>(std::max(nMarkers, 0));
    const double n = static_cast<double>(state.nHaplotypes);

    state.ldBandWidth = width;
    const size_t bandSize = markers * static_cast<size_t>(std::max(width, 0));

    std::vector<int32_t> singleCounts(markers, 0);
    std::vector<int32_t> pairCounts(bandSize, 0);
    // One pass per haplotype row; a pair is counted only when both ends carry
    // allele 1, so rows with few carriers cost little.
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        const int32_t* row = &state.alleles[static_cast<size_t>(h) * markers];
        for (int32_t i = 0; i < nMarkers; ++i) {
            if (row[i] != 1) continue;
            ++singleCounts[static_cast<size_t>(i)];
            const int32_t end = std::min(nMarkers, i + width);
            int32_t* band = &pairCounts[static_cast<size_t>(i) * static_cast<size_t>(width)];
            for (int32_t j = i + 1; j < end; ++j) {
                if (row[j] == 1) ++band[j - i];
            }
        }
    }

    state.alleleFreq.assign(markers, 0.0);
    for (size_t m = 0; m < markers; ++m) state.alleleFreq[m] = singleCounts[m] / n;

    state.pairFreq.assign(bandSize, 0.0);
    for (int32_t i = 0; i < nMarkers; ++i) {
        const int32_t end = std::min(nMarkers, i + width);
        for (int32_t j = i + 1; j < end; ++j) {
            const size_t idx = state.bandIndex(i, j);
            state.pairFreq[idx] = pairCounts[idx] / n;
        }
    }
}

void computeLdMatrix(AnalysisState& state) {
    const int32_t nMarkers = state.nMarkers;
    const int32_t width = state.ldBandWidth;
    state.ldMatrix.assign(state.pairFreq.size(), 0.0);
    // |D'| is symmetric in the two markers (the products commute and the two Dmax
    // candidates only swap), so each pair is computed once with the lower marker as A.
    for (int32_t i = 0; i < nMarkers; ++i) {
        const int32_t end = std::min(nMarkers, i + width);
        for (int32_t j = i + 1; j < end; ++j) {
            const size_t idx = state.bandIndex(i, j);
            const double pA = state.alleleFreq[static_cast<size_t>(i)];
            const double pB = state.alleleFreq[static_cast<size_t>(j)];
            const double d = state.pairFreq[idx] - pA * pB;
            const double dMax = d > 0.0 ? std::min(pA * (1.0 - pB), (1.0 - pA) * pB)
                                        : std::min(pA * pB, (1.0 - pA) * (1.0 - pB));
            // A monomorphic marker has no room for disequilibrium: report none
            // rather than 0/0.
            state.ldMatrix[idx] = dMax == 0.0 ? 0.0 : std::fabs(d / dMax);
        }
    }
}

}  // namespace orvane
