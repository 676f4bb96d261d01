// The readers on inputs far beyond the usual sizes: megabyte lines and tokens,
// 100,000 haplotypes, megabyte parameter and distance files. Reading must stay
// linear, an error must stay one short line, and what fits is read as usual.
// The inputs are built in memory or in the test's temp dir, never committed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "model/parameter_file.h"

namespace orvane {
namespace {

constexpr size_t kMegabyte = 1000000;
// Each case reads a few megabytes in well under a second, even under the
// sanitizers; a reader that is quadratic in the line or file length needs
// minutes here.
constexpr double kBudgetSeconds = 5.0;

class Stopwatch {
public:
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void readData(AnalysisState& state, const std::string& text) {
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(file, nullptr);
    try {
        readHaplotypeFile(state, file, "data.txt");
    } catch (...) {
        std::fclose(file);
        throw;
    }
    std::fclose(file);
}

TEST(LargeInputs, HundredThousandHaplotypeLines) {
    std::string text = "id status m1 m2 m3 m4 m5 m6 m7 m8 m9 m10\n";
    for (int h = 0; h < 100000; ++h) {
        text += std::to_string(h) + (h % 2 ? " a" : " c") + " 1 2 1 2 1 2 1 2 1 " +
                std::to_string(h % 7) + "\n";
    }
    AnalysisState state;
    const Stopwatch watch;
    readData(state, text);
    EXPECT_LT(watch.seconds(), kBudgetSeconds);
    ASSERT_EQ(state.nHaplotypes, 100000);
    EXPECT_EQ(state.nMarkers, 10);
    EXPECT_EQ(state.nAffected, 50000);
    EXPECT_EQ(state.haplotypes.back().identifier, 99999);
    EXPECT_EQ(state.alleles.size(), 1000000u);
    EXPECT_EQ(state.alleles.back(), 99999 % 7);
}

TEST(LargeInputs, MegabyteLines) {
    std::string alleles;
    for (size_t k = 0; k < kMegabyte / 2; ++k) alleles += k % 3 ? " 1" : " 2";
    // A megabyte header is skipped like any other; a megabyte of alleles is one
    // haplotype over half a million markers.
    const std::string text = std::string(kMegabyte, 'h') + "\n7 a" + alleles + "\n8 c" + alleles + "\n";
    AnalysisState state;
    const Stopwatch watch;
    readData(state, text);
    EXPECT_LT(watch.seconds(), kBudgetSeconds);
    ASSERT_EQ(state.nHaplotypes, 2);
    EXPECT_EQ(state.nMarkers, 500000);
    EXPECT_EQ(state.alleles.size(), kMegabyte);
    EXPECT_EQ(state.alleles[3], 2);
    EXPECT_EQ(state.alleles[500001], 1);
}

TEST(LargeInputs, MegabyteTokensGiveOneShortMessage) {
    const std::string digits(kMegabyte, '7');
    const struct {
        std::string line;
        bool trait;
        const char* message;
    } cases[] = {
        {digits + " a 1", false, "is outside the 32-bit integer range"},
        {std::string(kMegabyte, 'x') + " a 1", false, "does not begin with an integer"},
        {"1 " + digits + " 1", true, "is not a finite decimal number"},
        {"1 a 1 " + digits, false, "of marker 2 is not a 32-bit integer"},
    };
    for (const auto& c : cases) {
        AnalysisState state;
        state.qtlMode = c.trait ? 1 : 0;
        const Stopwatch watch;
        try {
            readData(state, "h\n" + c.line + "\n");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const InputError& error) {
            const std::string what = error.describe();
            EXPECT_NE(what.find(c.message), std::string::npos) << what.substr(0, 200);
            EXPECT_LT(what.size(), 200u) << "the offending token is quoted in full";
        }
        EXPECT_LT(watch.seconds(), kBudgetSeconds) << c.message;
    }
}

TEST(LargeInputs, MegabyteOfDigitsIsOneReal) {
    const std::string third = "0." + std::string(kMegabyte, '3');
    AnalysisState data;
    data.qtlMode = 1;
    readData(data, "h\n1 " + third + " 1\n");
    EXPECT_EQ(data.haplotypes[0].trait, static_cast<double>(1.0f / 3.0f));

    AnalysisState params;
    readParameterFile(params, "e 1 " + third + " q " + third + " w 3 d 0 p 7 r " + third, "params.txt");
    EXPECT_EQ(params.epsilon, 1.0 / 3.0);
    EXPECT_EQ(params.minPtsQuantile, 1.0 / 3.0);
    EXPECT_EQ(params.nPermutations, 7);
    EXPECT_EQ(params.reportThreshold, 1.0f / 3.0f);
}

TEST(LargeInputs, MegabyteParameterFiles) {
    const std::string settings = "e 1 0.25 q 0.5 w 9 d 0 p 7 r 2";
    const struct {
        const char* name;
        std::string text;
        double epsilon;
        int32_t windowSize, permutations;
    } cases[] = {
        // Junk with no number in it after the epsilon mode: every later setting keeps its default.
        {"junk", "epsilon 1 " + std::string(kMegabyte, '#'), 0.2, 21, 1000},
        {"space before", std::string(kMegabyte, '\n') + settings, 0.25, 9, 7},
        {"long label", std::string(kMegabyte, 'e') + settings.substr(1), 0.25, 9, 7},
        {"junk after", settings + " " + std::string(kMegabyte, '9'), 0.25, 9, 7},
        // A window size of a million digits does not fit: reading stops there.
        {"huge integer", "e 1 0.25 q 0.5 w " + std::string(kMegabyte, '9') + " d 0 p 7", 0.25, 21, 1000},
    };
    for (const auto& c : cases) {
        AnalysisState state;
        const Stopwatch watch;
        readParameterFile(state, c.text, "params.txt");
        EXPECT_LT(watch.seconds(), kBudgetSeconds) << c.name;
        EXPECT_EQ(state.epsilon, c.epsilon) << c.name;
        EXPECT_EQ(state.windowSize, c.windowSize) << c.name;
        EXPECT_EQ(state.nPermutations, c.permutations) << c.name;
    }
    // Junk where the epsilon mode belongs is refused, quickly and in one short line.
    AnalysisState state;
    const Stopwatch watch;
    try {
        readParameterFile(state, "epsilon " + std::string(kMegabyte, '#'), "params.txt");
        ADD_FAILURE() << "a file without an epsilon mode was accepted";
    } catch (const InputError& error) {
        EXPECT_LT(std::string(error.what()).size(), 1000u);
    }
    EXPECT_LT(watch.seconds(), kBudgetSeconds);
}

TEST(LargeInputs, MegabyteDistanceLine) {
    const std::string path = ::testing::TempDir() + "orvane_large_distances.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "100 50 25";
        for (size_t k = 0; k < kMegabyte / 4; ++k) out << " 0.5";
        out << "\n";
    }
    AnalysisState state;
    state.nMarkers = 4;
    const Stopwatch watch;
    readMarkerDistances(state, &path);
    EXPECT_LT(watch.seconds(), kBudgetSeconds);
    EXPECT_EQ(state.markerDistances, (std::vector<double>{1.0, 0.5, 0.25}));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace orvane
