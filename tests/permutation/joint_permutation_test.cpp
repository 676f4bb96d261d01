// The joint (max-T) permutation test: hand-worked shuffles, its invariances,
// the omnibus p-value, and the fast scorers against the scan's own formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "model/text_output.h"
#include "permutation/joint_permutation.h"
#include "permutation/permutation_test.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {
namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

// Records with `markers` markers of allele 2 (set carriers with setCarrier).
AnalysisState makeState(int32_t n, int32_t markers, bool trait) {
    AnalysisState state;
    state.qtlMode = trait ? 1 : 0;
    state.nHaplotypes = n;
    state.nMarkers = markers;
    state.windowSize = 1;
    state.haplotypes.resize(static_cast<size_t>(n));
    state.alleles.assign(static_cast<size_t>(n) * static_cast<size_t>(markers), 2);
    return state;
}

void setStatuses(AnalysisState& state, const std::vector<int32_t>& status) {
    state.nAffected = 0;
    for (size_t h = 0; h < status.size(); ++h) {
        state.haplotypes[h].status = status[h];
        state.nAffected += status[h];
    }
    state.nUnaffected = state.nHaplotypes - state.nAffected;
}

void setTraits(AnalysisState& state, const std::vector<double>& traits) {
    for (size_t h = 0; h < traits.size(); ++h) state.haplotypes[h].trait = traits[h];
    prepareTraitStatistics(state);
}

WindowClusters clustersOf(const std::vector<std::vector<int32_t>>& memberLists) {
    WindowClusters window;
    for (const std::vector<int32_t>& members : memberLists) {
        window.members.insert(window.members.end(), members.begin(), members.end());
        window.memberCore.resize(window.members.size(), 0);
        window.offsets.push_back(static_cast<int32_t>(window.members.size()));
        window.nCore.push_back(0);
    }
    return window;
}

// The scan's own value of each statistic at marker m under the state's labels.
std::vector<double> scanValues(const AnalysisState& state, const WindowClusters& window, int32_t m) {
    if (state.qtlMode) {
        double best = kNoClusterTraitScore;
        for (int32_t c = 0; c < window.count(); ++c) {
            double mean = 0.0, variance = 0.0;
            best = std::max(best, windowClusterT(state, window, c, mean, variance));
        }
        const TraitTests tests = singleMarkerTraitTests(state, m);
        return {best, tests.t, tests.z};
    }
    CaseControlBest best;
    for (int32_t c = 0; c < window.count(); ++c) best.offer(windowClusterChiSquare(state, window, c, false));
    return {best.score, singleMarkerChiSquare(state, m)};
}

// The maxima over markers of the scan's values, skipping what is not a number.
std::vector<double> regionalMaxima(const AnalysisState& state, const std::vector<WindowClusters>& clusters) {
    std::vector<double> best;
    for (int32_t m = 0; m < state.nMarkers; ++m) {
        const std::vector<double> values = scanValues(state, clusters[static_cast<size_t>(m)], m);
        best.resize(values.size(), kMinusInfinity);
        for (size_t s = 0; s < values.size(); ++s) {
            if (values[s] > best[s]) best[s] = values[s];
        }
    }
    return best;
}

TEST(JointPermutation, CaseControlHandWorkedShuffles) {
    AnalysisState state = makeState(4, 1, false);
    setStatuses(state, {1, 1, 0, 0});
    const std::vector<WindowClusters> clusters = {clustersOf({{0, 1}})};
    const double observed = scanValues(state, clusters[0], 0)[kCaseControlCluster];
    EXPECT_EQ(observed, 2.0);
    const JointMaxima maxima =
        jointMaximaOfLabels(state, clusters, {{1, 0, 1, 0}, {0, 1, 1, 0}, {1, 0, 1, 0}, {1, 1, 0, 0}});
    EXPECT_EQ(maxima.byStatistic[kCaseControlCluster], (std::vector<double>{0, 0, 0, 2}));
    EXPECT_EQ(jointPValue(maxima.byStatistic[kCaseControlCluster], observed), 0.4);
}

