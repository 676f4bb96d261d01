#include "driver/thread_count.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

struct ThreadCase {
    const char* name;
    int processors;
    const char* requested;  // null: ORVANE_THREADS not set
    int threads;
    bool warns;
};

void PrintTo(const ThreadCase& c, std::ostream* out) { *out << c.name; }

class ThreadCountTest : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(ThreadCountTest, ChoosesWithinTheAffinityMask) {
    const ThreadCase& c = GetParam();
    const ThreadCount count = chooseThreadCount(c.processors, c.requested);
    EXPECT_EQ(count.threads, c.threads);
    EXPECT_EQ(count.warning.has_value(), c.warns);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ThreadCountTest,
    ::testing::Values(ThreadCase{"unset", 4, nullptr, 4, false},
                      ThreadCase{"empty", 4, "", 4, false},
                      ThreadCase{"fewer", 4, "2", 2, false},
                      ThreadCase{"one", 4, "1", 1, false},
                      ThreadCase{"more_than_the_mask", 2, "16", 2, false},
                      ThreadCase{"zero", 4, "0", 4, true},
                      ThreadCase{"negative", 4, "-3", 4, true},
                      ThreadCase{"text", 4, "all", 4, true},
                      ThreadCase{"trailing_text", 4, "2x", 4, true},
                      ThreadCase{"leading_blank", 4, " 2", 4, true},
                      ThreadCase{"overflow", 4, "99999999999999999999999", 4, true},
                      ThreadCase{"unreadable_mask", 0, "3", 1, false}),
    [](const ::testing::TestParamInfo<ThreadCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvane
