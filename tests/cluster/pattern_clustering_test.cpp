// The pattern-level clustering against the haplotype-by-haplotype procedure: two
// routes to one answer, compared on random windows.
#include "cluster/pattern_clustering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cluster/cluster_window.h"
#include "model/marker_statistics.h"
#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

struct Setting {
    int32_t type;
    double p[4];
    double epsilon;
    double fraction;
    double quantile;
};

void apply(const Setting& s, AnalysisState& state) {
    state.distanceType = s.type;
    for (int k = 0; k < 4; ++k) state.distanceParams[k] = s.p[k];
    state.epsilon = s.epsilon;
    state.epsilonFraction = s.fraction;
    state.minPtsQuantile = s.quantile;
}

// Haplotypes drawn from a few founders with sparse changes, so that windows hold
// repeated patterns, near neighbours, noise and borders.
AnalysisState randomState(std::mt19937& rng, int32_t n, int32_t m, int32_t window, int codes = 3) {
    std::uniform_int_distribution<int> founderPick(0, 3);
    std::uniform_int_distribution<int> code(1, codes);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<int32_t>> founders(4, std::vector<int32_t>(static_cast<size_t>(m)));
    for (auto& f : founders)
        for (auto& a : f) a = code(rng);
    std::vector<std::vector<int32_t>> rows;
    for (int32_t h = 0; h < n; ++h) {
        std::vector<int32_t> row = founders[static_cast<size_t>(founderPick(rng))];
        for (auto& a : row)
            if (unit(rng) < 0.08) a = code(rng);
        rows.push_back(row);
    }
    AnalysisState state = test::stateFromAlleles(rows);
    for (auto& gap : state.markerDistances) gap = 0.001 * (1 + code(rng));
    state.windowSize = window;
    return state;
}

// How often the random windows reach the rules that are easy to get wrong.
struct Seen {
    int severalClusters = 0;
    int sharedBorder = 0;
    int labelOnlyNoise = 0;
    int byMask = 0;
    int byFixedPoint = 0;
    int fromTallies = 0;
};

void compareRoutes(AnalysisState& state, const std::string& what, Seen& seen,
                   double maskRouteFrom = WindowClusterer::kMaskPairsPerMask, bool vectorised = true) {
    computeMarkerStatistics(state);
    computeLdMatrix(state);
    const RadiusRule rule = radiusRuleFor(state);
    WindowClusterer clusterer;
    clusterer.setMaskRouteFrom(maskRouteFrom);
    clusterer.setVectorised(vectorised);
    WindowClusters clusters;
    const PackedAlleles packed(state);
    for (int32_t centre = 0; centre < state.nMarkers; ++centre) {
        // Patterns grouped from packed keys at even centres, from the rows at odd ones.
        clusterer.cluster(state, rule, centre, clusters, centre % 2 == 0 ? &packed : nullptr);
        seen.byMask += clusterer.lastByMask();
        seen.byFixedPoint += clusterer.lastByFixedPoint();
        seen.fromTallies += clusterer.lastFromTallies();
        clusterWindow(state, centre);
        const std::string where = what + " centre " + std::to_string(centre);
        ASSERT_EQ(clusterer.epsilon(), state.epsilon) << where;
        ASSERT_EQ(clusterer.minPts(), state.minPts) << where;
        ASSERT_EQ(clusters.count(), static_cast<int32_t>(state.clusterMembers.size())) << where;
        seen.severalClusters += clusters.count() > 1;
        std::vector<int> memberships(static_cast<size_t>(state.nHaplotypes), 0);
        for (const int32_t h : clusters.members) ++memberships[static_cast<size_t>(h)];
        for (int32_t h = 0; h < state.nHaplotypes; ++h) {
            const int32_t label = state.haplotypes[static_cast<size_t>(h)].clusterLabel;
            seen.sharedBorder += memberships[static_cast<size_t>(h)] > 1;
            seen.labelOnlyNoise += label > 0 && memberships[static_cast<size_t>(h)] == 0;
        }
        int32_t c = 0;
        for (const auto& [id, members] : state.clusterMembers) {
            ASSERT_EQ(id, c + 1) << where;
            const std::vector<int32_t> expected(members.begin(), members.end());
            const std::vector<int32_t> got(clusters.members.begin() + clusters.begin(c),
                                           clusters.members.begin() + clusters.end(c));
            ASSERT_EQ(got, expected) << where << " cluster " << id;
            int32_t cores = 0;
            for (int32_t k = clusters.begin(c); k < clusters.end(c); ++k) {
                const int32_t h = clusters.members[static_cast<size_t>(k)];
                const bool core = state.haplotypes[static_cast<size_t>(h)].isCore;
                ASSERT_EQ(clusters.memberCore[static_cast<size_t>(k)] != 0, core) << where;
                cores += core;
            }
            ASSERT_EQ(clusters.nCore[static_cast<size_t>(c)], cores) << where;
            ++c;
        }
    }
}