TEST(JointPermutation, TraitHandWorkedShuffles) {
    // Carriers: records 0 and 1 (traits 1 and 2); one cluster, records 2 and 3.
    AnalysisState state = makeState(4, 1, true);
    state.alleles = {1, 1, 2, 2};
    setTraits(state, {1, 2, 3, 4});
    const std::vector<WindowClusters> clusters = {clustersOf({{2, 3}})};
    const std::vector<double> observed = scanValues(state, clusters[0], 0);
    EXPECT_EQ(formatReal(observed[kTraitT]), "-2.82843");
    EXPECT_EQ(formatReal(observed[kTraitZ]), "-1.54919");
    const JointMaxima maxima = jointMaximaOfLabels(state, clusters, {{1, 3, 2, 4}, {3, 1, 2, 4}, {2, 3, 1, 4}});
    EXPECT_EQ(jointPValue(maxima.byStatistic[kTraitCluster], observed[kTraitCluster]), 0.25);
    EXPECT_EQ(jointPValue(maxima.byStatistic[kTraitT], observed[kTraitT]), 1.0);
    EXPECT_EQ(jointPValue(maxima.byStatistic[kTraitZ], observed[kTraitZ]), 1.0);
}

TEST(JointPermutation, GivenTraitLabelsMustRearrangeTheValues) {
    AnalysisState state = makeState(4, 1, true);
    state.alleles = {1, 1, 2, 2};
    setTraits(state, {1, 2, 2, 4});
    const std::vector<WindowClusters> clusters(1);
    // Equal values may stand in any order; a value taken twice too often, or
    // one not in the data, is no rearrangement.
    EXPECT_NO_THROW(jointMaximaOfLabels(state, clusters, {{2, 4, 1, 2}}));
    EXPECT_THROW(jointMaximaOfLabels(state, clusters, {{2, 2, 2, 4}}), std::invalid_argument);
    EXPECT_THROW(jointMaximaOfLabels(state, clusters, {{1, 2, 3, 4}}), std::invalid_argument);
}

// A trait state of n records whose first marker no record carries.
AnalysisState withMonomorphicFirstMarker(int32_t n, int32_t markers) {
    AnalysisState state = makeState(n, markers, true);
    std::vector<double> traits;
    for (int32_t h = 0; h < n; ++h) traits.push_back((h * 37 % 101) / 10.0);
    setTraits(state, traits);
    for (int32_t h = 0; h < n; ++h) {
        for (int32_t m = 1; m < markers; ++m) state.allele(h, m) = (h * (m + 3)) % 7 < 3 ? 1 : 2;
    }
    state.nPermutations = 30;
    return state;
}

TEST(JointPermutation, MonomorphicFirstMarkerIsSkippedNotFatal) {
    // Its T and Z are not numbers under every shuffle: the maxima come from the
    // other markers, exactly as without it, so no p-value can drop to 0.
    AnalysisState state = withMonomorphicFirstMarker(40, 3);
    AnalysisState without = makeState(40, 2, true);
    without.haplotypes = state.haplotypes;
    prepareTraitStatistics(without);
    for (int32_t h = 0; h < 40; ++h) {
        for (int32_t m = 1; m < 3; ++m) without.allele(h, m - 1) = state.allele(h, m);
    }
    without.nPermutations = state.nPermutations;
    EXPECT_TRUE(std::isnan(singleMarkerTraitTests(state, 0).t));
    const JointMaxima withIt = jointPermutationMaxima(state, std::vector<WindowClusters>(3));
    const JointMaxima alone = jointPermutationMaxima(without, std::vector<WindowClusters>(2));
    for (const int s : {kTraitT, kTraitZ}) {
        EXPECT_EQ(withIt.byStatistic[static_cast<size_t>(s)], alone.byStatistic[static_cast<size_t>(s)]);
        for (const double value : withIt.byStatistic[static_cast<size_t>(s)]) EXPECT_TRUE(std::isfinite(value));
    }
}

