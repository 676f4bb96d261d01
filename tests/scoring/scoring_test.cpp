// Cluster scores, single-marker tests and the permutation test on crafted records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "model/analysis_state.h"
#include "model/imputation.h"
#include "model/text_output.h"
#include "permutation/label_shuffle.h"
#include "permutation/permutation_test.h"
#include "permutation/replicate_scoring.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {
namespace {

// Case/control records: the first `affected` are cases. One marker, allele 2.
AnalysisState caseControlState(int n, int affected) {
    AnalysisState state;
    state.nHaplotypes = n;
    state.nMarkers = 1;
    state.windowSize = 1;
    state.haplotypes.resize(static_cast<size_t>(n));
    state.alleles.assign(static_cast<size_t>(n), 2);
    for (int h = 0; h < n; ++h) {
        state.haplotypes[static_cast<size_t>(h)].identifier = h + 1;
        state.haplotypes[static_cast<size_t>(h)].status = h < affected ? 1 : 0;
    }
    state.nAffected = affected;
    state.nUnaffected = n - affected;
    return state;
}

AnalysisState traitState(const std::vector<double>& traits) {
    AnalysisState state;
    state.qtlMode = 1;
    state.nHaplotypes = static_cast<int32_t>(traits.size());
    state.nMarkers = 1;
    state.windowSize = 1;
    state.haplotypes.resize(traits.size());
    state.alleles.assign(traits.size(), 2);
    for (size_t h = 0; h < traits.size(); ++h) {
        state.haplotypes[h].identifier = static_cast<int32_t>(h + 1);
        state.haplotypes[h].trait = traits[h];
    }
    prepareTraitStatistics(state);
    return state;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `write` against a fresh report file and returns what it wrote.
template <typename Write>
std::string reportOf(Write write) {
    // One file per test: ctest runs these tests side by side.
    const std::string path = ::testing::TempDir() + "orvane_report_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    {
        OutputFile report(path, OutputFile::Mode::Truncate);
        write(report);
        report.close();
    }
    return readFile(path);
}

TEST(NumberFormat, GeneralNotationAndSpecialValues) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{5.494505494505495, "5.49451"}, {-0.0, "-0"},         {0.0, "0"},
                 {1e-5, "1e-05"},                {123456789.0, "1.23457e+08"}, {0.0001, "0.0001"},
                 {100000.0, "100000"},           {1e6, "1e+06"},       {12.0, "12"},
                 {999999.0, "999999"},           {-999999.0, "-999999"}, {-5.0, "-5"},
                 {999999.5, "1e+06"},            {2147483648.0, "2.14748e+09"},
                 {NAN, "nan"},                   {-NAN, "nan"},        {INFINITY, "inf"},
                 {-INFINITY, "-inf"}};
    for (const auto& c : cases) EXPECT_EQ(formatReal(c.value), c.text) << c.text;
}

TEST(CaseControl, WorkedChiSquare) {
    // N = 20, 10 cases; the cluster holds 6 cases and 1 control.
    AnalysisState state = caseControlState(20, 10);
    const std::set<int32_t> members = {0, 1, 2, 3, 4, 5, 10};
    state.haplotypes[0].isCore = true;
    state.haplotypes[10].isCore = true;
    const ClusterChiSquare c = clusterChiSquare(state, members, true);
    EXPECT_NEAR(c.chiSquare, 5.494505494505495, 1e-12);
    EXPECT_EQ(formatReal(c.chiSquare), "5.49451");
    EXPECT_EQ(formatReal(c.z), "2.34404");
    EXPECT_EQ(formatReal(c.minusLog10P), "1.71951");
    EXPECT_EQ(c.size, 7);
    EXPECT_EQ(c.nCore, 2);
}

TEST(CaseControl, DepletedClusterIsNegativeAndEmptyMarginsScoreZero) {
    AnalysisState state = caseControlState(20, 10);
    const ClusterChiSquare depleted = clusterChiSquare(state, {0, 10, 11, 12, 13, 14, 15}, true);
    EXPECT_EQ(formatReal(depleted.chiSquare), "-5.49451");
    EXPECT_EQ(formatReal(depleted.z), "-2.34404");
    EXPECT_EQ(formatReal(depleted.minusLog10P), "1.71951");

    std::set<int32_t> everyone;
    for (int h = 0; h < 20; ++h) everyone.insert(h);
    const ClusterChiSquare all = clusterChiSquare(state, everyone, true);
    EXPECT_EQ(all.chiSquare, 0.0);
    EXPECT_EQ(all.z, 0.0);
    EXPECT_EQ(all.minusLog10P, 0.0);

    AnalysisState noCases = caseControlState(6, 0);
    EXPECT_EQ(clusterChiSquare(noCases, {0, 1}, true).chiSquare, 0.0);
}