TEST(PatternClustering, SameClustersAsTheHaplotypeProcedure) {
    const Setting settings[] = {
        {1, {-30, 1, 0, 0}, 0.2, 0.3, 0.5},  {1, {-30, 1, 0, 0}, 0.2, 0.1, 0.0},
        {2, {-20, 1, 0, 0}, 0.25, 0, 0.3},   {4, {-10, 1, -40, 2}, 0.2, 0.5, 0.9},
        {5, {-5, 1, -9, 0.5}, 0.2, 0.2, 0.2}, {6, {1, 1, 0, 0}, 0.45, 0, 0.6},
        {6, {1, 0, 0, 0}, 0.2, 0.05, 0.1},    {0, {0, 0, 0, 0}, 0.3, 0.4, 0.5},
        {3, {1, 0, 0, 0}, 0.2, 0.3, 0.5},     {3, {2, 0, 0, 0}, 0.2, 0.3, 0.5},
        {3, {3, 0, 0, 0}, 0.0, 0, 0.0},       {3, {3, 0, 0, 0}, 0.2, 0.25, 0.7},
        {1, {-30, 1, 0, 0}, 0.0, 0, 0.0},     {1, {-30, 1, 0, 0}, 0.2, 2.0, 0.5},
        {6, {1, 1, 0, 0}, 0.7, 0, 0.95},      {1, {-30, 1, 0, 0}, 0.2, 0.9, 1.5},
    };
    std::mt19937 rng(12345);
    Seen seen;
    int round = 0;
    for (const Setting& s : settings) {
        for (int repeat = 0; repeat < 25; ++repeat, ++round) {
            const int32_t n = 5 + static_cast<int32_t>(rng() % 40);
            const int32_t m = 1 + static_cast<int32_t>(rng() % 9);
            const int32_t window = 1 + static_cast<int32_t>(rng() % m);
            AnalysisState state = randomState(rng, n, m, window);
            apply(s, state);
            compareRoutes(state, "round " + std::to_string(round) + " type " + std::to_string(s.type),
                          seen);
        }
    }
    EXPECT_GT(seen.severalClusters, 0);
    EXPECT_GT(seen.sharedBorder, 0);
    EXPECT_GT(seen.labelOnlyNoise, 0);
}

