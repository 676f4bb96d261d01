#include "model/imputation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

// One haplotype per row: its status (1 affected) and its alleles.
struct Row {
    int32_t status;
    std::vector<int32_t> alleles;
};

AnalysisState makeState(const std::vector<Row>& rows, bool traitMode = false) {
    AnalysisState state;
    state.qtlMode = traitMode ? 1 : 0;
    state.nHaplotypes = static_cast<int32_t>(rows.size());
    state.nMarkers = static_cast<int32_t>(rows.front().alleles.size());
    for (const Row& row : rows) {
        HaplotypeRecord record;
        record.status = traitMode ? 0 : row.status;
        state.haplotypes.push_back(record);
        state.alleles.append(row.alleles.begin(), row.alleles.end());
        if (!traitMode) ++(row.status == 1 ? state.nAffected : state.nUnaffected);
    }
    return state;
}

// Number of draws that precede the first draw of `value` from a fresh stream.
int64_t drawsBefore(int32_t value) {
    RandomStream stream;
    for (int64_t k = 0;; ++k) {
        if (stream.next() == value) return k;
    }
}

void advance(RandomStream& stream, int64_t draws) {
    for (int64_t k = 0; k < draws; ++k) stream.next();
}

// The allele that imputation gives haplotype h at marker m when the first draw it
// makes yields `value`; also checks that exactly `nDraws` draws were made.
int32_t imputedWith(AnalysisState state, int32_t value, int32_t h, int32_t m, int64_t nDraws = 1) {
    const int64_t skip = drawsBefore(value);
    advance(state.random, skip);
    imputeMissingAlleles(state);
    RandomStream expected;
    advance(expected, skip + nDraws);
    EXPECT_EQ(state.random.state(), expected.state()) << "draws made";
    return state.allele(h, m);
}