TEST(CaseControl, ScoreIsSignedZOfLargestChiSquareEarlierClusterWinsTies) {
    AnalysisState state = caseControlState(20, 10);
    state.clusterMembers[1] = {0, 10, 11, 12, 13, 14, 15};  // depleted, chi 5.49
    state.clusterMembers[2] = {0, 1, 2, 3, 4, 5, 10};       // enriched, same chi
    EXPECT_EQ(formatReal(caseControlWindowScore(state)), "-2.34404");
    state.clusterMembers.erase(1);
    EXPECT_EQ(formatReal(caseControlWindowScore(state)), "2.34404");
    state.clusterMembers.clear();
    EXPECT_EQ(caseControlWindowScore(state), 0.0);
}

TEST(CaseControl, ReportBlockAndThreshold) {
    AnalysisState state = caseControlState(20, 10);
    state.clusterMembers[1] = {0, 1, 2, 3, 4, 5, 10};
    state.haplotypes[2].isCore = true;
    state.reportThreshold = 2.3f;
    const std::string written = reportOf([&](OutputFile& out) {
        EXPECT_EQ(formatReal(scoreClustersCaseControl(state, out, 7)), "2.34404");
    });
    std::string expected = "Position: 7\nCluster number 1\n";
    const char* members[] = {"1\t1\t0(0):\t2\t\n", "2\t1\t0(0):\t2\t\n", "3\t1\t0(1):\t2\t\n",
                             "4\t1\t0(0):\t2\t\n", "5\t1\t0(0):\t2\t\n", "6\t1\t0(0):\t2\t\n",
                             "11\t0\t0(0):\t2\t\n"};
    for (const char* line : members) expected += line;
    expected += "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n5.49451\t2.34404\t7\t1\t1.71951\n\n";
    EXPECT_EQ(written, expected);

    state.reportThreshold = 2.5f;
    EXPECT_EQ(reportOf([&](OutputFile& out) { scoreClustersCaseControl(state, out, 7); }),
              "Position: 7\n\n");
}

TEST(CaseControl, ThresholdComparedInSinglePrecision) {
    // 5 of 8 cases and 3 of 8 controls: chi-square 1, Z exactly 1.
    AnalysisState state = caseControlState(16, 8);
    state.clusterMembers[1] = {0, 1, 2, 3, 4, 8, 9, 10};
    const ClusterChiSquare c = clusterChiSquare(state, state.clusterMembers[1], true);
    ASSERT_EQ(c.z, 1.0);
    // Equal to the default threshold 1.0: left out.
    EXPECT_EQ(reportOf([&](OutputFile& out) { scoreClustersCaseControl(state, out, 0); }),
              "Position: 0\n\n");
    // 0.99999994f, the float just below 1: written.
    state.reportThreshold = std::nextafter(1.0f, 0.0f);
    EXPECT_NE(reportOf([&](OutputFile& out) { scoreClustersCaseControl(state, out, 0); }),
              "Position: 0\n\n");
}

