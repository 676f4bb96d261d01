// The warnings the readers note: each crafted input gives the warnings it
// should (and a sound input none), and each names what the user must know.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "model/data_warnings.h"
#include "model/haplotype_file.h"
#include "model/parameter_file.h"
#include "model/warnings.h"

namespace orvane {
namespace {

struct WarningCase {
    const char* name;
    const char* text;
    // Each expected warning, by a piece of its text, in order; empty: none.
    std::vector<std::string> pieces;
};

void PrintTo(const WarningCase& c, std::ostream* out) { *out << c.name; }

void expectWarnings(const Warnings& warnings, const std::vector<std::string>& pieces) {
    ASSERT_EQ(warnings.messages().size(), pieces.size());
    for (size_t k = 0; k < pieces.size(); ++k) {
        EXPECT_NE(warnings.messages()[k].find(pieces[k]), std::string::npos)
            << "warning " << k << ": " << warnings.messages()[k] << "\nlacks: " << pieces[k];
    }
}

class ParameterWarnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(ParameterWarnings, NameWhatWasReadAndWhatToDo) {
    AnalysisState state;
    Warnings warnings;
    readParameterFile(state, GetParam().text, "p.txt", &warnings);
    expectWarnings(warnings, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParameterWarnings,
    ::testing::Values(
        WarningCase{"SoundFileIsSilent",
                    "epsilon 2 0.1\nminPtsQuantile 0.5\nwindowSize 21\ndistanceType 1 -254 1\n"
                    "permutations 1000\nreportThreshold 2.0\n",
                    {}},
        WarningCase{"CommentStopsReading",
                    "epsilon 2 0.1   # mode 2: fraction\nminPtsQuantile 0.5\n",
                    {"p.txt:1: reading stopped at 'mode', where minPtsQuantile needs a number, so "
                     "these keep their defaults: minPtsQuantile 0, windowSize 21, distanceType 0, "
                     "permutations 1000, reportThreshold 1"}},
        // A file whose epsilon mode cannot be read is refused (readers_test); one with
        // "=" where a value belongs later on reads up to there and names the "=".
        WarningCase{"EqualsWhereAValueBelongs", "epsilon 2 0.1\nminPtsQuantile = 0.5\n",
                    {"p.txt:2: reading stopped at '=', where minPtsQuantile needs a number, so these keep "
                     "their defaults: minPtsQuantile 0, windowSize 21, distanceType 0, permutations 1000, "
                     "reportThreshold 1; labels and values are separated by blanks, not '='"}},
        WarningCase{"EqualsInALabel", "epsilon=2 0.3\nminPtsQuantile 0.5\n",
                    {"p.txt:1: the label 'epsilon=2' holds '=', so what follows '=' is read as part of the label",
                     "p.txt:1: epsilon mode is read as 0 from '0.3'",
                     "p.txt:2: reading stopped at 'minPtsQuantile'",
                     "epsilon mode 0 is neither 1 (a fixed radius) nor 2"}},
        WarningCase{"StopInsideDistanceParameters", "e 2 0.1 q 0 w 7 d 4 -1 2 p 5 r 1.5",
                    {"reading stopped at 'p', where distanceType p3 needs a number, so these keep "
                     "their defaults: distanceType p3 0, distanceType p4 0, permutations 1000"}},
        WarningCase{"FileEndsEarly", "e 2 0.1 q 0 w 7",
                    {"p.txt: the file ends before distanceType, so these keep their defaults: "
                     "distanceType 0, permutations 1000, reportThreshold 1"}},
        WarningCase{"EmptyFile", "", {"the file ends before epsilon mode, so these keep their defaults: epsilon 0.2"}},
        WarningCase{"ExponentInAWholeNumber", "e 2 0.1 q 0 w 7 d 0 permutations 1e6 r 2",
                    {"permutations is read as 1 from '1e6' (a whole number is expected), and the "
                     "rest 'e6' is read as the next label",
                     "reading stopped at 'r', where reportThreshold needs a number"}},
        WarningCase{"FractionInAWholeNumber", "e 2 0.1 q 0\nwindowSize 21.5\nd 0 p 5 r 2",
                    {"p.txt:2: windowSize is read as 21 from '21.5'",
                     "reading stopped at 'd', where distanceType needs a number"}},
        WarningCase{"LettersAfterAReal", "e 2 0.3x q 0 w 7 d 0 p 5 r 2",
                    {"epsilon is read as 0.3 from '0.3x', and the rest 'x'",
                     "reading stopped at 'q', where minPtsQuantile needs a number"}},
        WarningCase{"TextAfterTheLastSetting", "e 2 0.1 q 0 w 7 d 0 p 5 r 2 # done",
                    {"p.txt:1: the text after the last setting (reportThreshold) is ignored, from '#'"}},
        WarningCase{"NegativePermutations", "e 2 0.1 q 0 w 7 d 0\npermutations -5 r 2",
                    {"p.txt:2: permutations -5 is negative: the permutation test is skipped and its "
                     "p-values read 0"}},
        WarningCase{"SettingsOutOfRange", "e 2 1.5 q -0.3 w 7 d 7 p 5 r 2",
                    {"the epsilon fraction 1.5 is outside (0, 1]", "minPtsQuantile -0.3 is outside [0, 1]",
                     "distanceType 7 is not one of 0 to 6"}},
        WarningCase{"ZeroFraction", "e 2 0 q 0 w 7 d 0 p 5 r 2", {"the epsilon fraction 0 is outside (0, 1]"}},
        WarningCase{"UnknownEpsilonMode", "e 3 0.3 q 0.5 w 5",
                    {"reading stopped at 'q', where minPtsQuantile needs a number",
                     "epsilon mode 3 is neither 1 (a fixed radius) nor 2"}},
        WarningCase{"FixedRadiusNeedsNoFraction", "e 1 0.25 q 1 w 5 d 6 1 2 p 0 r 2", {}}));

// The data file's warnings, read from text.
Warnings readData(const std::string& text, bool traitMode, AnalysisState& state) {
    Warnings warnings;
    state.qtlMode = traitMode ? 1 : 0;
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    EXPECT_NE(file, nullptr);
    readHaplotypeFile(state, file, "d.txt", &warnings);
    std::fclose(file);
    return warnings;
}

class DataWarnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(DataWarnings, NameWhatWasReadAndWhatToDo) {
    AnalysisState state;
    Warnings warnings = readData(GetParam().text, false, state);
    warnAboutMissingAlleles(state, "d.txt", warnings);
    expectWarnings(warnings, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataWarnings,
    ::testing::Values(
        WarningCase{"SoundFileIsSilent", "h\n1 a 1 2\n2 c 2 1\n3 affected 1 1\n\n\n", {}},
        WarningCase{"LinesAfterAnEmptyLine", "h\n1 a 1 2\n2 c 2 1\n\n3 a 1 1\n \n4 c 2 2\n",
                    {"d.txt:4: the data end at this empty line, so 2 non-empty line(s) after it, from "
                     "line 5, are not read"}},
        WarningCase{"NumericCoding", "h\n1 1 1 2\n2 2 2 1\n3 2 1 1\n",
                    {"no haplotype is affected (of 3; statuses seen: '1', '2')",
                     }},
        WarningCase{"CaseControlWords", "h\n1 case 1 2\n2 control 2 1\n",
                    {"'case' starts with 'c' and counts as unaffected"}},
        WarningCase{"UpperCaseA", "h\n1 A 1 2\n2 U 2 1\n", {"an upper-case 'A' counts as unaffected"}},
        WarningCase{"NoUnaffected", "h\n1 a 1 2\n2 affected 2 1\n", {"no haplotype is unaffected (of 2"}},
        // 1 of 20 alleles missing is 5 %: not above the threshold.
        WarningCase{"MissingAtTheThreshold",
                    "h\n1 a 0\n2 c 1\n3 a 1\n4 c 2\n5 a 1\n6 c 2\n7 a 1\n8 c 2\n9 a 1\n10 c 2\n"
                    "11 a 1\n12 c 2\n13 a 1\n14 c 2\n15 a 1\n16 c 2\n17 a 1\n18 c 2\n19 a 1\n20 c 2\n",
                    {}},
        WarningCase{"MissingAboveTheThreshold",
                    "h\n1 a 1 0\n2 c 1 0\n3 a 1 1\n4 c 0 2\n5 a 1 1\n6 c 2 2\n7 a 1 1\n8 c 2 2\n9 a 1 1\n10 c 2 2\n",
                    {"marker 1 (numbered from 0) has 20.0 % of its alleles missing, the most of any "
                     "marker (2 marker(s) above 5.0 %)"}}));

TEST(DataWarnings, NumericCodingGetsItsHint) {
    AnalysisState state;
    const Warnings warnings = readData("h\n1 1 1 2\n2 2 2 1\n", false, state);
    ASSERT_EQ(warnings.messages().size(), 1u);
    EXPECT_NE(warnings.messages()[0].find("they look like numeric coding (1/2 or 0/1)"), std::string::npos);
}

TEST(DataWarnings, TraitModeWarnsOnlyOfATraitThatNeverVaries) {
    for (const auto& [text, warns] : std::vector<std::pair<std::string, bool>>{
             {"h\n1 0.5 1 2\n2 0.5 2 1\n3 0.5 1 1\n", true}, {"h\n1 0.5 1 2\n2 0.6 0 0\n", false}}) {
        AnalysisState state;
        Warnings warnings = readData(text, true, state);
        warnAboutTraits(state, "d.txt", warnings);
        // Missing alleles are filled from all haplotypes in trait mode: no warning.
        warnAboutMissingAlleles(state, "d.txt", warnings);
        EXPECT_EQ(warnings.messages().size(), warns ? 1u : 0u) << text;
    }
}

TEST(DistanceWarnings, CountTheGapsLeftAtZeroOrIgnored) {
    const struct {
        size_t values, gaps;
        const char* piece;
    } cases[] = {{32, 59, "32 distance(s) for the 59 gaps between the markers, so the last 27 gap(s) are 0"},
                 {12, 10, "12 distances for the 10 gaps between the markers; the last 2 are ignored"},
                 {10, 10, nullptr}};
    for (const auto& c : cases) {
        Warnings warnings;
        warnAboutDistanceCount("g.txt", c.values, c.gaps, warnings);
        if (c.piece == nullptr) {
            EXPECT_TRUE(warnings.messages().empty());
        } else {
            ASSERT_EQ(warnings.messages().size(), 1u);
            EXPECT_EQ(warnings.messages()[0].rfind("g.txt:1: ", 0), 0u);
            EXPECT_NE(warnings.messages()[0].find(c.piece), std::string::npos) << warnings.messages()[0];
        }
    }
}

TEST(Warnings, PrintOneLineEach) {
    Warnings warnings;
    warnings.add("f.txt", 3, "first");
    warnings.add("f.txt", 0, "second");
    warnings.add("", 0, "third");
    char buffer[256] = {};
    std::FILE* out = fmemopen(buffer, sizeof buffer, "w");
    warnings.print(out);
    std::fclose(out);
    EXPECT_STREQ(buffer,
                 "orvane: warning: f.txt:3: first\norvane: warning: f.txt: second\norvane: warning: third\n");
}

}  // namespace
}  // namespace orvane
