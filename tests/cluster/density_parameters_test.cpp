#include "cluster/density_parameters.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

using test::stateFromDistances;
using test::stateFromNeighbourPairs;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// n haplotypes whose pairs, in storage order, take the listed distances.
AnalysisState histogramState(int32_t n, std::vector<double> distances, double fraction) {
    AnalysisState state = stateFromDistances(n, std::move(distances));
    state.epsilon = 0.123;
    state.epsilonFraction = fraction;
    return state;
}

TEST(DeriveEpsilon, LowerEdgeOfTheBinWhereTheRunningCountReachesTheTarget) {
    struct Case {
        std::string name;
        int32_t n;
        std::vector<double> distances;
        double fraction;
        double epsilon;
    };
    const std::vector<double> allOne(45, 1.0);
    const Case cases[] = {
        // Bins 0, 1, 2 hold 1, 0, 3 pairs; target 2 is reached in bin 2.
        {"five haplotypes", 5, {0.05, 0.25, 0.21, 0.29, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9}, 0.25, 0.2},
        // The edge is the bin index times 0.1, not a tenth of the index.
        {"bin 3", 5, {0.05, 0.35, 0.35, 0.35, 0.35, 0.9, 0.9, 0.9, 0.9, 0.9}, 0.25, 3 * 0.1},
        // 10 x 0.29 = 2.9 truncates to a target of 2, reached in bin 0.
        {"target truncates", 5, {0.0, 0.0, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, 0.29, 0.0},
        {"all at distance 1", 10, allOne, 0.5, 1.0},
        {"target 0", 5, {0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9}, 0.01, 0.0},
        {"no bin passes", 3, {0.1, 0.2, 0.3}, 1.5, 0.123},
        {"fixed radius", 3, {0.1, 0.2, 0.3}, 0.0, 0.123},
        // Values outside [0, 1] are bounded into the end bins.
        {"above 1 in bin 10", 3, {1.5, 0.05, 0.05}, 1.0, 1.0},
        {"below 0 in bin 0", 3, {-0.5, 0.95, 0.95}, 0.4, 0.0},
        {"huge in bin 10", 3, {1e300, 0.05, 0.05}, 1.0, 1.0},
        // A distance that is not a number counts in bin 10; dropping it would leave
        // the target unmet.
        {"not a number in bin 10", 3, {0.05, kNaN, kNaN}, 1.0, 1.0},
    };
    for (const Case& c : cases) {
        AnalysisState state = histogramState(c.n, c.distances, c.fraction);
        deriveEpsilon(state);
        EXPECT_EQ(state.epsilon, c.epsilon) << c.name;
    }
    EXPECT_NE(3 * 0.1, 0.3);
}

// Sorted neighbour counts 0, 0, 0, 1, 1, 1, 1, 1, 1, 4 (a star 0-1..4, a pair 5-6,
// three loners); every haplotype carries allele 1, so the cap is 5.
AnalysisState countsState(double quantile) {
    AnalysisState state =
        stateFromNeighbourPairs(10, {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {5, 6}}, 0.0);
    state.minPtsQuantile = quantile;
    return state;
}

TEST(DeriveMinPts, CountAtTheQuantilePlusOneWithTheIndexClamped) {
    struct Case {
        double quantile;
        double minPts;
    };
    const Case cases[] = {
        {0.0, 1.0}, {0.3, 2.0}, {0.95, 5.0},
        // Beyond the sorted counts the index stays at the last or the first.
        {1.0, 5.0}, {3.0, 5.0}, {-0.05, 1.0}, {-0.25, 1.0},
    };
    for (const Case& c : cases) {
        AnalysisState state = countsState(c.quantile);
        deriveMinPts(state, 0);
        EXPECT_EQ(state.minPts, c.minPts) << "quantile " << c.quantile;
    }
}

TEST(DeriveMinPts, CappedByHalfTheCarriersBeforeTheFloor) {
    // 16 groups of 6 mutual neighbours (count 5) and 4 loners; the median count is 5.
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (int32_t g = 0; g < 16; ++g) {
        for (int32_t a = 6 * g; a < 6 * g + 6; ++a) {
            for (int32_t b = a + 1; b < 6 * g + 6; ++b) pairs.emplace_back(a, b);
        }
    }
    AnalysisState state = stateFromNeighbourPairs(100, pairs, 0.0);
    state.minPtsQuantile = 0.5;
    state.alleleFreq = {7 / 100.0};  // 7 carriers
    deriveMinPts(state, 0);
    EXPECT_NEAR(state.minPts, 3.5, 1e-12);  // min(6, 3.5), above the floor of 1

    state.alleleFreq = {0.0};  // no carrier: the cap is 0 and the floor wins
    deriveMinPts(state, 0);
    EXPECT_DOUBLE_EQ(state.minPts, 1.0);
}

TEST(DeriveMinPts, FloorIsAHundredthOfTheHaplotypes) {
    AnalysisState few = stateFromNeighbourPairs(50, {}, 0.0);
    few.alleleFreq = {0.0};
    deriveMinPts(few, 0);
    EXPECT_DOUBLE_EQ(few.minPts, 0.5);

    // Without neighbours count + 1 is 1, below the floor of 2.5.
    AnalysisState many = stateFromNeighbourPairs(250, {}, 0.0);
    deriveMinPts(many, 0);
    EXPECT_DOUBLE_EQ(many.minPts, 2.5);
}

TEST(DeriveMinPts, NeighboursAreStrictlyCloserThanEpsilonAndNeverNotANumber) {
    // 1-2 are neighbours; 0-1 sits on the radius and 0-2 is not a number. Counted
    // either way, the largest count would be 2 instead of 1.
    AnalysisState state = stateFromNeighbourPairs(6, {{1, 2}}, 0.0);
    state.haplotypeDistances[state.pairIndex(0, 1)] = state.epsilon;
    state.haplotypeDistances[state.pairIndex(0, 2)] = kNaN;
    state.minPtsQuantile = 0.9;
    deriveMinPts(state, 0);
    EXPECT_EQ(state.minPts, 2.0);
}

}  // namespace
}  // namespace orvane
