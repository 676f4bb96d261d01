#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locate/bootstrap.h"
#include "locate/locus_scan.h"
#include "model/haplotype_file.h"
#include "model/imputation.h"
#include "model/parameter_file.h"
#include "model/text_output.h"
#include "scoring/trait_scoring.h"

namespace orvane {
namespace {

// A golden case of the main analysis: its inputs and its result file.
AnalysisState loadGoldenCase(const std::string& name, bool trait) {
    const std::string dir = std::string(ORVANE_GOLDEN_DIR) + "/" + name + "/";
    AnalysisState state;
    state.qtlMode = trait ? 1 : 0;
    loadHaplotypeFile(state, dir + "data.txt");
    loadParameterFile(state, dir + "params.txt");
    const std::string dist = dir + "dist.txt";
    readMarkerDistances(state, &dist);
    state.windowSize = std::min(state.windowSize, state.nMarkers);
    imputeMissingAlleles(state);
    prepareMarkerStatistics(state);
    return state;
}

// Column `column` of the marker lines of the case's expected result file.
std::vector<std::string> resultColumn(const std::string& name, size_t column, int32_t markers) {
    std::ifstream in(std::string(ORVANE_GOLDEN_DIR) + "/" + name + "/expected/data.txt-results");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> values;
    for (int32_t m = 0; m < markers && std::getline(in, line); ++m) {
        std::istringstream fields(line);
        std::string field;
        for (size_t k = 0; k <= column; ++k) std::getline(fields, field, '\t');
        values.push_back(field);
    }
    return values;
}

std::vector<std::string> formatted(const std::vector<double>& values) {
    std::vector<std::string> out;
    for (const double v : values) out.push_back(formatReal(v));
    return out;
}

TEST(LocusScan, SameScoresAsTheResultFile) {
    AnalysisState cc = loadGoldenCase("medium024", false);
    const LocusScores ccScores = scanLocus(cc, 2);
    EXPECT_EQ(formatted(ccScores.cluster), resultColumn("medium024", 2, cc.nMarkers));
    EXPECT_EQ(formatted(ccScores.chiSquare), resultColumn("medium024", 4, cc.nMarkers));

    AnalysisState trait = loadGoldenCase("medium004", true);
    const LocusScores traitScores = scanLocus(trait, 2);
    EXPECT_EQ(formatted(traitScores.cluster), resultColumn("medium004", 2, trait.nMarkers));
    EXPECT_EQ(formatted(traitScores.t), resultColumn("medium004", 4, trait.nMarkers));
    EXPECT_EQ(formatted(traitScores.z), resultColumn("medium004", 8, trait.nMarkers));
}

TEST(LocusScan, EvidenceAndPeak) {
    LocusScores scores;
    scores.cluster = {2.0, -3.0, 2.0, 1.0, kNoClusterTraitScore};
    scores.t = {1.0, -3.0, 2.0, std::nan("")};
    // A negative cluster score points away, a window without a cluster is
    // neutral; ties go to the later marker.
    EXPECT_EQ(evidenceOf(scores, Statistic::Cluster), (std::vector<double>{4.0, -9.0, 4.0, 1.0, 0.0}));
    EXPECT_EQ(peakOf(evidenceOf(scores, Statistic::Cluster)), 2);
    // Either direction of T counts; not a number never wins.
    EXPECT_EQ(peakOf(evidenceOf(scores, Statistic::T)), 1);
}

TEST(Bootstrap, ResamplesWithinCasesAndControls) {
    const AnalysisState source = loadGoldenCase("medium024", false);
    AnalysisState replicate = source;
    resampleHaplotypes(source, 7, 3, replicate);
    int32_t affected = 0;
    bool moved = false;
    for (int32_t h = 0; h < source.nHaplotypes; ++h) {
        const size_t k = static_cast<size_t>(h);
        EXPECT_EQ(replicate.haplotypes[k].status, source.haplotypes[k].status);
        affected += replicate.haplotypes[k].status == 1;
        // The record's alleles travel with it.
        const int32_t id = replicate.haplotypes[k].identifier;
        const auto origin = std::find_if(source.haplotypes.begin(), source.haplotypes.end(),
                                         [&](const HaplotypeRecord& r) { return r.identifier == id; });
        ASSERT_NE(origin, source.haplotypes.end());
        const int32_t o = static_cast<int32_t>(origin - source.haplotypes.begin());
        for (int32_t m = 0; m < source.nMarkers; ++m) EXPECT_EQ(replicate.allele(h, m), source.allele(o, m));
        moved = moved || o != h;
    }
    EXPECT_EQ(affected, source.nAffected);
    EXPECT_TRUE(moved);
    // Another replicate index draws other haplotypes; the same index the same ones.
    AnalysisState again = source, other = source;
    resampleHaplotypes(source, 7, 3, again);
    resampleHaplotypes(source, 7, 4, other);
    EXPECT_EQ(again.alleles, replicate.alleles);
    EXPECT_NE(other.alleles, replicate.alleles);
}

TEST(Bootstrap, PeaksDoNotDependOnTheThreads) {
    for (const bool trait : {false, true}) {
        const AnalysisState source = loadGoldenCase(trait ? "medium004" : "medium024", trait);
        const auto one = bootstrapPeaks(source, 12, 5, 1);
        const auto two = bootstrapPeaks(source, 12, 5, 2);
        EXPECT_EQ(one, two) << (trait ? "trait" : "case/control");
        ASSERT_EQ(one.size(), trait ? 3u : 2u);
        EXPECT_EQ(one[0].size(), 12u);
        // The seed changes the draws.
        EXPECT_NE(bootstrapPeaks(source, 12, 6, 2), one);
    }
}

TEST(Bootstrap, PeakShares) {
    const std::vector<double> shares = peakShares({1, 1, 3, 1}, 5);
    EXPECT_EQ(shares, (std::vector<double>{0.0, 0.75, 0.0, 0.25, 0.0}));
}

}  // namespace
}  // namespace orvane
