#include "cluster/window_distances.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

using test::stateFromAlleles;

uint64_t bitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

AnalysisState typeSixState(const std::vector<std::vector<int32_t>>& rows, double match,
                           double run) {
    AnalysisState state = stateFromAlleles(rows);
    state.distanceType = 6;
    state.distanceParams[0] = match;
    state.distanceParams[1] = run;
    return state;
}

TEST(PlaceWindow, CentresWhereTheMapAllows) {
    struct Case {
        int32_t nMarkers, windowSize, centre, start;
    };
    const Case cases[] = {
        {10, 5, 0, 0}, {10, 5, 2, 0}, {10, 5, 3, 1}, {10, 5, 6, 4}, {10, 5, 7, 5},
        {10, 5, 9, 5}, {10, 4, 5, 3}, {10, 4, 9, 6}, {10, 10, 7, 0}, {10, 1, 4, 4},
    };
    for (const Case& c : cases) {
        AnalysisState state;
        state.nMarkers = c.nMarkers;
        state.windowSize = c.windowSize;
        placeWindow(state, c.centre);
        EXPECT_EQ(state.windowStart, c.start)
            << "size " << c.windowSize << " centre " << c.centre;
    }
}

TEST(MapDistance, SumsGapsUpwardFromTheLowerMarker) {
    AnalysisState state = stateFromAlleles({{1, 1, 1, 1}});
    state.markerDistances = {0.1, 0.2, 0.3};
    // The two summation orders round differently; only the upward one is right.
    EXPECT_EQ(mapDistance(state, 3, 0), (0.1 + 0.2) + 0.3);
    EXPECT_NE(mapDistance(state, 3, 0), 0.1 + (0.2 + 0.3));
    EXPECT_EQ(mapDistance(state, 0, 3), mapDistance(state, 3, 0));
    EXPECT_EQ(mapDistance(state, 2, 2), 0.0);
}

TEST(Weights, FollowTheDistanceType) {
    AnalysisState state = stateFromAlleles({{1, 1, 1}});
    state.markerDistances = {0.5, 0.25};  // g(0, 2) = 0.75
    const double p[4] = {-2.0, 3.0, -0.5, 2.0};
    std::memcpy(state.distanceParams, p, sizeof p);
    struct Case {
        int32_t type;
        double match, run;
    };
    const Case cases[] = {
        {1, 3.0 * std::exp(-1.5), 3.0 * std::exp(-1.5)},
        {2, 1.5, 1.5},
        {4, 3.0 * std::exp(-1.5), 2.0 * std::exp(-0.375)},
        {5, 1.5, 1.625},
        {6, -2.0, 3.0},
        {0, 0.75, 0.75},
        {7, 0.75, 0.75},
    };
    for (const Case& c : cases) {
        state.distanceType = c.type;
        EXPECT_DOUBLE_EQ(matchWeight(state, 0, 2), c.match) << "type " << c.type;
        EXPECT_DOUBLE_EQ(runWeight(state, 0, 2), c.run) << "type " << c.type;
        EXPECT_EQ(matchWeight(state, 1, 1), 1.0);
        EXPECT_EQ(runWeight(state, 1, 1), 1.0);
    }
}

TEST(Weights, LinearTypesGiveFarMarkersNoWeight) {
    AnalysisState state = stateFromAlleles({{1, 1, 1, 1, 1}, {1, 1, 1, 1, 2}});
    state.markerDistances = {0.25, 0.25, 0.25, 0.25};
    state.distanceType = 2;
    state.distanceParams[0] = -1.0;
    state.distanceParams[1] = 0.375;
    EXPECT_DOUBLE_EQ(matchWeight(state, 0, 1), 0.125);
    EXPECT_EQ(matchWeight(state, 0, 2), 0.0);
    EXPECT_EQ(runWeight(state, 2, 4), 0.0);
    // The only disagreement sits where the weight is 0.
    placeWindow(state, 2);
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 2), 0.0);
}

TEST(HaplotypeDistance, TypeSixWorkedExample) {
    // Agree at the centre and its left neighbour, disagree right: T = 5, S = 3.
    AnalysisState state = typeSixState({{1, 1, 1}, {1, 1, 2}}, 1.0, 1.0);
    placeWindow(state, 1);
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 1), 0.4);
}