// Every window by the mask route when its markers carry two codes (and by the
// pair route when a third code or the LD-weighted measure rules it out).
TEST(PatternClustering, MaskRouteGivesTheSameClusters) {
    const Setting settings[] = {
        {1, {-30, 1, 0, 0}, 0.2, 0.3, 0.5},  {1, {-30, 1, 0, 0}, 0.2, 0.1, 0.0},
        {2, {-20, 1, 0, 0}, 0.25, 0, 0.3},   {4, {-10, 1, -40, 2}, 0.2, 0.5, 0.9},
        {5, {-5, 1, -9, 0.5}, 0.2, 0.2, 0.2}, {6, {1, 1, 0, 0}, 0.45, 0, 0.6},
        {0, {0, 0, 0, 0}, 0.3, 0.4, 0.5},    {3, {3, 0, 0, 0}, 0.2, 0.25, 0.7},
        {1, {-30, 1, 0, 0}, 0.0, 0, 0.0},    {1, {-30, 1, 0, 0}, 0.2, 2.0, 0.5},
        {1, {-30, 1, 0, 0}, 0.2, 0.9, 1.5},
    };
    std::mt19937 rng(4242);
    Seen seen;
    int round = 0;
    for (const Setting& s : settings) {
        for (int repeat = 0; repeat < 20; ++repeat, ++round) {
            const int32_t n = 5 + static_cast<int32_t>(rng() % 60);
            const int32_t m = 1 + static_cast<int32_t>(rng() % 12);
            const int32_t window = 1 + static_cast<int32_t>(rng() % m);
            AnalysisState state = randomState(rng, n, m, window, repeat % 5 == 4 ? 3 : 2);
            apply(s, state);
            compareRoutes(state, "mask round " + std::to_string(round), seen, 0.0);
        }
    }
    EXPECT_GT(seen.severalClusters, 0);
    EXPECT_GT(seen.sharedBorder, 0);
    EXPECT_GT(seen.byMask, round);
}

// Windows of many patterns are screened by estimates; with two codes a marker
// the estimate is in fixed point, and a pair near a decision edge is walked.
TEST(PatternClustering, ScreenedWindowsGiveTheSameClusters) {
    const Setting settings[] = {
        {1, {-30, 1, 0, 0}, 0.2, 0.3, 0.5}, {1, {-300, 1, 0, 0}, 0.2, 0.05, 0.2},
        {2, {-20, 1, 0, 0}, 0.25, 0, 0.3},  {4, {-10, 1, -40, 2}, 0.2, 0.5, 0.9},
        {6, {1, 1, 0, 0}, 0.45, 0, 0.6},    {6, {1, 0, 0, 0}, 0.2, 0.3, 0.5},
        {0, {0, 0, 0, 0}, 0.3, 0.4, 0.5},   {3, {3, 0, 0, 0}, 0.2, 0.25, 0.7},
    };
    std::mt19937 rng(777);
    Seen seen;
    int round = 0;
    for (const Setting& s : settings) {
        for (int repeat = 0; repeat < 4; ++repeat, ++round) {
            const int32_t n = 150 + static_cast<int32_t>(rng() % 150);
            const int32_t m = 8 + static_cast<int32_t>(rng() % 20);
            // Two codes a marker (fixed point), three (the double estimate), and
            // up to twenty (beyond what the estimates number: every pair walked).
            const int codes[] = {2, 2, 3, 20};
            AnalysisState state = randomState(rng, n, m, std::min<int32_t>(m, 21), codes[repeat]);
            apply(s, state);
            // The vector kernels where the processor has them, and the plain loops.
            compareRoutes(state, "screened round " + std::to_string(round), seen,
                          WindowClusterer::kMaskPairsPerMask, round % 2 == 0);
        }
    }
    EXPECT_GT(seen.byFixedPoint, 0);
    // Radii among the candidates of the row tallies, and radii beyond them that
    // took a second pass over the pairs.
    EXPECT_GT(seen.fromTallies, 0);
    EXPECT_GT(seen.byFixedPoint, seen.fromTallies);
    EXPECT_GT(seen.severalClusters, 0);
}

TEST(PatternClustering, RadiusRuleIsFixedWhenTheFractionAsksTooMuch) {
    AnalysisState state = test::stateFromAlleles({{1}, {1}, {2}});
    state.epsilon = 0.35;
    state.epsilonFraction = 0.0;
    EXPECT_FALSE(radiusRuleFor(state).derived);
    EXPECT_EQ(radiusRuleFor(state).fixed, 0.35);
    state.epsilonFraction = 1.0;  // target 3 of 3 pairs: reached
    EXPECT_TRUE(radiusRuleFor(state).derived);
    state.epsilonFraction = 1.5;  // target 4 of 3 pairs: never reached
    EXPECT_FALSE(radiusRuleFor(state).derived);
}

}  // namespace
}  // namespace orvane
