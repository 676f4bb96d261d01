#include "scoring/lane_sums.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace orvane {
namespace {

// Every adder of a row type must give the plain code's sums to the bit, so that
// a run's results cannot depend on the processor's vector instructions.
template <typename Value>
void expectSameSums(const std::vector<std::pair<const char*, AddRows<Value>>>& adders, AddRows<Value> plain,
                    uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-50.0f, 50.0f);
    const int32_t firstRecord = 1000;
    std::vector<LaneRow<Value>> rows(300);
    for (LaneRow<Value>& row : rows) {
        for (int l = 0; l < kLanes; ++l) {
            row.value[l] = static_cast<Value>(value(rng));
            row.greater[l] = static_cast<int32_t>(rng() % 100000);
        }
    }
    std::vector<int32_t> members;
    for (int32_t h = 0; h < 300; ++h) {
        if (rng() % 3) members.push_back(firstRecord + h);
    }
    LaneSums start{};
    for (int l = 0; l < kLanes; ++l) {
        start.sum[l] = 0.1 * l;
        start.above[l] = 7 * l;
    }
    // Stop inside the members: the adders must stop at the same one.
    const int32_t stop = firstRecord + 250;
    LaneSums expected = start;
    const int32_t* expectedEnd = plain(rows.data(), firstRecord, members.data(), members.data() + members.size(),
                                       stop, expected);
    for (const auto& [name, add] : adders) {
        LaneSums sums = start;
        const int32_t* end = add(rows.data(), firstRecord, members.data(), members.data() + members.size(), stop, sums);
        EXPECT_EQ(end, expectedEnd) << name;
        EXPECT_EQ(std::memcmp(&sums, &expected, sizeof sums), 0) << name;
    }
}

TEST(LaneSums, VectorAddersGiveThePlainSumsToTheBit) {
    std::vector<std::pair<const char*, AddRows<float>>> floatAdders;
    std::vector<std::pair<const char*, AddRows<double>>> doubleAdders;
    if (haveAvx2()) {
        floatAdders.emplace_back("avx2 float", addRowsAvx2<float, true>);
        doubleAdders.emplace_back("avx2 double", addRowsAvx2<double, true>);
    }
    if (haveAvx512()) floatAdders.emplace_back("avx512 float", addFloatRowsAvx512<true>);
    for (uint32_t seed : {1u, 2u, 3u}) {
        expectSameSums<float>(floatAdders, addRowsPlain<float, true>, seed);
        expectSameSums<double>(doubleAdders, addRowsPlain<double, true>, seed);
    }
    // Without the counts the counts stay as they were.
    if (haveAvx512()) {
        LaneRow<float> row{};
        row.greater[0] = 5;
        const int32_t member = 0;
        LaneSums sums{};
        addFloatRowsAvx512<false>(&row, 0, &member, &member + 1, 1, sums);
        EXPECT_EQ(sums.above[0], 0);
    }
}

}  // namespace
}  // namespace orvane
