#include "permutation/tied_carrier_pairs.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "scoring/cpu_features.h"

namespace orvane {

namespace {

// Each kernel walks the runs of equal values; per run it counts, per set, the
// run's records that carry it, in byte counters emptied into wider ones every
// 255 records, and adds the count and its square to the set's totals.

// What every kernel does with a run's counts.
void finishRun(const uint32_t* count, size_t lanes, int64_t* squares, int64_t* inRuns) {
    for (size_t k = 0; k < lanes; ++k) {
        const int64_t c = count[k];
        squares[k] += c * c;
        inRuns[k] += c;
    }
}

void countRunsPlain(const TiedCarrierPairs::Rows& rows, const uint32_t* holder,
                    const std::vector<std::pair<uint32_t, uint32_t>>& runs, int64_t* squares, int64_t* inRuns) {
    const size_t lanes = rows.bytes * 8;
    std::vector<uint32_t> count(lanes);
    for (const auto& [from, to] : runs) {
        std::fill(count.begin(), count.end(), 0);
        for (uint32_t v = from; v < to; ++v) {
            const uint8_t* row = rows.bits + static_cast<size_t>(holder[v]) * rows.bytes;
            for (size_t k = 0; k < lanes; ++k) count[k] += (row[k >> 3] >> (k & 7)) & 1;
        }
        finishRun(count.data(), lanes, squares, inRuns);
    }
}

// 32 sets at a time: four bytes of bits spread over 32 byte lanes, each lane
// testing its own bit.
__attribute__((target("avx2"))) void countRunsAvx2(const TiedCarrierPairs::Rows& rows, const uint32_t* holder,
                                                   const std::vector<std::pair<uint32_t, uint32_t>>& runs,
                                                   int64_t* squares, int64_t* inRuns) {
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,
                                            2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bit = _mm256_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
    const size_t lanes = rows.bytes * 8;
    std::vector<uint8_t> small(lanes);
    std::vector<uint32_t> count(lanes);
    const auto empty = [&] {
        for (size_t k = 0; k < lanes; ++k) count[k] += small[k];
        std::fill(small.begin(), small.end(), 0);
    };
    for (const auto& [from, to] : runs) {
        std::fill(count.begin(), count.end(), 0);
        int32_t pending = 0;
        for (uint32_t v = from; v < to; ++v) {
            const uint8_t* row = rows.bits + static_cast<size_t>(holder[v]) * rows.bytes;
            for (size_t c = 0; c < rows.bytes; c += 4) {
                int32_t word;
                std::memcpy(&word, row + c, sizeof word);
                const __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32(word), spread);
                const __m256i hit = _mm256_cmpeq_epi8(_mm256_and_si256(bytes, bit), bit);
                __m256i* counts = reinterpret_cast<__m256i*>(small.data() + c * 8);
                _mm256_storeu_si256(counts, _mm256_sub_epi8(_mm256_loadu_si256(counts), hit));
            }
            if (++pending == 255) {
                empty();
                pending = 0;
            }
        }
        empty();
        finishRun(count.data(), lanes, squares, inRuns);
    }
}

// (GCC 12's own widening and multiplying intrinsics leave their unused mask
// operand undefined on purpose, which its uninitialised-value warning takes
// for a fault.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// 64 sets at a time: a record's eight bytes of bits are the mask under which
// 64 byte lanes, held in a register for the whole run, add one; at the run's
// end the lanes are widened eight at a time and squared.
__attribute__((target("avx512f,avx512bw"))) void countRunsAvx512(
    const TiedCarrierPairs::Rows& rows, const uint32_t* holder, const std::vector<std::pair<uint32_t, uint32_t>>& runs,
    int64_t* squares, int64_t* inRuns) {
    const __m512i one = _mm512_set1_epi8(1);
    alignas(64) uint8_t small[64];
    uint32_t count[64];  // a run's counts, once it passes 255 records
    for (const auto& [from, to] : runs) {
        for (size_t word = 0; word < rows.bytes; word += 8) {
            const uint8_t* column = rows.bits + word;
            __m512i counts = _mm512_setzero_si512();
            int32_t pending = 0;
            bool long_run = false;
            for (uint32_t v = from; v < to; ++v) {
                uint64_t bits;
                std::memcpy(&bits, column + static_cast<size_t>(holder[v]) * rows.bytes, sizeof bits);
                counts = _mm512_mask_add_epi8(counts, _cvtu64_mask64(bits), counts, one);
                if (++pending == 255) {
                    if (!long_run) std::fill(count, count + 64, 0);
                    long_run = true;
                    _mm512_store_si512(small, counts);
                    for (int k = 0; k < 64; ++k) count[k] += small[k];
                    counts = _mm512_setzero_si512();
                    pending = 0;
                }
            }
            _mm512_store_si512(small, counts);
            int64_t* square = squares + word * 8;
            int64_t* in = inRuns + word * 8;
            if (long_run) {
                for (int k = 0; k < 64; ++k) count[k] += small[k];
                finishRun(count, 64, square, in);
                continue;
            }
            for (int k = 0; k < 64; k += 8) {
                const __m512i c = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(small + k)));
                const __m512i sq = _mm512_mul_epu32(c, c);
                _mm512_storeu_si512(square + k, _mm512_add_epi64(_mm512_loadu_si512(square + k), sq));
                _mm512_storeu_si512(in + k, _mm512_add_epi64(_mm512_loadu_si512(in + k), c));
            }
        }
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace

bool TiedCarrierPairs::available(PairKernel kernel) {
    switch (kernel) {
        case PairKernel::kAvx2: return haveAvx2();
        case PairKernel::kAvx512: return haveAvx512Bytes();
        default: return true;
    }
}

TiedCarrierPairs::TiedCarrierPairs(const TraitRanks& ranks, int32_t records,
                                   const std::vector<std::pair<const int32_t*, const int32_t*>>& sets,
                                   PairKernel kernel)
    : records_(records), sets_(sets.size()), rowBytes_((sets.size() + 63) / 64 * 8),
      rows_(static_cast<size_t>(records) * rowBytes_, 0) {
    if (kernel == PairKernel::kFastest) {
        kernel = available(PairKernel::kAvx512) ? PairKernel::kAvx512
                 : available(PairKernel::kAvx2) ? PairKernel::kAvx2
                                                : PairKernel::kPlain;
    }
    countRuns_ = kernel == PairKernel::kAvx512 ? countRunsAvx512
                 : kernel == PairKernel::kAvx2 ? countRunsAvx2
                                               : countRunsPlain;
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
    scratch.holder.resize(static_cast<size_t>(records_));
    for (int32_t h = 0; h < records_; ++h) scratch.holder[index[h]] = static_cast<uint32_t>(h);
    scratch.squares.assign(rowBytes_ * 8, 0);
    scratch.inRuns.assign(rowBytes_ * 8, 0);
    countRuns_({rows_.data(), rowBytes_}, scratch.holder.data(), runs_, scratch.squares.data(), scratch.inRuns.data());
    // A carrier holding a value no other record holds pairs only with itself.
    for (size_t k = 0; k < sets_; ++k) pairs[k] = scratch.squares[k] + sizes_[k] - scratch.inRuns[k];
}

}  // namespace orvane
