#include "model/marker_statistics.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orvane {
namespace {

// Haplotypes given marker by marker (one column per marker), window over the map.
AnalysisState fromColumns(const std::vector<std::vector<int32_t>>& columns) {
    AnalysisState state;
    state.nMarkers = static_cast<int32_t>(columns.size());
    state.nHaplotypes = static_cast<int32_t>(columns.front().size());
    state.windowSize = state.nMarkers;
    state.haplotypes.resize(columns.front().size());
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        for (const auto& column : columns) state.alleles.push_back(column[static_cast<size_t>(h)]);
    }
    return state;
}

TEST(MarkerStatistics, FrequenciesAndLdOfTwoMarkers) {
    struct Case {
        std::string name;
        std::vector<int32_t> a, b;
        double freqA, freqB, pairFreq, ld;
    };
    const Case cases[] = {
        {"independent", {1, 1, 2, 2}, {1, 2, 1, 2}, 0.5, 0.5, 0.25, 0.0},
        {"identical columns", {1, 1, 2, 2, 2}, {1, 1, 2, 2, 2}, 0.4, 0.4, 0.4, 1.0},
        {"never together", {1, 2, 2, 2}, {2, 1, 2, 2}, 0.25, 0.25, 0.0, 1.0},
        // D = 0.04 > 0: Dmax = min(0.6 * 0.4, 0.4 * 0.6).
        {"positive D", {1, 1, 1, 2, 2}, {1, 1, 2, 1, 2}, 0.6, 0.6, 0.4, 1.0 / 6.0},
        // D = -0.04: Dmax = min(0.4 * 0.6, 0.6 * 0.4); the other rule would give 0.25.
        {"negative D", {1, 1, 2, 2, 2}, {1, 2, 1, 1, 2}, 0.4, 0.6, 0.2, 1.0 / 6.0},
        {"codes 0 and 2 do not carry", {1, 0, 2, 1}, {1, 2, 0, 0}, 0.5, 0.25, 0.25, 1.0},
        // A monomorphic marker has no disequilibrium rather than 0/0.
        {"all carry", {1, 1, 1, 1}, {1, 2, 1, 2}, 1.0, 0.5, 0.5, 0.0},
        {"none carries", {2, 2, 0, 2}, {1, 2, 1, 2}, 0.0, 0.5, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        AnalysisState state = fromColumns({c.a, c.b});
        computeMarkerStatistics(state);
        computeLdMatrix(state);
        EXPECT_DOUBLE_EQ(state.alleleFreq[0], c.freqA) << c.name;
        EXPECT_DOUBLE_EQ(state.alleleFreq[1], c.freqB) << c.name;
        EXPECT_DOUBLE_EQ(state.pairFreq[state.bandIndex(0, 1)], c.pairFreq) << c.name;
        EXPECT_NEAR(state.ld(0, 1), c.ld, 1e-12) << c.name;
        EXPECT_EQ(state.ld(1, 0), state.ld(0, 1)) << c.name;
    }
}

TEST(MarkerStatistics, BandCoversThePairsCloserThanTheWindow) {
    const int32_t nMarkers = 6;
    const int32_t n = 150;  // three words of carriers, the last one partial
    std::mt19937 rng(7u);
    std::vector<std::vector<int32_t>> columns(nMarkers, std::vector<int32_t>(n));
    for (auto& column : columns) {
        for (int32_t& a : column) a = static_cast<int32_t>(rng() % 3u);
    }
    AnalysisState state = fromColumns(columns);
    state.windowSize = 3;
    computeMarkerStatistics(state);
    computeLdMatrix(state);
    ASSERT_EQ(state.ldBandWidth, 3);
    ASSERT_EQ(state.pairFreq.size(), static_cast<size_t>(nMarkers * 3));
    ASSERT_EQ(state.ldMatrix.size(), state.pairFreq.size());
    for (int32_t i = 0; i < nMarkers; ++i) {
        int32_t carriers = 0;
        for (int32_t h = 0; h < n; ++h) carriers += columns[i][h] == 1;
        EXPECT_EQ(state.alleleFreq[static_cast<size_t>(i)], carriers / static_cast<double>(n)) << i;
        for (int32_t j = i + 1; j < nMarkers && j < i + 3; ++j) {
            int32_t both = 0;
            for (int32_t h = 0; h < n; ++h) both += columns[i][h] == 1 && columns[j][h] == 1;
            EXPECT_EQ(state.pairFreq[state.bandIndex(i, j)], both / static_cast<double>(n))
                << i << "," << j;
            EXPECT_GE(state.ld(i, j), 0.0);
            EXPECT_LE(state.ld(i, j), 1.0 + 1e-12);
        }
    }
}

}  // namespace
}  // namespace orvane