TEST(JointPermutation, DuplicatedMarkerLeavesThePValueAlone) {
    std::vector<double> p[2];
    for (const int copies : {1, 8}) {
        AnalysisState state = makeState(60, copies, true);
        std::vector<double> traits;
        for (int32_t h = 0; h < 60; ++h) traits.push_back(std::sin(h * 1.7) + (h % 4 == 0 ? 0.8 : 0.0));
        setTraits(state, traits);
        for (int32_t h = 0; h < 60; ++h) {
            for (int32_t m = 0; m < copies; ++m) state.allele(h, m) = h % 4 == 0 || h % 7 == 0 ? 1 : 2;
        }
        state.nPermutations = 200;
        const TraitTests observed = singleMarkerTraitTests(state, 0);
        const JointMaxima maxima = jointPermutationMaxima(state, std::vector<WindowClusters>(static_cast<size_t>(copies)));
        p[copies == 8].push_back(jointPValue(maxima.byStatistic[kTraitT], observed.t));
        p[copies == 8].push_back(jointPValue(maxima.byStatistic[kTraitZ], observed.z));
    }
    EXPECT_EQ(p[0], p[1]);
    EXPECT_LT(p[0][0], 0.5);  // the data hold a real effect, so the copies had something to inflate
}

TEST(JointPermutation, OmnibusPValueOnHandWorkedTables) {
    // A: observed 5 tied with replicate 2; its draws' p: 3/4, 1, 3/4, 1/4.
    // B: draws' p 2/4, 1/4, 1, 3/4. Smallest per draw: 1/2 (observed), 1/4,
    // 3/4, 1/4: two replicates at most 1/2, p = (1 + 2) / 4.
    const std::vector<double> a = {1, 5, 7};
    const std::vector<double> b = {3, 0, 1};
    const std::vector<double> never = {kMinusInfinity, kMinusInfinity, kMinusInfinity};
    const struct {
        std::vector<std::vector<double>> replicates;
        std::vector<double> observed;
        double p;
    } tables[] = {
        {{a, b}, {5, 2}, 0.75},
        // A statistic no marker gave a number for, in any draw, changes nothing.
        {{a, b, never}, {5, 2, kMinusInfinity}, 0.75},
        {{never}, {kMinusInfinity}, 1.0},
        // The observed value alone at the top.
        {{a}, {9}, 0.25},
        {{b}, {-1}, 1.0},
    };
    for (const auto& table : tables) {
        JointMaxima maxima;
        maxima.byStatistic = table.replicates;
        EXPECT_EQ(omnibusPValue(maxima, table.observed), table.p) << table.replicates.size() << " statistics";
    }
}

// A generated region: random alleles (one column repeated, one monomorphic,
// one carried by all records but the first),
// clusters small and large, some repeated at the next marker.
struct Region {
    AnalysisState state;
    std::vector<WindowClusters> clusters;
};

