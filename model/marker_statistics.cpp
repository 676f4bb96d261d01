#include "model/marker_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane {

namespace {

// Haplotypes carrying allele 1 at both markers, from their bit columns.
__attribute__((target_clones("popcnt", "default")))
int32_t carriersOfBoth(const uint64_t* a, const uint64_t* b, size_t words) {
    int64_t count = 0;
    for (size_t w = 0; w < words; ++w) count += __builtin_popcountll(a[w] & b[w]);
    return static_cast<int32_t>(count);
}

}  // namespace

void computeMarkerStatistics(AnalysisState& state) {
    const int32_t nMarkers = state.nMarkers;
    const int32_t width = state.windowSize;
    const size_t markers = static_cast<size_t>(std::max(nMarkers, 0));
    const double n = static_cast<double>(state.nHaplotypes);

    state.ldBandWidth = width;
    const size_t bandSize = markers * static_cast<size_t>(std::max(width, 0));

    // Each marker's carriers of allele 1 as a column of bits over the
    // haplotypes (a 32nd of the alleles' memory); the counts of a marker and of
    // a pair of markers are population counts.
    const size_t words = (static_cast<size_t>(std::max(state.nHaplotypes, 0)) + 63) / 64;
    std::vector<uint64_t> columns(markers * words, 0);
    state.alleles.visit([&](const auto* alleles) {
        for (int32_t h = 0; h < state.nHaplotypes; ++h) {
            const auto* row = alleles + static_cast<size_t>(h) * markers;
            const size_t word = static_cast<size_t>(h) / 64;
            const uint64_t bit = uint64_t{1} << (h % 64);
            for (size_t i = 0; i < markers; ++i) {
                if (row[i] == 1) columns[i * words + word] |= bit;
            }
        }
    });

    state.alleleFreq.assign(markers, 0.0);
    state.pairFreq.assign(bandSize, 0.0);
    for (int32_t i = 0; i < nMarkers; ++i) {
        const uint64_t* column = &columns[static_cast<size_t>(i) * words];
        state.alleleFreq[static_cast<size_t>(i)] = carriersOfBoth(column, column, words) / n;
        const int32_t end = std::min(nMarkers, i + width);
        for (int32_t j = i + 1; j < end; ++j) {
            const int32_t both = carriersOfBoth(column, &columns[static_cast<size_t>(j) * words], words);
            state.pairFreq[state.bandIndex(i, j)] = both / n;
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
