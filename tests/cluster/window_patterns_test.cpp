// Grouping a window's haplotypes into patterns from packed keys gives what the
// grouping from allele rows gives, whatever codes the markers carry.
#include "cluster/window_patterns.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

// Rows whose markers carry `codes[k]` distinct values each, drawn from `values`.
AnalysisState stateWithCodes(std::mt19937& rng, int32_t n, const std::vector<int>& codes,
                             const std::vector<int32_t>& values) {
    std::vector<std::vector<int32_t>> rows(static_cast<size_t>(n), std::vector<int32_t>(codes.size()));
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t first = rng() % values.size();
        for (auto& row : rows) {
            // Mostly the first code, so that windows repeat patterns.
            const size_t pick = rng() % 3 == 0 ? rng() % static_cast<size_t>(codes[k]) : 0;
            row[k] = values[(first + pick) % values.size()];
        }
    }
    return test::stateFromAlleles(rows);
}

void expectSameGrouping(const AnalysisState& state, int32_t window, const std::string& what) {
    const PackedAlleles packed(state);
    WindowPatterns fromRows;
    WindowPatterns fromKeys;
    for (int32_t start = 0; start + window <= state.nMarkers; ++start) {
        if (!packed.fits(start, window)) continue;
        groupWindowPatterns(state, start, window, fromRows);
        groupWindowPatterns(packed, state.nHaplotypes, start, window, fromKeys);
        const std::string where = what + " start " + std::to_string(start);
        ASSERT_EQ(fromKeys.count, fromRows.count) << where;
        ASSERT_EQ(fromKeys.patternOf, fromRows.patternOf) << where;
        ASSERT_EQ(fromKeys.offsets, fromRows.offsets) << where;
        ASSERT_EQ(fromKeys.haplotypes, fromRows.haplotypes) << where;
    }
}

TEST(WindowPatterns, KeysGroupAsRowsDo) {
    const int32_t big = std::numeric_limits<int32_t>::max();
    const int32_t small = std::numeric_limits<int32_t>::min();
    // Codes of a byte (stored a byte each), then with codes that need four.
    std::vector<int32_t> narrow;
    for (int32_t v = -128; v <= 127; v += 4) narrow.push_back(v);
    std::vector<int32_t> wide = narrow;
    wide.push_back(big);
    wide.push_back(small);
    wide.push_back(100000);
    struct Case {
        const char* what;
        std::vector<int> codes;  // distinct codes per marker
        int32_t window;
    };
    const Case cases[] = {
        {"two codes", std::vector<int>(40, 2), 21},
        {"one code at some markers", {1, 2, 1, 2, 2, 1, 1, 2, 2, 2}, 5},
        {"one code everywhere", std::vector<int>(6, 1), 3},
        {"three and four codes", {3, 4, 2, 3, 4, 4, 2, 3, 3, 2, 4, 3}, 7},
        // 40 codes: a marker past the short list, six bits a rank.
        {"many codes", {40, 2, 17, 40, 3, 2, 40, 5}, 4},
        // Keys that straddle two words of the packed rows.
        {"straddling words", std::vector<int>(80, 3), 25},
        {"a whole word", std::vector<int>(64, 2), 64},
    };
    std::mt19937 rng(99);
    for (const Case& c : cases) {
        for (int repeat = 0; repeat < 4; ++repeat) {
            const int32_t n = 1 + static_cast<int32_t>(rng() % 300);
            AnalysisState state = stateWithCodes(rng, n, c.codes, repeat % 2 ? wide : narrow);
            if (repeat % 2) state.alleles.set(0, big);  // at least one code of four bytes
            ASSERT_EQ(state.alleles.wide(), repeat % 2 == 1) << c.what;
            expectSameGrouping(state, c.window, std::string(c.what) + " n " + std::to_string(n));
        }
    }
}

TEST(WindowPatterns, WindowsBeyondSixtyFourBitsDoNotFit) {
    std::mt19937 rng(5);
    std::vector<int32_t> values;
    for (int32_t v = 0; v < 8; ++v) values.push_back(v);
    // Eight codes: three bits a marker, so 21 markers fit and 22 do not.
    const AnalysisState state = stateWithCodes(rng, 600, std::vector<int>(30, 8), values);
    const PackedAlleles packed(state);
    EXPECT_TRUE(packed.fits(0, 21));
    EXPECT_TRUE(packed.fits(9, 21));
    EXPECT_FALSE(packed.fits(0, 22));
    EXPECT_FALSE(packed.fits(8, 22));
}

}  // namespace
}  // namespace orvane