TEST(HaplotypeDistance, SharedRunStopsAtTheFirstDisagreementOnEachSide) {
    // match weight 1, run weight 10 over a window of 5 centred on marker 2: T = 45.
    AnalysisState state = typeSixState(
        {{1, 1, 1, 1, 1}, {1, 1, 1, 2, 1}, {1, 1, 2, 1, 1}, {2, 2, 2, 2, 2}}, 1.0, 10.0);
    placeWindow(state, 2);
    // Right: marker 3 breaks the run, marker 4 earns its match only; left earns both.
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 2), (45.0 - 24.0) / 45.0);
    // Disagreement at the centre: the matches alone, (1 + sum of run weights) / T.
    EXPECT_EQ(haplotypeDistance(state, 0, 2, 2), (45.0 - 4.0) / 45.0);
    EXPECT_EQ(haplotypeDistance(state, 0, 0, 2), 0.0);
    EXPECT_EQ(haplotypeDistance(state, 0, 3, 2), 1.0);
}

TEST(HaplotypeDistance, RightSideSummedBeforeLeft) {
    // Plain map-distance weights; these gaps make the left-first total round differently.
    AnalysisState state = stateFromAlleles({{1, 1, 1}, {1, 1, 2}});
    state.markerDistances = {0.3, 0.37};
    state.distanceType = 7;
    placeWindow(state, 1);
    const double t = 1.0 + 0.37 + 0.37 + 0.3 + 0.3;
    const double s = 1.0 + 0.3 + 0.3;
    EXPECT_NE((t - s) / t, ((1.0 + 0.3 + 0.3 + 0.37 + 0.37) - s) / (1.0 + 0.3 + 0.3 + 0.37 + 0.37));
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 1), (t - s) / t);
    computeWindowDistances(state, 1);
    EXPECT_EQ(state.distance(0, 1), (t - s) / t);
}

TEST(HaplotypeDistance, WalksOnlyInsideTheMapAtItsEnds) {
    AnalysisState state = typeSixState({{1, 1, 1, 2}, {1, 1, 2, 1}}, 1.0, 1.0);
    state.windowSize = 3;
    placeWindow(state, 0);  // markers 0..2, all to the right
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 0), (5.0 - 3.0) / 5.0);
    placeWindow(state, 3);  // markers 1..3, all to the left
    EXPECT_EQ(haplotypeDistance(state, 0, 1, 3), (5.0 - 1.0) / 5.0);
}

// Three markers, centre 1, |D'| 0.5 with the left and 0.25 with the right marker.
AnalysisState ldState(double p1, double leftLd, double rightLd) {
    AnalysisState state = stateFromAlleles({{1, 1, 1}, {1, 1, 2}, {1, 2, 1}, {2, 1, 2}});
    state.distanceType = 3;
    state.distanceParams[0] = p1;
    state.ldBandWidth = 3;
    state.ldMatrix.assign(9, 0.0);
    state.ldMatrix[state.bandIndex(0, 1)] = leftLd;
    state.ldMatrix[state.bandIndex(1, 2)] = rightLd;
    placeWindow(state, 1);
    return state;
}

TEST(LdWeightedDistance, VariantsOfTheWorkedWindow) {
    // Haplotypes 0 and 1 agree at the centre and on the left: T 1.75, S 1.5, Y 0.75,
    // X 0.5. Haplotypes 0 and 2 agree everywhere but the centre: S 0.75, X 0.
    struct Case {
        double p1, agreeingPair, centreMismatch;
    };
    const Case cases[] = {
        {1.0, 0.25 / 1.75, 1.0 / 1.75},
        {2.0, 0.25 / 0.75, 1.0},
        {3.0, 0.5 / 2.5, 1.75 / 2.5},
    };
    for (const Case& c : cases) {
        AnalysisState state = ldState(c.p1, 0.5, 0.25);
        EXPECT_DOUBLE_EQ(distance_Ham_MIL_WeightedLD(state, 0, 1, 1), c.agreeingPair) << c.p1;
        EXPECT_DOUBLE_EQ(distance_Ham_MIL_WeightedLD(state, 0, 2, 1), c.centreMismatch) << c.p1;
        EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 0, 1), 0.0);
    }
}

TEST(LdWeightedDistance, SumsInWalkOrderCombinedLeftToRight) {
    // Right side first, then left; (T + Y - S - X) evaluated left to right. These
    // weights make every other order round differently.
    AnalysisState state = ldState(3.0, 0.35, 0.45);
    const double t = (1.0 + 0.45) + 0.35;
    const double y = (0.0 + 0.45) + 0.35;
    const double s = 1.0 + 0.35;
    const double x = 0.35;
    const double expected = (t + y - s - x) / (t + y);
    EXPECT_NE(expected, (t + y - (s + x)) / (t + y));
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 1, 1), expected);
    computeWindowDistancesLD(state, 1);
    EXPECT_EQ(state.distance(0, 1), expected);
}

