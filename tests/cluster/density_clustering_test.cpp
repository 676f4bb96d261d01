#include "cluster/density_clustering.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

using test::stateFromDistances;
using test::stateFromNeighbourPairs;

std::vector<int32_t> labels(const AnalysisState& state) {
    std::vector<int32_t> out;
    for (const HaplotypeRecord& r : state.haplotypes) out.push_back(r.clusterLabel);
    return out;
}

std::vector<bool> cores(const AnalysisState& state) {
    std::vector<bool> out;
    for (const HaplotypeRecord& r : state.haplotypes) out.push_back(r.isCore);
    return out;
}

AnalysisState clustered(int32_t n, const std::vector<std::pair<int32_t, int32_t>>& pairs,
                        double minPts) {
    AnalysisState state = stateFromNeighbourPairs(n, pairs, minPts);
    resetClusters(state);
    clusterHaplotypes(state);
    return state;
}

TEST(FindNeighbours, StrictlyInsideTheRadiusInAscendingOrder) {
    // Storage order: (0,1) (0,2) (0,3) (1,2) (1,3) (2,3).
    AnalysisState state = stateFromDistances(4, {0.2, 0.1, 0.0, 0.2, 0.9, 0.05});
    state.epsilon = 0.2;
    EXPECT_EQ(findNeighbours(state, 2), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(findNeighbours(state, 0), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(findNeighbours(state, 3), (std::vector<int32_t>{0, 2}));
    EXPECT_TRUE(findNeighbours(state, 1).empty());
}

TEST(ClusterHaplotypes, BorderHaplotypeSharedByTwoClusters) {
    const AnalysisState state =
        clustered(7, {{0, 1}, {0, 2}, {0, 3}, {3, 4}, {4, 5}, {4, 6}}, 4.0);
    const ClusterMembers expected = {{1, {0, 1, 2, 3}}, {2, {3, 4, 5, 6}}};
    EXPECT_EQ(state.clusterMembers, expected);
    EXPECT_EQ(labels(state), (std::vector<int32_t>{1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(cores(state), (std::vector<bool>{true, false, false, false, true, false, false}));
}

TEST(ClusterHaplotypes, NoiseReachedFromTheQueueTakesTheLabelOnly) {
    const AnalysisState state = clustered(5, {{0, 3}, {1, 2}, {1, 4}, {2, 3}}, 3.0);
    const ClusterMembers expected = {{1, {1, 2, 3, 4}}};
    EXPECT_EQ(state.clusterMembers, expected);
    EXPECT_EQ(labels(state), (std::vector<int32_t>{1, 1, 1, 1, 1}));
    EXPECT_EQ(cores(state), (std::vector<bool>{false, true, true, true, false}));
}

TEST(ClusterHaplotypes, NoiseNextToAStartJoinsFully) {
    // 0 has one neighbour and is noise; 1 starts cluster 1 and takes 0 in.
    const AnalysisState state = clustered(4, {{0, 1}, {1, 2}}, 3.0);
    const ClusterMembers expected = {{1, {0, 1, 2}}};
    EXPECT_EQ(state.clusterMembers, expected);
    EXPECT_EQ(labels(state), (std::vector<int32_t>{1, 1, 1, -1}));
}

TEST(ClusterHaplotypes, ChainOfCores) {
    const AnalysisState state = clustered(3, {{0, 1}, {1, 2}}, 2.0);
    const ClusterMembers expected = {{1, {0, 1, 2}}};
    EXPECT_EQ(state.clusterMembers, expected);
    EXPECT_EQ(cores(state), (std::vector<bool>{true, true, true}));
}

TEST(ClusterHaplotypes, EveryoneCoreGivesConnectedGroupsInStartOrder) {
    const AnalysisState state = clustered(6, {{0, 2}, {3, 4}}, 1.0);
    const ClusterMembers expected = {{1, {0, 2}}, {2, {1}}, {3, {3, 4}}, {4, {5}}};
    EXPECT_EQ(state.clusterMembers, expected);
    EXPECT_EQ(labels(state), (std::vector<int32_t>{1, 2, 1, 3, 3, 4}));
}

TEST(ClusterHaplotypes, ZeroRadiusLeavesNoNeighbour) {
    AnalysisState state = stateFromNeighbourPairs(3, {{0, 1}, {0, 2}, {1, 2}}, 1.0);
    state.epsilon = 0.0;  // even distance 0 is not below it
    resetClusters(state);
    clusterHaplotypes(state);
    const ClusterMembers singletons = {{1, {0}}, {2, {1}}, {3, {2}}};
    EXPECT_EQ(state.clusterMembers, singletons);

    state.minPts = 1.5;
    resetClusters(state);
    clusterHaplotypes(state);
    EXPECT_TRUE(state.clusterMembers.empty());
    EXPECT_EQ(labels(state), (std::vector<int32_t>{-1, -1, -1}));
}

TEST(ExpandCluster, CoreNeedsNeighboursPlusItselfToReachMinPts) {
    struct Case {
        double minPts;
        int expected;
    };
    // Haplotype 0 has two neighbours.
    const Case cases[] = {{3.0, 0}, {2.5, 0}, {3.0000001, -1}, {4.0, -1}};
    for (const Case& c : cases) {
        AnalysisState state = stateFromNeighbourPairs(3, {{0, 1}, {0, 2}}, c.minPts);
        resetClusters(state);
        EXPECT_EQ(expandCluster(state, 0, 1), c.expected) << c.minPts;
        EXPECT_EQ(state.haplotypes[0].clusterLabel, c.expected == 0 ? 1 : -1);
        EXPECT_EQ(state.clusterMembers.size(), c.expected == 0 ? 1u : 0u);
    }
}

TEST(ResetClusters, ClearsLabelsCoresAndMembers) {
    AnalysisState state = clustered(3, {{0, 1}, {1, 2}}, 2.0);
    ASSERT_FALSE(state.clusterMembers.empty());
    resetClusters(state);
    EXPECT_TRUE(state.clusterMembers.empty());
    EXPECT_EQ(labels(state), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(cores(state), (std::vector<bool>{false, false, false}));
}

}  // namespace
}  // namespace orvane
