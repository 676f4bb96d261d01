// Parameter file, data file and distance file readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "model/parameter_file.h"

namespace orvane {
namespace {

AnalysisState readParams(const std::string& text) {
    AnalysisState state;
    readParameterFile(state, text, "params.txt");
    return state;
}

TEST(ParameterFile, EmptyFileKeepsEveryDefault) {
    const AnalysisState s = readParams("");
    EXPECT_EQ(s.epsilon, 0.2);
    EXPECT_EQ(s.epsilonFraction, 0.0);
    EXPECT_EQ(s.minPtsQuantile, 0.0);
    EXPECT_EQ(s.windowSize, 21);
    EXPECT_EQ(s.nPermutations, 1000);
    EXPECT_EQ(s.reportThreshold, 1.0f);
    EXPECT_EQ(s.distanceType, 0);
    EXPECT_EQ(s.distanceParams[0], 0.0);
}

TEST(ParameterFile, FullFileFillsEverySetting) {
    const AnalysisState s = readParams(
        "epsilon 2 0.3\nminPtsQuantile 0.5\nwindowSize 11\ndistanceType 1 -254 1\n"
        "permutations 100\nreportThreshold 0.1\n");
    EXPECT_EQ(s.epsilon, 0.2);
    EXPECT_EQ(s.epsilonFraction, 0.3);
    EXPECT_EQ(s.minPtsQuantile, 0.5);
    EXPECT_EQ(s.windowSize, 11);
    EXPECT_EQ(s.distanceType, 1);
    EXPECT_EQ(s.distanceParams[0], -254.0);
    EXPECT_EQ(s.distanceParams[1], 1.0);
    EXPECT_EQ(s.nPermutations, 100);
    // Held in single precision: slightly above one tenth once widened.
    EXPECT_EQ(s.reportThreshold, 0.1f);
    EXPECT_GT(static_cast<double>(s.reportThreshold), 0.1);
}

struct TokenCase {
    const char* name;
    const char* text;
    double epsilon, fraction, quantile;
    int windowSize, distanceType;
    double p1, p2, p3, p4;
    int permutations;
    float threshold;
};

// ctest lists a case by its name rather than by a dump of its bytes.
void PrintTo(const TokenCase& c, std::ostream* out) { *out << c.name; }

class ParameterTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(ParameterTokens, LineUpAsRead) {
    const TokenCase& c = GetParam();
    const AnalysisState s = readParams(c.text);
    EXPECT_EQ(s.epsilon, c.epsilon);
    EXPECT_EQ(s.epsilonFraction, c.fraction);
    EXPECT_EQ(s.minPtsQuantile, c.quantile);
    EXPECT_EQ(s.windowSize, c.windowSize);
    EXPECT_EQ(s.distanceType, c.distanceType);
    EXPECT_EQ(s.distanceParams[0], c.p1);
    EXPECT_EQ(s.distanceParams[1], c.p2);
    EXPECT_EQ(s.distanceParams[2], c.p3);
    EXPECT_EQ(s.distanceParams[3], c.p4);
    EXPECT_EQ(s.nPermutations, c.permutations);
    EXPECT_EQ(s.reportThreshold, c.threshold);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParameterTokens,
    ::testing::Values(
        TokenCase{"FixedEpsilon", "e 1 0.25 q 0.1 w 5 d 6 1 2 p 3 r 2", 0.25, 0, 0.1, 5, 6, 1, 2, 0, 0, 3, 2.0f},
        // Mode 3 reads no value: 0.3 is taken as a label, "q" as the quantile, and reading stops.
        TokenCase{"UnknownEpsilonMode", "e 3 0.3 q 0.5 w 5", 0.2, 0, 0, 21, 0, 0, 0, 0, 0, 1000, 1.0f},
        TokenCase{"TypeThreeReadsOneParameter", "e 2 0.1 q 0 w 7 d 3 2 p 5 r 1.5", 0.2, 0.1, 0, 7, 3, 2, 0, 0, 0, 5, 1.5f},
        TokenCase{"TypeFourReadsFour", "e 2 0.1 q 0 w 7 d 4 -1 2 -3 4 p 5 r 1.5", 0.2, 0.1, 0, 7, 4, -1, 2, -3, 4, 5, 1.5f},
        // A file written for type 1 and edited to type 4 swallows the label and stops.
        TokenCase{"TypeEditedToFour", "e 2 0.1 q 0 w 7 d 4 -1 2 p 5 r 1.5", 0.2, 0.1, 0, 7, 4, -1, 2, 0, 0, 1000, 1.0f},
        TokenCase{"TypeZeroReadsNone", "e 2 0.1 q 0 w 7 d 0 p 5 r 1.5", 0.2, 0.1, 0, 7, 0, 0, 0, 0, 0, 5, 1.5f},
        TokenCase{"TypeSevenReadsNone", "e 2 0.1 q 0 w 7 d 7 p 5 r 1.5", 0.2, 0.1, 0, 7, 7, 0, 0, 0, 0, 5, 1.5f},
        // A label with a blank shifts the values: "Size" is read as the window size and fails.
        TokenCase{"LabelWithBlank", "e 2 0.1 q 0 window Size 7 d 0", 0.2, 0.1, 0, 21, 0, 0, 0, 0, 0, 1000, 1.0f},
        // A number followed by other characters yields the number; the rest is the next label.
        TokenCase{"NumberThenLetters", "e 2 0.1 q 0.5abc 9 d 0 p 5 r 2", 0.2, 0.1, 0.5, 9, 0, 0, 0, 0, 0, 5, 2.0f},
        TokenCase{"NumberGluedToLabel", "e 2 0.1 q 0.5 w 9d 0 p 5 r 2", 0.2, 0.1, 0.5, 9, 0, 0, 0, 0, 0, 5, 2.0f},
        TokenCase{"IntegerWithFraction", "e 2 0.1 q 0 w 5.5 d 0 p 5", 0.2, 0.1, 0, 5, 0, 0, 0, 0, 0, 1000, 1.0f},
        TokenCase{"IntegerOverflowStops", "e 2 0.1 q 0 w 99999999999 d 0", 0.2, 0.1, 0, 21, 0, 0, 0, 0, 0, 1000, 1.0f},
        TokenCase{"IntegersAtThe32BitLimits", "e 2 0.1 q 0 w 2147483647 d -2147483648 p 2147483647 r 1",
                  0.2, 0.1, 0, INT32_MAX, INT32_MIN, 0, 0, 0, 0, INT32_MAX, 1.0f},
        TokenCase{"IntegerJustPastTheLimitStops", "e 2 0.1 q 0 w 9 d 0 p 2147483648 r 2", 0.2, 0.1, 0, 9, 0, 0, 0, 0, 0, 1000, 1.0f},
        TokenCase{"EndsBeforeDistanceType", "e 2 0.1 q 0 w 9", 0.2, 0.1, 0, 9, 0, 0, 0, 0, 0, 1000, 1.0f},
        TokenCase{"ExponentAndSigns", "e 1 +2e-1 q -0 w +3 d 2 -1E1 .5 p 0 r 1e0", 0.2, 0, -0.0, 3, 2, -10, 0.5, 0, 0, 0, 1.0f},
        TokenCase{"AnythingAfterIsIgnored", "e 2 0.1 q 0 w 9 d 0 p 5 r 2 junk 1 2", 0.2, 0.1, 0, 9, 0, 0, 0, 0, 0, 5, 2.0f}),
    [](const ::testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

struct RejectedCase {
    const char* text;
    long line;
    const char* message;
};

TEST(ParameterFile, RejectsSettingsThatMakeNoAnalysis) {
    const RejectedCase cases[] = {
        {"e 2 0.1\nq 0\nw 0\n", 3, "windowSize 0 must be at least 1"},
        {"e 2 0.1\nq 0\nw -4\n", 3, "windowSize -4 must be at least 1"},
        {"e 2 0.1 q 0 w 5\nd 3\n4\n", 3, "needs p1 = 1, 2 or 3"},
        {"e 2 0.1 q 0 w 5\nd 3\n", 2, "needs p1 = 1, 2 or 3"},
        {"e 2 0.1 q 0 w 5 d 1 -2\n-1\n", 2, "p2 = -1 must not be negative"},
        {"e 2 0.1 q 0 w 5 d 4 1 1 1\n-0.5", 2, "p4 = -0.5 must not be negative"},
        {"e 2 0.1 q 0 w 5 d 6 -1 1", 1, "p1 = -1 must not be negative"},
        {"e 2 0.1 q 0 w 5 d 6 1 -1", 1, "p2 = -1 must not be negative"},
    };
    for (const RejectedCase& c : cases) {
        AnalysisState state;
        try {
            readParameterFile(state, c.text, "params.txt");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const InputError& error) {
            EXPECT_EQ(error.line(), c.line) << c.text;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << error.describe();
        }
    }
}

// A file with content from which not even the epsilon mode can be read would
// run every setting at its default: it is refused, naming why. A blank file
// gives every default; a file read past the mode only warns (warnings_test).
TEST(ParameterFile, RefusesAFileWhoseEpsilonModeCannotBeRead) {
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"# settings\nepsilon 2 0.1\n", "it starts with a comment, '#', and the file takes no comments"},
        {"// settings\nepsilon 2 0.1\n", "it starts with a comment, '//'"},
        {"epsilon = 2 0.3\nminPtsQuantile = 0.5\n",
         "'=' on line 1 stands where the epsilon mode, 1 or 2, is expected: labels and values are separated by "
         "blanks, not '='"},
        {"epsilon=2\nminPtsQuantile=0.5\n", "'epsilon=2' holds '=': labels and values are separated by blanks"},
        {"\n\nepsilon\n", "it holds the label 'epsilon' and no number after it"},
        {"epsilon two 0.3\n", "'two' on line 1 stands where the epsilon mode, 1 or 2, is expected"},
        {"\nepsilon\n\tx2", "'x2' on line 3 stands where the epsilon mode"},
        {"epsilon 99999999999 0.3\n", "'99999999999' on line 1 stands where the epsilon mode"},
        {"0.5\n", "it holds the label '0.5' and no number after it; give labels and values separated by blanks, "
                  "in the order epsilon, minPtsQuantile, windowSize, distanceType, permutations, reportThreshold, "
                  "as in 'epsilon 2 0.3'; is this the distance file?"},
        {"id status m1 m2\n1 a 1 2\n2 c 2 2\n", "'status' on line 1 stands where the epsilon mode, 1 or 2, is "
                                                 "expected; give labels and values separated by blanks, in the "
                                                 "order epsilon, minPtsQuantile, windowSize, distanceType, "
                                                 "permutations, reportThreshold, as in 'epsilon 2 0.3'; is this "
                                                 "the data file?"},
    };
    for (const auto& c : cases) {
        AnalysisState state;
        try {
            readParameterFile(state, c.text, "params.txt");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const InputError& error) {
            EXPECT_EQ(error.describe().rfind("params.txt: not even the epsilon mode can be read, so every setting "
                                             "would keep its default: ",
                                             0),
                      0u)
                << error.describe();
            EXPECT_NE(std::string(error.what()).find(c.why), std::string::npos) << error.describe();
        }
    }
    for (const char* blank : {"", " ", "\n\t\r\n\v\f "}) {
        EXPECT_EQ(readParams(blank).windowSize, 21) << "a blank file gives every default";
    }
    // Read up to the mode, or past it, the file is taken: warnings tell the rest.
    EXPECT_EQ(readParams("epsilon 2").epsilonFraction, 0.0);
    EXPECT_EQ(readParams("epsilon 2 0.3 # radius\n").epsilonFraction, 0.3);
    EXPECT_EQ(readParams("e=1 2 0.3").epsilonFraction, 0.3);
}

TEST(ParameterFile, TellsADataFileByItsShape) {
    const struct {
        const char* text;
        bool dataFile;
    } cases[] = {
        {"id status m1 m2\n1 a 1 2\n2 c 2 2\n", true},
        {"header\r\n1,a,1,2\r\n2,c,0,2\r\n\nanything\n", true},
        {"id trait a b c\n7\t0.25\t1\t2\t3\n", true},
        {"epsilon 2 0.3\nminPtsQuantile 0.5\nwindowSize 21\n", false},
        {"epsilon 2 0.3 minPtsQuantile 0.5 windowSize 21\n", false},
        {"id status m1 m2\n", false},                    // a header alone
        {"id status m1 m2\n1 a 1 2\n2 c 2\n", false},   // alleles differ in number
        {"id status m1\nx a 1\n", false},                // no identifier
        {"id status m1\n1 a 1.5\n", false},              // no allele code
        {"0.1 0.2 0.3\n", false},                         // a distance file
    };
    for (const auto& c : cases) EXPECT_EQ(looksLikeDataFile(c.text), c.dataFile) << c.text;
}

TEST(ParameterFile, AcceptsNegativeDecayAndClampedLinearWeights) {
    EXPECT_NO_THROW(readParams("e 2 0.1 q 0 w 5 d 1 -254 1"));
    EXPECT_NO_THROW(readParams("e 2 0.1 q 0 w 5 d 2 -5 -1"));
    EXPECT_NO_THROW(readParams("e 2 0.1 q 0 w 5 d 5 -1 -1 -1 -1"));
    EXPECT_NO_THROW(readParams("e 2 0.1 q 0 w 5 d 3 3"));
}

// Data file read from memory.
AnalysisState readData(const std::string& text, bool trait) {
    AnalysisState state;
    state.qtlMode = trait ? 1 : 0;
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    try {
        readHaplotypeFile(state, file, "data.txt");
    } catch (...) {
        std::fclose(file);
        throw;
    }
    std::fclose(file);
    return state;
}

TEST(DataFile, ReadsRecordsAndCounts) {
    const AnalysisState s = readData(
        "id status m1 m2 m3\n"
        "1\ta\t1\t2\t0\n"
        "12a, affected, 2, 2, 1\r\n"
        " 3\t\tA\t\t1\t1\t1 \n"
        "4 c 2 1 2\n"
        "\n"
        "5 a 9 9 9\n",
        false);
    ASSERT_EQ(s.nHaplotypes, 4);
    EXPECT_EQ(s.nMarkers, 3);
    EXPECT_EQ(s.nAffected, 2);
    EXPECT_EQ(s.nUnaffected, 2);
    EXPECT_EQ(s.haplotypes[1].identifier, 12);
    EXPECT_EQ(s.haplotypes[1].status, 1);
    EXPECT_EQ(s.haplotypes[2].status, 0);  // only a lower-case 'a' marks a case
    const std::vector<int32_t> alleles = {1, 2, 0, 2, 2, 1, 1, 1, 1, 2, 1, 2};
    EXPECT_EQ(s.alleles, alleles);
    EXPECT_EQ(s.haplotypes[0].trait, 0.0);
}

TEST(DataFile, TraitValuesInSinglePrecision) {
    const AnalysisState s = readData("h\n1 1e3 1 2\n2 0.1 2 1\n3 -2.5 1 1\n", true);
    ASSERT_EQ(s.nHaplotypes, 3);
    EXPECT_EQ(s.haplotypes[0].trait, 1000.0);
    EXPECT_EQ(s.haplotypes[1].trait, static_cast<double>(0.1f));
    EXPECT_EQ(s.haplotypes[2].trait, -2.5);
    EXPECT_EQ(s.nAffected + s.nUnaffected, 0);
    EXPECT_EQ(s.haplotypes[0].status, 0);
}

TEST(DataFile, RejectsBadLinesNamingTheLine) {
    const struct {
        const char* text;
        bool trait;
        long line;
        const char* message;
    } cases[] = {
        {"", false, 2, "no haplotype line"},
        {"header only\n", false, 2, "no haplotype line"},
        {"h\n\n1 a 1\n", false, 2, "no haplotype line"},
        {"h\n1 a 1 2\n7\n", false, 3, "found 1 field"},
        {"h\n1 a 1 2\n , \t\n", false, 3, "found 0 fields"},
        {"h\n1 a 1 2\n2 c 1\n", false, 3, "1 alleles, expected 2 as on line 2"},
        {"h\n1 a\n", false, 2, "first haplotype line has no allele"},
        {"h\n1 a 1\nx2 c 1\n", false, 3, "identifier 'x2' does not begin with an integer"},
        {"h\n3000000000 a 1\n", false, 2, "outside the 32-bit integer range"},
        {"h\n-2147483649 a 1\n", false, 2, "outside the 32-bit integer range"},
        {"h\n1 1.5x 1\n", true, 2, "trait value '1.5x' is not a finite decimal number"},
        {"h\n1 inf 1\n", true, 2, "trait value 'inf'"},
        {"h\n1 1e39 1\n", true, 2, "trait value '1e39'"},
        {"h\n1 a 1 2.0\n", false, 2, "allele '2.0' of marker 2 is not a 32-bit integer"},
        {"h\n1 a 1 2147483648\n", false, 2, "allele '2147483648'"},
        {"h\n1 a 1 -2147483649\n", false, 2, "allele '-2147483649'"},
    };
    for (const auto& c : cases) {
        try {
            readData(c.text, c.trait);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const InputError& error) {
            EXPECT_EQ(error.file(), "data.txt");
            EXPECT_EQ(error.line(), c.line) << c.text;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << error.describe();
        }
    }
}

// Lines of one-digit codes are read without splitting them into fields; lines
// that only nearly look like that are split. Either way, what is read is the same.
TEST(DataFile, LinesOfDigitsReadAsSplitLinesDo) {
    const struct {
        const char* line;
        std::vector<int32_t> codes;  // of the second haplotype; empty: an error
        int32_t identifier;
        int32_t status;
        const char* message;
    } cases[] = {
        {"2 a 4 5 6", {4, 5, 6}, 2, 1, ""},
        {"-7,c,0,9,6", {0, 9, 6}, -7, 0, ""},
        {"2\taffected\t4\t5\t6\r", {4, 5, 6}, 2, 1, ""},
        {" 2  a 4,5\t6", {4, 5, 6}, 2, 1, ""},
        {"2 a  4 5 6", {4, 5, 6}, 2, 1, ""},
        {"2 a 4  5 6", {4, 5, 6}, 2, 1, ""},
        {"2 a 4 5 6 ", {4, 5, 6}, 2, 1, ""},
        {"2x a 4 5 16", {4, 5, 16}, 2, 1, ""},
        {"2 a 4 5 -6", {4, 5, -6}, 2, 1, ""},
        {"2 a 4 5x6", {}, 0, 0, "2 alleles, expected 3 as on line 2"},
        {"2 a 45 6", {}, 0, 0, "2 alleles, expected 3"},
        {"2 a 4 5 6 7", {}, 0, 0, "4 alleles, expected 3"},
        {"2 a 4 5 a", {}, 0, 0, "allele 'a' of marker 3"},
        {"a b 4 5 6", {}, 0, 0, "identifier 'a' does not begin with an integer"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("h\n1 a 1 2 3\n") + c.line + "\n";
        if (c.codes.empty()) {
            try {
                readData(text, false);
                ADD_FAILURE() << "accepted: " << c.line;
            } catch (const InputError& error) {
                EXPECT_EQ(error.line(), 3) << c.line;
                EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.describe();
            }
            continue;
        }
        const AnalysisState s = readData(text, false);
        ASSERT_EQ(s.nHaplotypes, 2) << c.line;
        std::vector<int32_t> codes = {1, 2, 3};
        codes.insert(codes.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(s.alleles, codes) << c.line;
        EXPECT_EQ(s.haplotypes[1].identifier, c.identifier) << c.line;
        EXPECT_EQ(s.haplotypes[1].status, c.status) << c.line;
    }
}

TEST(DataFile, AcceptsCodesAtThe32BitLimits) {
    const AnalysisState s = readData("h\n-2147483648 a 2147483647 -2147483648\n", false);
    EXPECT_EQ(s.haplotypes[0].identifier, INT32_MIN);
    EXPECT_EQ(s.alleles[0], INT32_MAX);
    EXPECT_EQ(s.alleles[1], INT32_MIN);
}

class DistanceFile : public ::testing::Test {
protected:
    std::string write(const std::string& text) {
        // One file per test: ctest runs the tests of this fixture side by side.
        const std::string path = ::testing::TempDir() + "orvane_distances_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    AnalysisState stateWithMarkers(int markers) {
        AnalysisState state;
        state.nMarkers = markers;
        return state;
    }
};

TEST_F(DistanceFile, DefaultGapWithoutAFile) {
    AnalysisState s = stateWithMarkers(3);
    readMarkerDistances(s, nullptr);
    EXPECT_EQ(s.markerDistances, (std::vector<double>{0.0001, 0.0001}));
}

TEST_F(DistanceFile, FirstLineInCentimorgans) {
    struct {
        const char* text;
        std::vector<double> gaps;
    } cases[] = {
        {"100 50\n", {1.0, 0.5}},
        {"100,\t50 7 junk\nrest ignored\n", {1.0, 0.5}},
        {"0.1\r\n", {static_cast<double>(0.1f) * 0.01, 0.0}},
        {"", {0.0, 0.0}},
        {"\n3 4\n", {0.0, 0.0}},
    };
    for (const auto& c : cases) {
        AnalysisState s = stateWithMarkers(3);
        const std::string path = write(c.text);
        readMarkerDistances(s, &path);
        EXPECT_EQ(s.markerDistances, c.gaps) << c.text;
    }
}

TEST_F(DistanceFile, RejectsUnreadableAndNegativeGaps) {
    for (const char* text : {"1 x\n", "1 -2\n", "1 1e40\n", "nan 1\n"}) {
        AnalysisState s = stateWithMarkers(3);
        const std::string path = write(text);
        EXPECT_THROW(readMarkerDistances(s, &path), InputError) << text;
    }
    AnalysisState s = stateWithMarkers(3);
    const std::string missing = ::testing::TempDir() + "no_such_distance_file";
    EXPECT_THROW(readMarkerDistances(s, &missing), InputError);
}

}  // namespace
}  // namespace orvane