Region makeRegion(int32_t n, int32_t markers, bool trait, bool ties, uint32_t seed) {
    std::mt19937 rng(seed);
    Region region{makeState(n, markers, trait), {}};
    AnalysisState& state = region.state;
    for (int32_t h = 0; h < n; ++h) {
        for (int32_t m = 0; m < markers; ++m) {
            const int32_t source = m == 3 ? 2 : m;  // marker 3 repeats marker 2
            state.allele(h, m) = m == 1 ? 2 : ((h * 7 + source * 13 + static_cast<int32_t>(rng() % 5)) % 3 == 0 ? 1 : 2);
        }
        if (h > 0) state.allele(h, 3) = state.allele(h, 2);
        state.allele(h, 4) = h == 0 ? 2 : 1;
    }
    state.allele(0, 3) = state.allele(0, 2);
    if (trait) {
        std::vector<double> traits;
        for (int32_t h = 0; h < n; ++h) traits.push_back(ties ? static_cast<double>(rng() % 3) : (rng() % 1000003) / 17.0);
        setTraits(state, traits);
    } else {
        std::vector<int32_t> status;
        for (int32_t h = 0; h < n; ++h) status.push_back(rng() % 3 == 0);
        setStatuses(state, status);
    }
    for (int32_t m = 0; m < markers; ++m) {
        if (m % 4 == 1 && m > 0) {
            region.clusters.push_back(region.clusters.back());
            continue;
        }
        std::vector<std::vector<int32_t>> lists(rng() % 4);
        for (std::vector<int32_t>& members : lists) {
            const uint32_t keep = rng() % 2 ? 2 : 97;  // per 100: a handful, or most records
            for (int32_t h = 0; h < n; ++h) {
                if (rng() % 100 < keep) members.push_back(h);
            }
            if (members.empty()) members.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(n)));
        }
        region.clusters.push_back(clustersOf(lists));
    }
    return region;
}

// The records' labels under a few random rearrangements, scored by the fast
// scorers and by the scan's formulas one replicate at a time.
void expectScanValues(const Region& region, int replicates, uint32_t seed) {
    AnalysisState state = region.state;
    std::mt19937 rng(seed);
    std::vector<std::vector<double>> labels;
    std::vector<std::vector<double>> expected;
    for (int r = 0; r < replicates; ++r) {
        std::vector<double> label;
        for (const HaplotypeRecord& record : region.state.haplotypes) {
            label.push_back(state.qtlMode ? record.trait : record.status);
        }
        std::shuffle(label.begin(), label.end(), rng);
        for (size_t h = 0; h < label.size(); ++h) {
            // The totals stay the data's, as they do under every shuffle.
            if (state.qtlMode) state.haplotypes[h].trait = label[h];
            else state.haplotypes[h].status = static_cast<int32_t>(label[h]);
        }
        labels.push_back(label);
        expected.push_back(regionalMaxima(state, region.clusters));
    }
    const JointMaxima maxima = jointMaximaOfLabels(region.state, region.clusters, labels);
    for (int r = 0; r < replicates; ++r) {
        for (size_t s = 0; s < maxima.byStatistic.size(); ++s) {
            EXPECT_EQ(maxima.byStatistic[s][static_cast<size_t>(r)], expected[static_cast<size_t>(r)][s])
                << "replicate " << r << ", statistic " << s;
        }
    }
}

TEST(JointPermutation, FastScorersGiveTheScansValues) {
    // 2,100 records: several stretches of records, masks of 33 words, and
    // runs of over 255 equal trait values.
    expectScanValues(makeRegion(2100, 9, false, false, 3), 70, 11);
    expectScanValues(makeRegion(2100, 9, true, false, 4), 3, 12);
    expectScanValues(makeRegion(2100, 9, true, true, 5), 3, 13);
}

// Markers in linkage disequilibrium: each marker's alleles and clusters are
// the previous marker's with a few records changed, now and then swapped for
// their complement, so that the trait scorer writes sets as differences from
// earlier ones of every kind. The traits are of the kind given.
enum class TraitKind { kContinuous, kTwoValues, kConstant, kDoublePrecision };

