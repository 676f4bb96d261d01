#include "scoring/tied_carrier_pairs.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "scoring/cpu_features.h"

namespace orvane {

namespace {

// Adds a record's carrier bits to per-set byte counts, which the caller keeps
// below 256.
void addBitsPlain(const uint8_t* row, size_t rowBytes, uint8_t* small) {
    for (size_t k = 0; k < rowBytes * 8; ++k) small[k] = static_cast<uint8_t>(small[k] + ((row[k >> 3] >> (k & 7)) & 1));
}

// 32 sets at a time: the four bytes of bits spread over 32 byte lanes, each
// lane testing its own bit.
__attribute__((target("avx2"))) void addBitsAvx2(const uint8_t* row, size_t rowBytes, uint8_t* small) {
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,
                                            2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bit = _mm256_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
    for (size_t c = 0; c < rowBytes; c += 4) {
        int32_t word;
        std::memcpy(&word, row + c, sizeof word);
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32(word), spread);
        const __m256i hit = _mm256_cmpeq_epi8(_mm256_and_si256(bytes, bit), bit);
        __m256i* counts = reinterpret_cast<__m256i*>(small + c * 8);
        _mm256_storeu_si256(counts, _mm256_sub_epi8(_mm256_loadu_si256(counts), hit));
    }
}

using AddBits = void (*)(const uint8_t*, size_t, uint8_t*);

const AddBits addBits = haveAvx2() ? addBitsAvx2 : addBitsPlain;

}  // namespace

TiedCarrierPairs::TiedCarrierPairs(const TraitRanks& ranks, int32_t records,
                                   const std::vector<std::pair<const int32_t*, const int32_t*>>& sets)
    : records_(records), sets_(sets.size()), rowBytes_((sets.size() + 31) / 32 * 4),
      rows_(static_cast<size_t>(records) * rowBytes_, 0) {
    for (size_t k = 0; k < sets_; ++k) {
        sizes_.push_back(sets[k].second - sets[k].first);
        for (const int32_t* h = sets[k].first; h != sets[k].second; ++h) {
            rows_[static_cast<size_t>(*h) * rowBytes_ + (k >> 3)] |= static_cast<uint8_t>(1u << (k & 7));
        }
    }
    const size_t n = ranks.sorted.size();
    for (size_t v = 0; v < n;) {
        size_t end = v + 1;
        while (end < n && ranks.tieGroup[end] == ranks.tieGroup[v]) ++end;
        if (end - v > 1) runs_.emplace_back(static_cast<uint32_t>(v), static_cast<uint32_t>(end));
        v = end;
    }
}

void TiedCarrierPairs::count(const uint32_t* index, Scratch& scratch, int64_t* pairs) const {
    const size_t lanes = rowBytes_ * 8;
    scratch.holder.resize(static_cast<size_t>(records_));
    for (int32_t h = 0; h < records_; ++h) scratch.holder[index[h]] = static_cast<uint32_t>(h);
    scratch.small.assign(lanes, 0);
    scratch.count.assign(lanes, 0);
    scratch.inRuns.assign(lanes, 0);
    std::fill(pairs, pairs + sets_, 0);
    uint8_t* small = scratch.small.data();
    uint32_t* count = scratch.count.data();
    const auto flush = [&] {
        for (size_t k = 0; k < lanes; ++k) count[k] += small[k];
        std::fill(small, small + lanes, 0);
    };
    for (const auto& [from, to] : runs_) {
        int32_t pending = 0;
        for (uint32_t v = from; v < to; ++v) {
            addBits(&rows_[static_cast<size_t>(scratch.holder[v]) * rowBytes_], rowBytes_, small);
            if (++pending == 255) {
                flush();
                pending = 0;
            }
        }
        flush();
        for (size_t k = 0; k < sets_; ++k) {
            const int64_t c = count[k];
            pairs[k] += c * c;
            scratch.inRuns[k] += c;
            count[k] = 0;
        }
    }
    // A carrier holding a value no other record holds pairs only with itself.
    for (size_t k = 0; k < sets_; ++k) pairs[k] += sizes_[k] - scratch.inRuns[k];
}

}  // namespace orvane