TEST(GroupAlleleFrequencies, ObservedCodesShareTheGroupMinusItsMissing) {
    const AnalysisState state = makeState({
        {1, {1}}, {1, {1}}, {1, {2}}, {1, {0}},           // affected
        {0, {2}}, {0, {2}}, {0, {0}}, {0, {0}}, {0, {1}},  // unaffected
    });
    AlleleTable affected;
    AlleleTable other;
    groupAlleleFrequencies(state, 0, affected, other);
    EXPECT_EQ(affected.at(0), 1.0);  // the missing count stays a count
    EXPECT_DOUBLE_EQ(affected.at(1), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(affected.at(2), 1.0 / 3.0);
    EXPECT_EQ(other.at(0), 2.0);
    EXPECT_DOUBLE_EQ(other.at(1), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(other.at(2), 2.0 / 3.0);
}

TEST(ImputeMissingAlleles, DrawBoundariesOfAnEvenSplit) {
    // The affected carry 1 and 2 once each: 1 below r = 0.5, 2 up to r < 1.
    const AnalysisState state = makeState({{1, {1}}, {1, {2}}, {1, {0}}, {0, {2}}});
    struct Case {
        int32_t value;
        int32_t code;
    };
    const Case cases[] = {
        {0, 1}, {16383, 1}, {16384, 2}, {32766, 2},
        {32767, 0},  // r = 1.0 exactly: no code passes and the allele stays missing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(imputedWith(state, c.value, 2, 0), c.code) << "draw " << c.value;
    }
}

TEST(ImputeMissingAlleles, EachGroupDrawsFromItsOwnFrequencies) {
    const AnalysisState state =
        makeState({{1, {2}}, {1, {2}}, {0, {1}}, {0, {1}}, {0, {0}}, {1, {0}}});
    for (const int32_t value : {0, 20000, 32766}) {
        AnalysisState copy = state;
        advance(copy.random, drawsBefore(value));
        imputeMissingAlleles(copy);
        EXPECT_EQ(copy.allele(4, 0), 1) << value;
        EXPECT_EQ(copy.allele(5, 0), 2) << value;
    }
}

TEST(ImputeMissingAlleles, MarkersOuterHaplotypesInner) {
    // Both markers split 1 and 2 evenly. The first two draws of the stream, 41 and
    // 18467, give 1 and then 2: the missing allele at marker 0 takes the first.
    AnalysisState state = makeState({{0, {1, 0}}, {0, {0, 1}}, {0, {2, 2}}});
    imputeMissingAlleles(state);
    EXPECT_EQ(state.allele(1, 0), 1);
    EXPECT_EQ(state.allele(0, 1), 2);
}

TEST(ImputeMissingAlleles, MarkersWithoutMissingAllelesAreSkippedInOrder) {
    // Markers 0 and 2 have no missing allele; the two draws (1 then 2, as above)
    // go to markers 1 and 3 in that order, and nothing else changes.
    AnalysisState state = makeState({{0, {1, 0, 2, 2}}, {0, {2, 1, 1, 0}}, {0, {1, 2, 2, 1}}});
    const std::vector<int32_t> before = state.alleles.codes();
    imputeMissingAlleles(state);
    EXPECT_EQ(state.allele(0, 1), 1);
    EXPECT_EQ(state.allele(1, 3), 2);
    std::vector<int32_t> after = state.alleles.codes();
    after[1] = 0;
    after[7] = 0;
    EXPECT_EQ(after, before);
    RandomStream twoDraws;
    advance(twoDraws, 2);
    EXPECT_EQ(state.random.state(), twoDraws.state());
}

TEST(ImputeMissingAlleles, NoMissingAlleleMakesNoDraw) {
    AnalysisState state = makeState({{1, {1, 2}}, {0, {2, 1}}});
    imputeMissingAlleles(state);
    EXPECT_EQ(state.random.state(), RandomStream().state());
}

TEST(ImputeMissingAlleles, AllMissingInAGroupStillDrawsOncePerAllele) {
    // The affected have nothing to draw from; the unaffected fill theirs.
    const AnalysisState state = makeState({{1, {0}}, {1, {0}}, {0, {1}}, {0, {0}}});
    AnalysisState copy = state;
    imputeMissingAlleles(copy);
    EXPECT_EQ(copy.allele(0, 0), 0);
    EXPECT_EQ(copy.allele(1, 0), 0);
    EXPECT_EQ(copy.allele(3, 0), 1);
    RandomStream expected;
    advance(expected, 3);
    EXPECT_EQ(copy.random.state(), expected.state());
}

TEST(ImputeMissingAlleles, NegativeCodesKeepTheMissingCountAmongFrequencies) {
    // Code 0 is not the smallest here: it counts as a code of its own over the full
    // group, so a third of the draws land on it and leave the allele missing.
    const AnalysisState state = makeState({{0, {-1}}, {0, {1}}, {0, {0}}});
    AlleleTable affected;
    AlleleTable other;
    groupAlleleFrequencies(state, 0, affected, other);
    EXPECT_TRUE(affected.empty());
    EXPECT_DOUBLE_EQ(other.at(0), 1.0 / 3.0);
    struct Case {
        int32_t value;
        int32_t code;
    };
    const Case cases[] = {{0, -1}, {16384, 0}, {32766, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(imputedWith(state, c.value, 2, 0), c.code) << "draw " << c.value;
    }
}

TEST(ImputeMissingAlleles, TraitModeDrawsFromTheWholeSample) {
    // Statuses do not exist in trait mode; frequencies are 2/3 for 1 and 1/3 for 2.
    const AnalysisState state = makeState({{0, {1}}, {0, {1}}, {0, {2}}, {0, {0}}}, true);
    AlleleTable affected;
    AlleleTable other;
    groupAlleleFrequencies(state, 0, affected, other);
    EXPECT_TRUE(affected.empty());
    EXPECT_EQ(other.at(0), 1.0);
    EXPECT_DOUBLE_EQ(other.at(1), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(other.at(2), 1.0 / 3.0);
    EXPECT_EQ(imputedWith(state, 0, 3, 0), 1);
    EXPECT_EQ(imputedWith(state, 21844, 3, 0), 1);  // r just below 2/3
    EXPECT_EQ(imputedWith(state, 21845, 3, 0), 2);
}

}  // namespace
}  // namespace orvane
