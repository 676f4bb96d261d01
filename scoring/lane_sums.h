// Sums over a list of records for eight permutation replicates at once, one
// per vector lane: the trait values (in double, ascending records) and, for
// the rank test, the counts of greater values. Trait values are read in single
// precision, so a row may keep them as floats (widened exactly when added),
// which halves the bytes read. Every adder adds each lane in the same order,
// so all give the same sums.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "scoring/cpu_features.h"

namespace orvane {

constexpr int kLanes = 8;

// One record's row: the lanes' values and counts of greater values (at most
// the number of records).
template <typename Value>
struct LaneRow {
    Value value[kLanes];
    int32_t greater[kLanes];
};

// Per list: the lanes' sums.
struct LaneSums {
    double sum[kLanes];
    int64_t above[kLanes];
};

// Adds the members' rows to the sums, the counts of greater values too when
// `kAbove`: in plain code, and with the lanes in vector registers.
// Members from `member` on, up to `end` or the first not below `stop`; returns
// where it stopped.
template <typename Value, bool kAbove>
const int32_t* addRowsPlain(const LaneRow<Value>* rows, int32_t firstRecord, const int32_t* member,
                            const int32_t* end, int32_t stop, LaneSums& sums) {
    for (; member != end && *member < stop; ++member) {
        const LaneRow<Value>& row = rows[*member - firstRecord];
        for (int l = 0; l < kLanes; ++l) {
            const double x = row.value[l];
            sums.sum[l] += x;
            if (kAbove) sums.above[l] += row.greater[l];
        }
    }
    return member;
}

// The eight lanes' values as two registers of four doubles.
__attribute__((target("avx2"))) inline void loadLanes(const double* value, __m256d& low, __m256d& high) {
    low = _mm256_loadu_pd(value);
    high = _mm256_loadu_pd(value + 4);
}
__attribute__((target("avx2"))) inline void loadLanes(const float* value, __m256d& low, __m256d& high) {
    const __m256 both = _mm256_loadu_ps(value);
    low = _mm256_cvtps_pd(_mm256_castps256_ps128(both));
    high = _mm256_cvtps_pd(_mm256_extractf128_ps(both, 1));
}

template <typename Value, bool kAbove>
__attribute__((target("avx2"))) const int32_t* addRowsAvx2(const LaneRow<Value>* rows, int32_t firstRecord,
                                                           const int32_t* member, const int32_t* end, int32_t stop,
                                                           LaneSums& sums) {
    static_assert(kLanes == 8, "two registers of four lanes");
    __m256d s0 = _mm256_loadu_pd(sums.sum), s1 = _mm256_loadu_pd(sums.sum + 4);
    // The counts in integer lanes, which other execution units add.
    __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums.above));
    __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums.above + 4));
    for (; member != end && *member < stop; ++member) {
        const LaneRow<Value>& row = rows[*member - firstRecord];
        __m256d x0, x1;
        loadLanes(row.value, x0, x1);
        s0 = _mm256_add_pd(s0, x0);
        s1 = _mm256_add_pd(s1, x1);
        if (kAbove) {
            const __m256i greater = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.greater));
            a0 = _mm256_add_epi64(a0, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(greater)));
            a1 = _mm256_add_epi64(a1, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(greater, 1)));
        }
    }
    _mm256_storeu_pd(sums.sum, s0);
    _mm256_storeu_pd(sums.sum + 4, s1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums.above), a0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums.above + 4), a1);
    return member;
}

// The same for rows of floats with the eight lanes in one AVX-512 register:
// half the instructions of the two AVX2 registers for the same additions.
// (GCC 12's own conversion intrinsics leave their unused mask operand
// undefined on purpose, which its uninitialised-value warning takes for a fault.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <bool kAbove>
__attribute__((target("avx512f"))) const int32_t* addFloatRowsAvx512(const LaneRow<float>* rows,
                                                                     int32_t firstRecord, const int32_t* member,
                                                                     const int32_t* end, int32_t stop,
                                                                     LaneSums& sums) {
    __m512d s = _mm512_loadu_pd(sums.sum);
    __m512i a = _mm512_loadu_si512(sums.above);
    for (; member != end && *member < stop; ++member) {
        const LaneRow<float>& row = rows[*member - firstRecord];
        const __m512d x = _mm512_cvtps_pd(_mm256_loadu_ps(row.value));
        s = _mm512_add_pd(s, x);
        if (kAbove) {
            a = _mm512_add_epi64(a, _mm512_cvtepi32_epi64(
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.greater))));
        }
    }
    _mm512_storeu_pd(sums.sum, s);
    _mm512_storeu_si512(sums.above, a);
    return member;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

template <typename Value>
using AddRows = const int32_t* (*)(const LaneRow<Value>*, int32_t, const int32_t*, const int32_t*, int32_t,
                                   LaneSums&);

// The adders of a row type: the values alone, or with the counts too.
template <typename Value>
struct RowAdders {
    AddRows<Value> values = haveAvx2() ? addRowsAvx2<Value, false> : addRowsPlain<Value, false>;
    AddRows<Value> valuesAndAbove = haveAvx2() ? addRowsAvx2<Value, true> : addRowsPlain<Value, true>;
};

template <>
struct RowAdders<float> {
    AddRows<float> values = haveAvx512() ? addFloatRowsAvx512<false>
                            : haveAvx2() ? addRowsAvx2<float, false>
                                         : addRowsPlain<float, false>;
    AddRows<float> valuesAndAbove = haveAvx512() ? addFloatRowsAvx512<true>
                                    : haveAvx2() ? addRowsAvx2<float, true>
                                                 : addRowsPlain<float, true>;
};

}  // namespace orvane
