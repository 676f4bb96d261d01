#include "permutation/set_deltas.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace orvane {

namespace {

using Mask = std::vector<uint64_t>;

// Candidates are ranked by a sketch of each set, its bits at evenly spaced
// records, and only the few nearest are compared record by record.
constexpr size_t kSketchWords = 4;
constexpr size_t kComparedCandidates = 4;
using Sketch = std::array<uint64_t, kSketchWords>;

Sketch sketchOf(const Mask& mask, int32_t records) {
    Sketch sketch{};
    const size_t samples = kSketchWords * 64;
    for (size_t i = 0; i < samples; ++i) {
        const size_t h = i * static_cast<size_t>(records) / samples;
        if (h < static_cast<size_t>(records) && ((mask[h >> 6] >> (h & 63)) & 1)) sketch[i >> 6] |= uint64_t{1} << (i & 63);
    }
    return sketch;
}

// The sketch's estimate of the cheaper of a candidate and its complement.
int32_t sketchCost(const Sketch& a, const Sketch& b) {
    int32_t differ = 0;
    for (size_t w = 0; w < kSketchWords; ++w) differ += __builtin_popcountll(a[w] ^ b[w]);
    return std::min(differ, static_cast<int32_t>(kSketchWords * 64) - differ);
}

int64_t differing(const Mask& a, const Mask& b) {
    int64_t count = 0;
    for (size_t w = 0; w < a.size(); ++w) count += __builtin_popcountll(a[w] ^ b[w]);
    return count;
}

// The records whose bit is set, ascending.
void listRecords(const Mask& bits, std::vector<int32_t>& out) {
    int64_t count = 0;
    for (const uint64_t word : bits) count += __builtin_popcountll(word);
    out.reserve(static_cast<size_t>(count));
    for (size_t w = 0; w < bits.size(); ++w) {
        for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
            out.push_back(static_cast<int32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(word))));
        }
    }
}

}  // namespace

SetDeltas::SetDeltas(int32_t records, const std::vector<RecordSpan>& sets,
                     const std::vector<std::vector<int32_t>>& candidates) {
    const size_t words = (static_cast<size_t>(records) + 63) / 64;
    Mask every(words, ~uint64_t{0});
    if (records % 64 != 0) every.back() = (uint64_t{1} << (records % 64)) - 1;

    // A set's mask is kept only until the last set that may be written after it.
    std::vector<int32_t> lastUse(sets.size(), -1);
    for (size_t k = 0; k < candidates.size(); ++k) {
        for (const int32_t c : candidates[k]) lastUse[static_cast<size_t>(c)] = static_cast<int32_t>(k);
    }
    std::unordered_map<int32_t, Mask> masks;
    std::vector<Sketch> sketches(sets.size());
    std::vector<std::pair<int32_t, int32_t>> ranked;  // (estimated cost, candidate)

    bases_.resize(sets.size());
    lists_.resize(2 * sets.size());
    Mask own(words), base(words), bits(words);
    for (size_t k = 0; k < sets.size(); ++k) {
        std::fill(own.begin(), own.end(), 0);
        for (const int32_t* h = sets[k].begin; h != sets[k].end; ++h) own[static_cast<size_t>(*h) >> 6] |= uint64_t{1} << (*h & 63);

        SetBase& chosen = bases_[k];
        int64_t cost = sets[k].size();
        if (records - cost < cost) {
            chosen = {SetBase::kEveryRecord, -1};
            cost = records - cost;
        }
        sketches[k] = sketchOf(own, records);
        ranked.clear();
        for (const int32_t c : candidates[k]) ranked.emplace_back(sketchCost(sketches[k], sketches[static_cast<size_t>(c)]), c);
        const size_t compared = std::min(kComparedCandidates, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(compared), ranked.end());
        for (size_t r = 0; r < compared; ++r) {
            const int32_t c = ranked[r].second;
            const int64_t d = differing(own, masks.at(c));
            if (d < cost) {
                chosen = {SetBase::kSet, c};
                cost = d;
            }
            if (records - d < cost) {
                chosen = {SetBase::kComplementOfSet, c};
                cost = records - d;
            }
        }
        switch (chosen.kind) {
            case SetBase::kNothing: std::fill(base.begin(), base.end(), 0); break;
            case SetBase::kEveryRecord: base = every; break;
            case SetBase::kSet: base = masks.at(chosen.set); break;
            case SetBase::kComplementOfSet: {
                const Mask& other = masks.at(chosen.set);
                for (size_t w = 0; w < words; ++w) base[w] = every[w] & ~other[w];
                break;
            }
        }
        for (size_t w = 0; w < words; ++w) bits[w] = own[w] & ~base[w];
        listRecords(bits, lists_[2 * k]);
        for (size_t w = 0; w < words; ++w) bits[w] = base[w] & ~own[w];
        listRecords(bits, lists_[2 * k + 1]);

        if (lastUse[k] > static_cast<int32_t>(k)) masks.emplace(static_cast<int32_t>(k), own);
        for (const int32_t c : candidates[k]) {
            if (lastUse[static_cast<size_t>(c)] == static_cast<int32_t>(k)) masks.erase(c);
        }
    }
}

}  // namespace orvane
