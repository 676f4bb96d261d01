#include "scoring/bit_counting.h"

#include <immintrin.h>

#include <cstring>

#include "scoring/cpu_features.h"

namespace orvane {

// Four running sums, so that the population counts of neighbouring words do not
// wait on one another; built once with the popcnt instruction and once without
// (where it is a library call), the processor choosing at load time.
__attribute__((target_clones("popcnt", "default")))
int64_t maskedCount(const uint64_t* packed, const uint64_t* mask, size_t words) {
    int64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    size_t w = 0;
    for (; w + 4 <= words; w += 4) {
        s0 += __builtin_popcountll(packed[w] & mask[w]);
        s1 += __builtin_popcountll(packed[w + 1] & mask[w + 1]);
        s2 += __builtin_popcountll(packed[w + 2] & mask[w + 2]);
        s3 += __builtin_popcountll(packed[w + 3] & mask[w + 3]);
    }
    for (; w < words; ++w) s0 += __builtin_popcountll(packed[w] & mask[w]);
    return s0 + s1 + s2 + s3;
}

namespace {

// Eight bytes per multiplication.
void packStatusesScalar(const uint8_t* status, size_t words, uint64_t* packed) {
    for (size_t w = 0; w < words; ++w) {
        uint64_t word = 0;
        for (int part = 0; part < 8; ++part) {
            uint64_t bytes;
            std::memcpy(&bytes, status + w * 64 + static_cast<size_t>(part) * 8, sizeof bytes);
            word |= ((bytes * 0x0102040810204080ull) >> 56) << (part * 8);
        }
        packed[w] = word;
    }
}

// 32 bytes at a time: each byte's low bit moved to its top bit and gathered by
// the byte mask instruction.
__attribute__((target("avx2"))) void packStatusesAvx2(const uint8_t* status, size_t words,
                                                      uint64_t* packed) {
    for (size_t w = 0; w < words; ++w) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(status + w * 64));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(status + w * 64 + 32));
        const uint32_t lowBits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(low, 7)));
        const uint32_t highBits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(high, 7)));
        packed[w] = static_cast<uint64_t>(lowBits) | (static_cast<uint64_t>(highBits) << 32);
    }
}

using PackStatuses = void (*)(const uint8_t*, size_t, uint64_t*);

const PackStatuses packStatusesChosen = haveAvx2() ? packStatusesAvx2 : packStatusesScalar;

}  // namespace

void packStatuses(const uint8_t* status, size_t words, uint64_t* packed) {
    packStatusesChosen(status, words, packed);
}

}  // namespace orvane