TEST(Trait, WorkedClusterT) {
    AnalysisState state = traitState({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    int32_t nCore = 0;
    double mean = 0.0, variance = 0.0;
    state.haplotypes[1].isCore = true;
    const double t = clusterTStatistic(state, {0, 1, 2, 3}, nCore, mean, variance);
    EXPECT_NEAR(t, -4.618802153517006, 1e-12);
    EXPECT_EQ(formatReal(t), "-4.6188");
    EXPECT_EQ(mean, 2.5);
    EXPECT_EQ(variance, 1.25);
    EXPECT_EQ(nCore, 1);
    // The core counter accumulates: the caller resets it per cluster.
    clusterTStatistic(state, {0, 1}, nCore, mean, variance);
    EXPECT_EQ(nCore, 2);
}

TEST(Trait, WindowScoreAndReport) {
    AnalysisState state = traitState({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(traitWindowScore(state), kNoClusterTraitScore);
    state.clusterMembers[1] = {0, 1, 2, 3};     // T -4.6
    state.clusterMembers[2] = {6, 7, 8, 9};     // T +4.6 (mirror)
    state.clusterMembers[3] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // every haplotype: not a number
    state.reportThreshold = 4.0f;
    const std::string written = reportOf([&](OutputFile& out) {
        EXPECT_EQ(formatReal(scoreClustersTrait(state, out, 3)), "4.6188");
    });
    EXPECT_EQ(written,
              "Position: 3\nCluster number 2\n7\t0\t7(0):\t2\t\n8\t0\t8(0):\t2\t\n9\t0\t9(0):\t2\t\n"
              "10\t0\t10(0):\t2\t\nT_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n"
              "4.6188\t4\t0\t8.5\t1.25\n\n");
    EXPECT_EQ(formatReal(traitWindowScore(state)), "4.6188");
}

TEST(SingleMarker, ChiSquareTable) {
    // A1 = 10, A0 = 0, U1 = 0, U0 = 10.
    AnalysisState state = caseControlState(20, 10);
    for (int h = 0; h < 10; ++h) state.alleles[static_cast<size_t>(h)] = 1;
    EXPECT_EQ(singleMarkerChiSquare(state, 0), 20.0);
    // Codes other than 1 (0, 3, -1) do not carry the allele.
    state.alleles[10] = 0;
    state.alleles[11] = 3;
    state.alleles[12] = -1;
    EXPECT_EQ(singleMarkerChiSquare(state, 0), 20.0);
    // An empty margin gives 0.
    state.alleles.assign(state.alleles.size(), 1);
    EXPECT_EQ(singleMarkerChiSquare(state, 0), 0.0);
    AnalysisState noCases = caseControlState(6, 0);
    noCases.alleles[0] = 1;
    EXPECT_EQ(singleMarkerChiSquare(noCases, 0), 0.0);
}

// Counted for every marker in one pass over the rows, the chi-squares are the
// marker-by-marker ones to the bit, whatever the codes and their width.
TEST(SingleMarker, CarrierCountsOfAllMarkersGiveTheSameChiSquares) {
    std::mt19937 rng(31);
    const std::vector<int32_t> narrow = {1, 2, 0, 3, -1};
    const std::vector<int32_t> wide = {1, 2, 0, 1000, -70000};
    for (const auto& codes : {narrow, wide}) {
        for (int repeat = 0; repeat < 5; ++repeat) {
            const int n = 2 + static_cast<int>(rng() % 200);
            AnalysisState state = caseControlState(n, static_cast<int>(rng() % static_cast<unsigned>(n + 1)));
            state.nMarkers = 7;
            state.alleles.clear();
            for (int k = 0; k < n * 7; ++k) state.alleles.push_back(codes[rng() % codes.size()]);
            const CarrierCounts counts = countCarriers(state);
            for (int32_t m = 0; m < 7; ++m) {
                EXPECT_EQ(markerChiSquareFromCounts(state, counts.cases[static_cast<size_t>(m)],
                                                    counts.carriers[static_cast<size_t>(m)]),
                          singleMarkerChiSquare(state, m))
                    << "n " << n << " marker " << m;
            }
        }
    }
}

TEST(SingleMarker, WorkedTraitTests) {
    AnalysisState state = traitState({1, 3, 2, 4});
    state.alleles = {1, 2, 1, 2};  // group 1: traits 1 and 2
    const TraitTests r = singleMarkerTraitTests(state, 0);
    EXPECT_NEAR(r.t, -2.0 * std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(r.welchT, -4.0, 1e-12);
    EXPECT_EQ(static_cast<int>(r.dof), 2);
    EXPECT_EQ(r.u, 4);
    EXPECT_NEAR(r.z, -1.5491933384829668, 1e-12);
}

TEST(SingleMarker, RanksGiveTheSameTestsAsDirectComparison) {
    std::mt19937 rng(99);
    for (int round = 0; round < 40; ++round) {
        const int n = 2 + static_cast<int>(rng() % 60);
        std::vector<double> traits;
        for (int h = 0; h < n; ++h) {
            // Few distinct values in some rounds, so ties are common.
            traits.push_back(round % 2 ? static_cast<double>(rng() % 5) : (rng() % 100000) / 7.0);
        }
        AnalysisState state = traitState(traits);
        std::vector<int32_t> carriers;
        for (int h = 0; h < n; ++h) {
            state.alleles[static_cast<size_t>(h)] = rng() % 3 ? 2 : 1;
            if (state.alleles[static_cast<size_t>(h)] == 1) carriers.push_back(h);
        }
        std::vector<uint32_t> index;
        const TraitRanks ranks(state, index);
        std::vector<int64_t> scratch(static_cast<size_t>(n), 0);
        const TraitTests direct = singleMarkerTraitTests(state, 0);
        const TraitTests ranked = rankedTraitTests(state, ranks, index.data(), carriers, scratch);
        EXPECT_EQ(ranked.u, direct.u) << round;
        EXPECT_EQ(formatReal(ranked.z), formatReal(direct.z)) << round;
        EXPECT_EQ(formatReal(ranked.t), formatReal(direct.t)) << round;
        EXPECT_EQ(formatReal(ranked.dof), formatReal(direct.dof)) << round;
        for (int64_t c : scratch) ASSERT_EQ(c, 0);
    }
}

TEST(SingleMarker, TiesAddNothingToU) {
    AnalysisState state = traitState({5, 5, 5, 6});
    state.alleles = {1, 2, 2, 2};
    EXPECT_EQ(singleMarkerTraitTests(state, 0).u, 1);
}

TEST(SingleMarker, MonomorphicMarkerGivesUndefinedStatistics) {
    AnalysisState state = traitState({1, 2, 3, 4});
    const TraitTests none = singleMarkerTraitTests(state, 0);  // nobody carries allele 1
    EXPECT_TRUE(std::isnan(none.t));
    EXPECT_TRUE(std::isnan(none.z));
    EXPECT_EQ(none.u, 0);
}

TEST(SingleMarker, LargeGroupsKeepZFinite) {
    EXPECT_TRUE(std::isfinite(mannWhitneyZ(1100 * 1100 / 2, 1100, 1100)));
    EXPECT_EQ(mannWhitneyZ(1100 * 1100 / 2, 1100, 1100), -0.0);
    // U beyond 2^31 stays exact in 64 bits.
    const int64_t n = 100000;
    EXPECT_NEAR(mannWhitneyZ(0, n, n), std::sqrt(3.0 * n * n / (2.0 * n + 1.0)), 1e-6);
}

TEST(Permutation, PValueCountsMaximaNotBelowObserved) {
    const double maxima[] = {1.0, 2.0, 2.0, 3.0};
    EXPECT_EQ(empiricalPValue(maxima, 4, 2.0), 0.75);
    EXPECT_EQ(empiricalPValue(maxima, 4, 3.5), 0.0);
    EXPECT_EQ(empiricalPValue(maxima, 4, 0.5), 1.0);
    const double withNan[] = {NAN, 2.0, NAN, 1.0};
    EXPECT_EQ(empiricalPValue(withNan, 4, 1.5), 0.25);
    const double single[] = {2.0};
    EXPECT_EQ(empiricalPValue(single, 1, 2.0), 1.0);
    EXPECT_EQ(empiricalPValue(single, 1, 2.5), 0.0);
}

TEST(Permutation, ShuffleDrawToSwapBoundaries) {
    // First step of four records: record 0 may move up to 3 places.
    const struct {
        int32_t draw;
        int32_t offset;
    } cases[] = {{0, 0}, {10922, 0}, {10923, 1}, {16384, 1}, {32767, 3}};
    for (const auto& c : cases) EXPECT_EQ(shuffleOffset(c.draw, 3), c.offset) << c.draw;
    // The last record's offset is always 0.
    EXPECT_EQ(shuffleOffset(32767, 0), 0);
}

TEST(Permutation, ShuffleDrawsOncePerRecordAndSwapsAsDrawn) {
    AnalysisState state = caseControlState(4, 1);
    RandomStream expected;
    std::vector<int32_t> labels = {1, 0, 0, 0};
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t j = shuffleOffset(expected.next(), 3 - i);
        std::swap(labels[static_cast<size_t>(i)], labels[static_cast<size_t>(i + j)]);
    }
    shuffleLabels(state);
    EXPECT_EQ(state.random.state(), expected.state());
    for (size_t h = 0; h < 4; ++h) EXPECT_EQ(state.haplotypes[h].status, labels[h]) << h;
}

TEST(RandomStream, FirstValuesFromTheInitialState) {
    RandomStream stream;
    for (const int32_t expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(stream.next(), expected);
    EXPECT_EQ(RandomStream::kMax * RandomStream::kScale, 1.0);
}

TEST(RandomStream, JumpEqualsThatManyDraws) {
    for (const uint64_t steps : {0ull, 1ull, 2ull, 7ull, 32ull, 1000ull, 65537ull}) {
        RandomStream stepped;
        for (uint64_t k = 0; k < steps; ++k) stepped.next();
        uint32_t a = 0, c = 0;
        RandomStream::jump(steps, a, c);
        EXPECT_EQ(a * 1u + c, stepped.state()) << steps;
    }
}

TEST(Permutation, ShuffleInLanesMatchesOneDrawAtATime) {
    // Record indices as labels show where every label went.
    for (const int32_t n : {1, 7, 31, 32, 33, 64, 65, 100, 2000}) {
        RandomStream lanes;
        RandomStream plain;
        std::vector<uint32_t> shuffled(static_cast<size_t>(n));
        std::vector<uint32_t> expected(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) shuffled[static_cast<size_t>(i)] = expected[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
        for (int round = 0; round < 3; ++round) {
            shuffleLabelArray(lanes, n, shuffled.data());
            for (int32_t i = 0; i < n; ++i) {
                const int32_t j = i + shuffleOffset(plain.next(), n - 1 - i);
                std::swap(expected[static_cast<size_t>(i)], expected[static_cast<size_t>(j)]);
            }
            ASSERT_EQ(shuffled, expected) << n << " records, round " << round;
            ASSERT_EQ(lanes.state(), plain.state());
        }
    }
}

TEST(Permutation, MaximaGatheredInAnyOrderKeepTheRule) {
    // Replicate 0: marker 0 is not a number, so the maximum stays not a number.
    // Replicate 1: later values that are not numbers never replace the maximum.
    const double values[3][2] = {{NAN, 1.0}, {5.0, NAN}, {2.0, 3.0}};
    ReplicateMaxima inOrder(2);
    ReplicateMaxima reversed(2);
    ReplicateMaxima firstHalf(2);
    for (int marker = 0; marker < 3; ++marker) {
        for (int r = 0; r < 2; ++r) inOrder.offer(r, marker, values[marker][r]);
    }
    for (int marker = 2; marker >= 0; --marker) {
        for (int r = 0; r < 2; ++r) (marker == 2 ? firstHalf : reversed).offer(r, marker, values[marker][r]);
    }
    reversed.merge(firstHalf);
    for (const ReplicateMaxima* m : {&inOrder, &reversed}) {
        const std::vector<double> v = m->values();
        EXPECT_TRUE(std::isnan(v[0]));
        EXPECT_EQ(v[1], 3.0);
    }
}

TEST(Permutation, FirstShuffleTakesTheDrawsAfterTheImputation) {
    // Three missing alleles use the first three draws; the shuffle of five
    // records takes the next five, as a single stream.
    AnalysisState state = caseControlState(5, 2);
    state.nMarkers = 2;
    state.windowSize = 2;
    state.alleles = {1, 0, 2, 1, 0, 2, 1, 1, 2, 0};
    imputeMissingAlleles(state);
    RandomStream expected;
    for (int k = 0; k < 3; ++k) expected.next();
    EXPECT_EQ(state.random.state(), expected.state());
    std::vector<int32_t> labels = {1, 1, 0, 0, 0};
    for (int32_t i = 0; i < 5; ++i) {
        const int32_t j = shuffleOffset(expected.next(), 4 - i);
        std::swap(labels[static_cast<size_t>(i)], labels[static_cast<size_t>(i + j)]);
    }
    shuffleLabels(state);
    EXPECT_EQ(state.random.state(), expected.state());
    for (size_t h = 0; h < 5; ++h) EXPECT_EQ(state.haplotypes[h].status, labels[h]) << h;
}

TEST(Permutation, ShuffleMovesOnlyTheModesLabel) {
    AnalysisState state = traitState({1, 2, 3, 4, 5});
    for (auto& record : state.haplotypes) record.status = 7;
    state.haplotypes[0].isCore = true;
    shuffleLabels(state);
    std::multiset<double> traits;
    for (size_t h = 0; h < state.haplotypes.size(); ++h) {
        traits.insert(state.haplotypes[h].trait);
        EXPECT_EQ(state.haplotypes[h].identifier, static_cast<int32_t>(h + 1));
        EXPECT_EQ(state.haplotypes[h].status, 7);
    }
    EXPECT_EQ(traits, (std::multiset<double>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(state.haplotypes[0].isCore);
}

}  // namespace
}  // namespace orvane
