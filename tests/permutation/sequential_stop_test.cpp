#include "permutation/sequential_stop.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace orvane {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct StopCase {
    const char* what;
    std::vector<double> observed;
    int32_t hits;
    int32_t maximum;
    std::vector<std::vector<double>> replicates;  // regional maxima per replicate, in draw order
    int32_t stopsAfter;                           // 0: never stops early
    std::vector<int64_t> hitsAtEnd;
};

TEST(SequentialStop, StopsAfterTheReplicateThatGivesEveryStatisticItsHits) {
    const StopCase cases[] = {
        {"one statistic, ties count", {5}, 2, 10, {{1}, {5}, {4}, {6}, {9}}, 4, {2}},
        {"every statistic must reach h", {5, 3}, 2, 10, {{6, 1}, {7, 1}, {8, 1}, {1, 3}, {1, 4}, {9, 9}}, 5, {3, 2}},
        {"never at the last replicate", {5}, 2, 3, {{1}, {6}, {6}}, 0, {2}},
        {"the bound not reached, no stop", {5}, 3, 10, {{6}, {6}, {1}, {1}}, 0, {2}},
        {"a replicate without a number never hits", {0}, 1, 10, {{kNaN}, {-kInf}, {0}}, 3, {1}},
        {"an observed -inf is reached by any replicate", {-kInf, 2}, 1, 10, {{-kInf, 1}, {-kInf, 2}}, 2, {2, 1}},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.what);
        SequentialStop stop(c.observed, c.hits, c.maximum);
        int32_t stoppedAfter = 0;
        for (size_t r = 0; r < c.replicates.size() && stoppedAfter == 0; ++r) {
            if (stop.offer(c.replicates[r])) stoppedAfter = static_cast<int32_t>(r) + 1;
        }
        EXPECT_EQ(stoppedAfter, c.stopsAfter);
        EXPECT_EQ(stop.stopped(), c.stopsAfter > 0);
        if (c.stopsAfter > 0) {
            EXPECT_EQ(stop.drawn(), c.stopsAfter);
        }
        EXPECT_EQ(stop.hits(), c.hitsAtEnd);
    }
}

TEST(SequentialStop, OnceStoppedCountsNothingMore) {
    SequentialStop stop({1.0}, 1, 10);
    ASSERT_TRUE(stop.offer({2.0}));
    EXPECT_TRUE(stop.offer({3.0}));
    EXPECT_EQ(stop.drawn(), 1);
    EXPECT_EQ(stop.hits(), std::vector<int64_t>{1});
}

TEST(SequentialStop, PValueIsHitsOverReplicatesDrawn) {
    EXPECT_EQ(stoppedPValue(10, 40), 0.25);
    EXPECT_EQ(stoppedPValue(10, 10), 1.0);
    EXPECT_DOUBLE_EQ(stoppedPValue(kAdaptiveHits, 30), 1.0 / 3);
}

}  // namespace
}  // namespace orvane
