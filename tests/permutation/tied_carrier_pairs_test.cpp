#include "permutation/tied_carrier_pairs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {
namespace {

// Per set, the ordered pairs of its carriers holding equal values, counted
// pair by pair.
std::vector<int64_t> pairsByHand(const std::vector<double>& valueOf, const std::vector<std::vector<int32_t>>& sets) {
    std::vector<int64_t> pairs;
    for (const std::vector<int32_t>& set : sets) {
        int64_t count = 0;
        for (const int32_t a : set) {
            for (const int32_t b : set) count += valueOf[static_cast<size_t>(a)] == valueOf[static_cast<size_t>(b)];
        }
        pairs.push_back(count);
    }
    return pairs;
}

TEST(TiedCarrierPairs, EveryKernelCountsThePairsByHand) {
    // 700 records over 9 values (runs over 255 records), 70 sets (two words of
    // 64 sets, the second partly used), rearranged by a few shuffles.
    const int32_t n = 700;
    std::mt19937 rng(4);
    AnalysisState state;
    state.nHaplotypes = n;
    state.haplotypes.resize(n);
    for (HaplotypeRecord& record : state.haplotypes) record.trait = static_cast<double>(rng() % 9) * (rng() % 50 == 0 ? 0.5 : 1.0);
    std::vector<uint32_t> index;
    const TraitRanks ranks(state, index);
    ASSERT_TRUE(ranks.ties);
    std::vector<std::vector<int32_t>> sets(70);
    for (size_t k = 0; k < sets.size(); ++k) {
        for (int32_t h = 0; h < n; ++h) {
            if (rng() % (k + 2) == 0) sets[k].push_back(h);
        }
    }
    std::vector<std::pair<const int32_t*, const int32_t*>> ranges;
    for (const auto& set : sets) ranges.emplace_back(set.data(), set.data() + set.size());

    int kernels = 0;
    for (const PairKernel kernel : {PairKernel::kPlain, PairKernel::kAvx2, PairKernel::kAvx512}) {
        if (!TiedCarrierPairs::available(kernel)) continue;
        ++kernels;
        const TiedCarrierPairs counter(ranks, n, ranges, kernel);
        TiedCarrierPairs::Scratch scratch;
        std::vector<uint32_t> shuffled = index;
        for (int replicate = 0; replicate < 3; ++replicate) {
            std::shuffle(shuffled.begin(), shuffled.end(), rng);
            std::vector<double> valueOf(static_cast<size_t>(n));
            for (int32_t h = 0; h < n; ++h) valueOf[static_cast<size_t>(h)] = ranks.sorted[shuffled[static_cast<size_t>(h)]];
            std::vector<int64_t> pairs(sets.size(), -1);
            counter.count(shuffled.data(), scratch, pairs.data());
            EXPECT_EQ(pairs, pairsByHand(valueOf, sets)) << "kernel " << static_cast<int>(kernel);
        }
    }
    EXPECT_GE(kernels, 1);
}

}  // namespace
}  // namespace orvane
