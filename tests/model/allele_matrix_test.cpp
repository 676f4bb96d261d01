// The allele matrix keeps a byte a code until a code needs more, then four.
#include "model/allele_matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace orvane {
namespace {

TEST(AlleleMatrix, WidensOnceACodeNeedsMoreThanAByte) {
    const int32_t big = std::numeric_limits<int32_t>::max();
    const int32_t low = std::numeric_limits<int32_t>::min();
    struct Case {
        std::vector<int32_t> codes;
        bool wide;
    };
    const Case cases[] = {
        {{}, false},
        {{0, 1, 2, -1, 127, -128}, false},
        {{1, 2, 128, 1}, true},
        {{1, -129}, true},
        {{big, 0, low}, true},
    };
    for (const Case& c : cases) {
        AlleleMatrix matrix;
        matrix.append(c.codes.begin(), c.codes.end());
        EXPECT_EQ(matrix.wide(), c.wide);
        EXPECT_EQ(matrix.codes(), c.codes);
        ASSERT_EQ(matrix.size(), c.codes.size());
        for (size_t i = 0; i < c.codes.size(); ++i) EXPECT_EQ(matrix[i], c.codes[i]);
        // Read through the stored rows as the hot loops read them.
        const std::vector<int32_t> visited =
            matrix.visit([&](const auto* codes) { return std::vector<int32_t>(codes, codes + matrix.size()); });
        EXPECT_EQ(visited, c.codes);
    }
}

TEST(AlleleMatrix, AssignmentsKeepEveryCode) {
    AlleleMatrix matrix;
    matrix.assign(6, 2);
    EXPECT_FALSE(matrix.wide());
    matrix[1] = 1;
    matrix.set(2, 300);  // widens, keeping the codes set before
    matrix[3] = matrix[1];
    EXPECT_TRUE(matrix.wide());
    EXPECT_EQ(matrix.codes(), (std::vector<int32_t>{2, 1, 300, 1, 2, 2}));

    // A narrow matrix takes a wide one's codes row by row.
    AlleleMatrix copy;
    copy.assign(6, 0);
    copy.copyCodes(matrix, 0, 3, 3);
    EXPECT_EQ(copy.codes(), (std::vector<int32_t>{0, 0, 0, 2, 1, 300}));

    matrix.clear();
    EXPECT_TRUE(matrix.empty());
    EXPECT_FALSE(matrix.wide());
    matrix = {5, -7};
    EXPECT_EQ(matrix, (std::vector<int32_t>{5, -7}));
    matrix.assign(2, -1000);
    EXPECT_TRUE(matrix.wide());
    EXPECT_EQ(matrix.back(), -1000);
}

}  // namespace
}  // namespace orvane