Region makeLinkedRegion(int32_t n, int32_t markers, TraitKind kind, uint32_t seed) {
    std::mt19937 rng(seed);
    Region region{makeState(n, markers, true), {}};
    AnalysisState& state = region.state;
    std::vector<char> allele(static_cast<size_t>(n));
    std::vector<int32_t> clusterOf(static_cast<size_t>(n));  // -1: in no cluster
    for (int32_t h = 0; h < n; ++h) {
        allele[static_cast<size_t>(h)] = rng() % 3 == 0;
        clusterOf[static_cast<size_t>(h)] = static_cast<int32_t>(rng() % 4) - 1;
    }
    for (int32_t m = 0; m < markers; ++m) {
        if (m % 5 == 4) {
            for (char& a : allele) a = !a;
        }
        for (int change = 0; change < n / 50; ++change) {
            allele[rng() % static_cast<uint32_t>(n)] ^= 1;
            clusterOf[rng() % static_cast<uint32_t>(n)] = static_cast<int32_t>(rng() % 4) - 1;
        }
        std::vector<std::vector<int32_t>> lists(3);
        for (int32_t h = 0; h < n; ++h) {
            state.allele(h, m) = allele[static_cast<size_t>(h)] ? 1 : 2;
            if (clusterOf[static_cast<size_t>(h)] >= 0) lists[static_cast<size_t>(clusterOf[static_cast<size_t>(h)])].push_back(h);
        }
        region.clusters.push_back(clustersOf(lists));
    }
    std::normal_distribution<double> normal;
    std::vector<double> traits;
    for (int32_t h = 0; h < n; ++h) {
        const double z = normal(rng) + (allele[static_cast<size_t>(h)] ? 0.3 : 0.0);
        switch (kind) {
            case TraitKind::kContinuous: traits.push_back(static_cast<float>(z)); break;
            case TraitKind::kTwoValues: traits.push_back(z > 0.5 ? 1.0 : 0.0); break;
            case TraitKind::kConstant: traits.push_back(3.25); break;
            case TraitKind::kDoublePrecision: traits.push_back(1e8 + z); break;  // not floats
        }
    }
    setTraits(state, traits);
    return region;
}

TEST(JointPermutation, TraitScorerGivesTheScansValuesOnLinkedMarkers) {
    const struct {
        const char* name;
        TraitKind kind;
    } kinds[] = {{"continuous", TraitKind::kContinuous},
                 {"two values", TraitKind::kTwoValues},
                 {"constant", TraitKind::kConstant},
                 {"double precision", TraitKind::kDoublePrecision}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        expectScanValues(makeLinkedRegion(1500, 16, kind.kind, 7), 20, 17);
    }
}

TEST(JointPermutation, OneAndTwoThreadsAgreeInBothSchemes) {
    for (const bool trait : {false, true}) {
        for (const bool ties : {false, true}) {
            if (!trait && ties) continue;
            const Region region = makeRegion(2100, 12, trait, ties, 21);
            std::vector<JointMaxima> joint;
            std::vector<uint32_t> jointStream;
            std::vector<PermutationPValues> chained;
            std::vector<uint32_t> chainedStream;
            for (const int threads : {1, 2}) {
                AnalysisState state = region.state;
                state.nPermutations = 150;  // three blocks of the joint scheme
                joint.push_back(jointPermutationMaxima(state, region.clusters, threads));
                jointStream.push_back(state.random.state());
                state = region.state;
                state.nPermutations = 12;   // 144 shuffles: blocks shared among the threads
                const std::vector<double> observed = regionalMaxima(state, region.clusters);
                PermutationPValues p;
                permutationTest(state, region.clusters, observed[0], trait ? observed[1] : 0.0,
                                trait ? observed[2] : 0.0, p, threads);
                chained.push_back(p);
                chainedStream.push_back(state.random.state());
            }
            const std::string where = trait ? (ties ? "trait, ties" : "trait") : "case/control";
            EXPECT_EQ(joint[0].byStatistic, joint[1].byStatistic) << where;
            EXPECT_EQ(jointStream[0], jointStream[1]) << where;
            EXPECT_EQ(chained[0].score, chained[1].score) << where;
            EXPECT_EQ(chained[0].t, chained[1].t) << where;
            EXPECT_EQ(chained[0].z, chained[1].z) << where;
            EXPECT_EQ(chainedStream[0], chainedStream[1]) << where;
        }
    }
}

}  // namespace
}  // namespace orvane
