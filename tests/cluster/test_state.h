// Hand-built analysis states for the clustering tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "model/analysis_state.h"

namespace orvane::test {

// Haplotypes with the given allele rows, gaps of 0.0001 between markers and a
// window over the whole map.
inline AnalysisState stateFromAlleles(const std::vector<std::vector<int32_t>>& rows) {
    AnalysisState state;
    state.nHaplotypes = static_cast<int32_t>(rows.size());
    state.nMarkers = rows.empty() ? 0 : static_cast<int32_t>(rows.front().size());
    state.haplotypes.resize(rows.size());
    for (const auto& row : rows) state.alleles.append(row.begin(), row.end());
    state.markerDistances.assign(state.nMarkers > 0 ? static_cast<size_t>(state.nMarkers - 1) : 0,
                                 0.0001);
    state.windowSize = state.nMarkers;
    return state;
}

// n haplotypes whose upper-triangle distances are given in storage order.
inline AnalysisState stateFromDistances(int32_t n, std::vector<double> distances) {
    AnalysisState state;
    state.nHaplotypes = n;
    state.nMarkers = 1;
    state.haplotypes.resize(static_cast<size_t>(n));
    state.alleles.assign(static_cast<size_t>(n), 1);
    state.alleleFreq.assign(1, 1.0);
    state.haplotypeDistances = std::move(distances);
    return state;
}

// n haplotypes at distance 0 for the listed pairs and 1 otherwise, epsilon 0.5:
// the listed pairs are exactly the neighbours.
inline AnalysisState stateFromNeighbourPairs(int32_t n,
                                             const std::vector<std::pair<int32_t, int32_t>>& pairs,
                                             double minPts) {
    const size_t un = static_cast<size_t>(n);
    AnalysisState state = stateFromDistances(n, std::vector<double>(un * (un - 1) / 2, 1.0));
    for (const auto& [a, b] : pairs) state.haplotypeDistances[state.pairIndex(a, b)] = 0.0;
    state.epsilon = 0.5;
    state.minPts = minPts;
    return state;
}

}  // namespace orvane::test
