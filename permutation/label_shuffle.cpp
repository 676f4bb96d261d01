#include "permutation/label_shuffle.h"

#include <immintrin.h>

#include <algorithm>
#include <utility>

#include "scoring/cpu_features.h"

namespace orvane {

int32_t shuffleOffset(int32_t draw, int32_t remaining) {
    return static_cast<int32_t>(static_cast<double>(draw) * RandomStream::kScale *
                                static_cast<double>(remaining));
}

namespace {

// Offsets of records first .. first + count - 1 of a shuffle of n records, one
// draw each, one at a time.
void drawChunkScalar(uint32_t& state, int32_t n, int32_t first, int32_t count, int32_t* out) {
    for (int32_t k = 0; k < count; ++k) {
        state = state * 214013u + 2531011u;
        out[k] = shuffleOffset(static_cast<int32_t>((state >> 16) & 0x7fffu), n - 1 - (first + k));
    }
}

// The same eight draws at a time. The draws are a linear congruential stream,
// so lane l takes draws l, l + 8, ...: the state after k draws is an affine
// function of the current state. Each offset is computed with exactly the
// scalar arithmetic (draw x 1/32767 x remaining, truncated).
__attribute__((target("avx2"))) void drawChunkAvx2(uint32_t& state, int32_t n, int32_t first,
                                                   int32_t count, int32_t* out) {
    struct Jumps {
        alignas(32) uint32_t multiplier[8];
        alignas(32) uint32_t increment[8];
        uint32_t multiplier8 = 0, increment8 = 0;
        Jumps() {
            for (uint32_t lane = 0; lane < 8; ++lane) RandomStream::jump(lane + 1, multiplier[lane], increment[lane]);
            RandomStream::jump(8, multiplier8, increment8);
        }
    };
    static const Jumps jumps;
    const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(jumps.multiplier));
    const __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(jumps.increment));
    const __m256i a8 = _mm256_set1_epi32(static_cast<int>(jumps.multiplier8));
    const __m256i c8 = _mm256_set1_epi32(static_cast<int>(jumps.increment8));
    const __m256i low15 = _mm256_set1_epi32(0x7fff);
    const __m256d scale = _mm256_set1_pd(RandomStream::kScale);
    const __m256d eight = _mm256_set1_pd(8.0);
    const double top = static_cast<double>(n - 1 - first);
    __m256d remainingLow = _mm256_setr_pd(top, top - 1, top - 2, top - 3);
    __m256d remainingHigh = _mm256_setr_pd(top - 4, top - 5, top - 6, top - 7);
    __m256i lanes = _mm256_add_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(static_cast<int>(state))), c);
    int32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256i draws = _mm256_and_si256(_mm256_srli_epi32(lanes, 16), low15);
        const __m256d low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(draws));
        const __m256d high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(draws, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(low, scale), remainingLow)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 4),
                         _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(high, scale), remainingHigh)));
        state = static_cast<uint32_t>(_mm256_extract_epi32(lanes, 7));
        lanes = _mm256_add_epi32(_mm256_mullo_epi32(lanes, a8), c8);
        remainingLow = _mm256_sub_pd(remainingLow, eight);
        remainingHigh = _mm256_sub_pd(remainingHigh, eight);
    }
    drawChunkScalar(state, n, first + k, count - k, out + k);
}

using DrawChunk = void (*)(uint32_t&, int32_t, int32_t, int32_t, int32_t*);

const DrawChunk drawChunk = haveAvx2() ? drawChunkAvx2 : drawChunkScalar;

// A shuffle in chunks of 64 records: each chunk's offsets are drawn, then its
// swaps made, so the arithmetic overlaps the memory traffic of the swaps.
template <typename Label>
void shuffleInChunks(RandomStream& random, int32_t n, Label* labels) {
    constexpr int32_t kChunk = 64;
    int32_t offsets[kChunk];
    uint32_t state = random.state();
    for (int32_t first = 0; first < n; first += kChunk) {
        const int32_t count = std::min(kChunk, n - first);
        drawChunk(state, n, first, count, offsets);
        Label* here = labels + first;
        for (int32_t k = 0; k < count; ++k) std::swap(here[k], here[k + offsets[k]]);
    }
    random.resume(state);
}

template <typename Label>
void applyOffsets(int32_t n, const int32_t* offsets, Label* labels) {
    for (int32_t i = 0; i < n; ++i) std::swap(labels[i], labels[i + offsets[i]]);
}

}  // namespace

void shuffleLabelArray(RandomStream& random, int32_t n, uint8_t* labels) {
    shuffleInChunks(random, n, labels);
}

void shuffleLabelArray(RandomStream& random, int32_t n, uint32_t* labels) {
    shuffleInChunks(random, n, labels);
}

void drawShuffleOffsets(RandomStream& random, int32_t n, int32_t* offsets) {
    uint32_t state = random.state();
    drawChunk(state, n, 0, n, offsets);
    random.resume(state);
}

void applyShuffleOffsets(int32_t n, const int32_t* offsets, uint8_t* labels) {
    applyOffsets(n, offsets, labels);
}

void applyShuffleOffsets(int32_t n, const int32_t* offsets, uint32_t* labels) {
    applyOffsets(n, offsets, labels);
}

}  // namespace orvane
