#include "permutation/set_deltas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace orvane {
namespace {

using Records = std::vector<int32_t>;

std::vector<RecordSpan> spansOf(const std::vector<Records>& sets) {
    std::vector<RecordSpan> spans;
    for (const Records& set : sets) spans.push_back({set.data(), set.data() + set.size()});
    return spans;
}

Records recordsOf(RecordSpan span) { return Records(span.begin, span.end); }

// The records a base stands for.
Records baseRecords(const SetBase& base, int32_t records, const std::vector<Records>& sets) {
    Records all(static_cast<size_t>(records));
    for (int32_t h = 0; h < records; ++h) all[static_cast<size_t>(h)] = h;
    switch (base.kind) {
        case SetBase::kNothing: return {};
        case SetBase::kEveryRecord: return all;
        case SetBase::kSet: return sets[static_cast<size_t>(base.set)];
        case SetBase::kComplementOfSet: {
            Records out;
            const Records& other = sets[static_cast<size_t>(base.set)];
            std::set_difference(all.begin(), all.end(), other.begin(), other.end(), std::back_inserter(out));
            return out;
        }
    }
    return {};
}

// Every set is its base with its added records and without its removed ones,
// the lists ascending, and no choice among the candidates is cheaper.
void expectDeltasRebuildTheSets(int32_t records, const std::vector<Records>& sets,
                                const std::vector<std::vector<int32_t>>& candidates) {
    const SetDeltas deltas(records, spansOf(sets), candidates);
    ASSERT_EQ(deltas.count(), static_cast<int32_t>(sets.size()));
    for (int32_t k = 0; k < deltas.count(); ++k) {
        const SetBase& base = deltas.base(k);
        const Records added = recordsOf(deltas.added(k));
        const Records removed = recordsOf(deltas.removed(k));
        EXPECT_TRUE(std::is_sorted(added.begin(), added.end()));
        EXPECT_TRUE(std::is_sorted(removed.begin(), removed.end()));
        if (base.kind == SetBase::kSet || base.kind == SetBase::kComplementOfSet) {
            EXPECT_LT(base.set, k);
        }
        std::set<int32_t> rebuilt;
        for (const int32_t h : baseRecords(base, records, sets)) rebuilt.insert(h);
        for (const int32_t h : removed) EXPECT_EQ(rebuilt.erase(h), 1u) << "set " << k << " removes " << h;
        for (const int32_t h : added) EXPECT_TRUE(rebuilt.insert(h).second) << "set " << k << " adds " << h;
        EXPECT_EQ(Records(rebuilt.begin(), rebuilt.end()), sets[static_cast<size_t>(k)]) << "set " << k;

        const int64_t cost = static_cast<int64_t>(added.size() + removed.size());
        const int64_t size = static_cast<int64_t>(sets[static_cast<size_t>(k)].size());
        EXPECT_LE(cost, std::min<int64_t>(size, records - size)) << "set " << k;
        for (const int32_t c : candidates[static_cast<size_t>(k)]) {
            Records differ;
            const Records& other = sets[static_cast<size_t>(c)];
            const Records& own = sets[static_cast<size_t>(k)];
            std::set_symmetric_difference(own.begin(), own.end(), other.begin(), other.end(), std::back_inserter(differ));
            const int64_t d = static_cast<int64_t>(differ.size());
            EXPECT_LE(cost, std::min(d, records - d)) << "set " << k << " against " << c;
        }
    }
}

TEST(SetDeltas, HandWorkedChoices) {
    const struct {
        std::string name;
        int32_t records;
        std::vector<Records> sets;
        std::vector<std::vector<int32_t>> candidates;
        SetBase::Kind lastKind;
        int32_t lastBase;
    } cases[] = {
        {"a small set stands alone", 10, {{2, 5}}, {{}}, SetBase::kNothing, -1},
        {"a set of nearly every record", 10, {{0, 1, 2, 3, 4, 5, 6, 7, 8}}, {{}}, SetBase::kEveryRecord, -1},
        {"one record more than an earlier set", 10, {{1, 2, 3, 4}, {1, 2, 3, 4, 9}}, {{}, {0}}, SetBase::kSet, 0},
        {"the complement of an earlier set", 10, {{0, 2, 4, 6}, {1, 3, 5, 7, 8, 9}}, {{}, {0}},
         SetBase::kComplementOfSet, 0},
        {"an earlier set not offered is not taken", 10, {{1, 2, 3, 4}, {1, 2, 3, 4, 9}}, {{}, {}}, SetBase::kNothing, -1},
        {"the nearer of two candidates", 12, {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5}},
         {{}, {0}, {0, 1}}, SetBase::kSet, 0},
        {"an empty set", 8, {{}}, {{}}, SetBase::kNothing, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectDeltasRebuildTheSets(c.records, c.sets, c.candidates);
        const SetDeltas deltas(c.records, spansOf(c.sets), c.candidates);
        const SetBase& base = deltas.base(deltas.count() - 1);
        EXPECT_EQ(base.kind, c.lastKind);
        EXPECT_EQ(base.set, c.lastBase);
    }
}

TEST(SetDeltas, DriftingSetsRebuildExactly) {
    // Each set a few records away from the one before, or from its
    // complement: the way sliding windows' clusters and carriers change.
    // 130 records: masks of three words, the last one partly used.
    for (const uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        const int32_t records = 130;
        std::vector<Records> sets;
        std::vector<std::vector<int32_t>> candidates;
        std::vector<char> in(records, 0);
        for (int32_t k = 0; k < 40; ++k) {
            if (k % 7 == 3) {
                for (char& bit : in) bit = !bit;
            }
            for (int flip = 0; flip < 4; ++flip) in[rng() % records] ^= 1;
            Records set;
            for (int32_t h = 0; h < records; ++h) {
                if (in[static_cast<size_t>(h)]) set.push_back(h);
            }
            sets.push_back(set);
            std::vector<int32_t> offered;
            for (int32_t c = std::max(0, k - 3); c < k; ++c) offered.push_back(c);
            candidates.push_back(offered);
        }
        expectDeltasRebuildTheSets(records, sets, candidates);
    }
}

}  // namespace
}  // namespace orvane