TEST(LdWeightedDistance, RunPartWithoutLdComparesTheCentreOnly) {
    AnalysisState state = ldState(2.0, 0.0, 0.0);
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 1, 1), 0.0);  // agree at centre
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 2, 1), 1.0);  // disagree at centre
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 3, 1), 0.0);  // only the centre agrees
    computeWindowDistancesLD(state, 1);
    EXPECT_EQ(state.distance(0, 1), 0.0);
    EXPECT_EQ(state.distance(0, 2), 1.0);

    state.windowSize = 1;  // a one-marker window has no weight either
    placeWindow(state, 1);
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 1, 1), 0.0);
    EXPECT_EQ(distance_Ham_MIL_WeightedLD(state, 0, 2, 1), 1.0);
}

TEST(LdWeightedDistance, WrongTypeComplainsAndGivesZero) {
    AnalysisState state = ldState(1.0, 0.5, 0.25);
    state.distanceType = 1;
    testing::internal::CaptureStdout();
    const double d = distance_Ham_MIL_WeightedLD(state, 0, 3, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in distance_Ham_MIL_WeightedLD");
    EXPECT_EQ(d, 0.0);
}

// The fills take each marker's weights once per centre; every stored distance must
// have the bits of the per-pair functions, for every type, variant and window.
TEST(WindowFill, MatchesPerPairDistancesBitForBit) {
    const int32_t nMarkers = 15;
    const int32_t n = 12;
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<int32_t>> rows;
    std::vector<int32_t> base(nMarkers);
    for (int32_t& a : base) a = 1 + static_cast<int32_t>(rng() % 2u);
    for (int32_t h = 0; h < n; ++h) {
        std::vector<int32_t> row = base;
        for (int32_t& a : row) {
            if (unit(rng) < 0.2) a = 3 - a;  // mostly shared, so runs are long
        }
        rows.push_back(row);
    }

    struct Setting {
        int32_t type;
        double p[4];
    };
    const Setting settings[] = {
        {1, {-25.0, 1.0, 0.0, 0.0}}, {2, {-10.0, 0.3, 0.0, 0.0}}, {4, {-25.0, 1.0, -5.0, 2.0}},
        {5, {-10.0, 0.3, -3.0, 0.5}}, {6, {0.7, 1.3, 0.0, 0.0}},  {0, {0.0, 0.0, 0.0, 0.0}},
        {7, {0.0, 0.0, 0.0, 0.0}},    {3, {1.0, 0.0, 0.0, 0.0}},  {3, {2.0, 0.0, 0.0, 0.0}},
        {3, {3.0, 0.0, 0.0, 0.0}},
    };
    for (const int32_t windowSize : {1, 6, 7, nMarkers}) {
        AnalysisState state = stateFromAlleles(rows);
        state.windowSize = windowSize;
        for (double& g : state.markerDistances) g = unit(rng) * 0.07;
        state.ldBandWidth = windowSize;
        state.ldMatrix.assign(static_cast<size_t>(nMarkers * windowSize), 0.0);
        for (double& ld : state.ldMatrix) ld = unit(rng) < 0.2 ? 0.0 : unit(rng);
        for (const Setting& s : settings) {
            state.distanceType = s.type;
            std::memcpy(state.distanceParams, s.p, sizeof s.p);
            for (int32_t centre = 0; centre < nMarkers; ++centre) {
                placeWindow(state, centre);
                if (s.type == 3) {
                    computeWindowDistancesLD(state, centre);
                } else {
                    computeWindowDistances(state, centre);
                }
                ASSERT_EQ(state.haplotypeDistances.size(), static_cast<size_t>(n * (n - 1) / 2));
                for (int32_t i = 0; i < n; ++i) {
                    for (int32_t j = i + 1; j < n; ++j) {
                        const double single = s.type == 3
                                                  ? distance_Ham_MIL_WeightedLD(state, i, j, centre)
                                                  : haplotypeDistance(state, i, j, centre);
                        ASSERT_EQ(bitsOf(state.distance(i, j)), bitsOf(single))
                            << "type " << s.type << " p1 " << s.p[0] << " window " << windowSize
                            << " centre " << centre << " pair " << i << "," << j;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace orvane
