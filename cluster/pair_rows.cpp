#include "cluster/pair_rows.h"

#include <immintrin.h>

#include <cmath>

namespace orvane {

void RowEdges::forBins(int32_t firstBin) {
    derived = true;
    for (int e = 0; e < kEdges; ++e) units[e] = (firstBin + e) * kUnitsPerTenth;
}

bool RowEdges::forFixed(double radius) {
    derived = false;
    const double exact = radius * 10.0 * kUnitsPerTenth;
    if (!(std::fabs(exact) < std::ldexp(1.0, 30))) return false;
    // Whole units strictly within kEdgeUnits of the radius, and those below it.
    nearFrom = static_cast<int32_t>(std::floor(exact - kEdgeUnits)) + 1;
    nearSpan = static_cast<uint32_t>(static_cast<int32_t>(std::ceil(exact + kEdgeUnits)) - 1 - nearFrom);
    const int32_t inside = static_cast<int32_t>(std::ceil(exact));
    for (int e = 0; e < kEdges; ++e) units[e] = inside;
    return true;
}

namespace {

// What the two kernels share of a row.
struct Row {
    PairScreen::UnitTables tables;
    int32_t p = 0;        // the row pattern
    uint32_t own = 0;     // its bits
    int32_t centre = 0;   // and centre code
    int32_t size = 0;     // and haplotypes
    const int32_t* sizes = nullptr;
    const RowEdges* edges = nullptr;
    int32_t* const* counts = nullptr;
};

// Pairs from .. to - 1 one at a time; the codes from codes[0].
void tallyPlain(const Row& row, int32_t from, int32_t to, uint8_t* codes, RowTally& tally) {
    const RowEdges& edges = *row.edges;
    for (int32_t q = from; q < to; ++q) {
        const int32_t units = pairUnits(row.tables, row.p, q);
        const bool near = edges.near(units);
        const uint8_t code = edges.code(units);
        codes[q - from] = near ? kNeedsExact : code;
        const int32_t after = row.sizes[q];
        for (int e = 0; e < RowEdges::kEdges; ++e) {
            const bool below = !near && units < edges.units[e];
            tally.below[e] += below ? after : 0;
            if (e < RowEdges::kCounted) row.counts[e][q] += below ? row.size : 0;
        }
        tally.near |= near;
    }
}

// Eight pairs at a time: each table lookup is a gather, and the comparisons
// are unsigned ones made signed by flipping the top bit. The same results as
// the plain loop; returns where it stopped.
template <bool Derived, bool Split>
__attribute__((target("avx2"))) int32_t tallyAvx2(const Row& row, int32_t from, int32_t to, uint8_t* codes,
                                                  RowTally& tally) {
    const PairScreen::UnitTables& t = row.tables;
    const RowEdges& edges = *row.edges;
    constexpr int kLookups = Split ? 4 : 2;
    const __m256i own = _mm256_set1_epi32(static_cast<int32_t>(row.own));
    const __m256i centre = _mm256_set1_epi32(row.centre);
    const __m256i ones = _mm256_set1_epi32(-1);
    __m256i mask[kLookups];
    __m256i afterMask[kLookups];
    __m128i steps[kLookups];
    __m128i shift[kLookups];
    __m128i afterShift[kLookups];
    for (int i = 0; i < kLookups; ++i) {
        const PairScreen::UnitLookup& l = t.lookup[i];
        mask[i] = _mm256_set1_epi32(static_cast<int32_t>(l.mask));
        afterMask[i] = _mm256_set1_epi32(static_cast<int32_t>(l.afterMask));
        steps[i] = _mm_cvtsi32_si128(l.steps);
        shift[i] = _mm_cvtsi32_si128(l.shift);
        afterShift[i] = _mm_cvtsi32_si128(l.afterShift);
    }
    const __m256i ten = _mm256_set1_epi32(PairScreen::kTenUnits);
    const __m256i sign = _mm256_set1_epi32(INT32_MIN);
    const __m256i margin = _mm256_set1_epi32(kEdgeUnits);
    const __m256i scaleLimit = _mm256_set1_epi32((PairScreen::kTenUnits - 2 * kEdgeUnits) ^ INT32_MIN);
    const __m256i fractionMask = _mm256_set1_epi32(kUnitsPerTenth - 1);
    const __m256i binLimit = _mm256_set1_epi32((kUnitsPerTenth - 2 * kEdgeUnits) ^ INT32_MIN);
    const __m256i nearFrom = _mm256_set1_epi32(edges.nearFrom);
    const __m256i spanLimit = _mm256_set1_epi32(static_cast<int32_t>(edges.nearSpan ^ 0x80000000u));
    const __m256i upperFlag = _mm256_set1_epi32(kBelowUpperEdge);
    const __m256i lowerFlag = _mm256_set1_epi32(kBelowLowerEdge);
    const __m256i size = _mm256_set1_epi32(row.size);
    // Byte 0 of each 32-bit lane to the front of its half.
    const __m256i firstBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4,
                                                8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    __m256i edge[RowEdges::kEdges];
    __m256i below[RowEdges::kEdges];
    for (int e = 0; e < RowEdges::kEdges; ++e) {
        edge[e] = _mm256_set1_epi32(edges.units[e]);
        below[e] = _mm256_setzero_si256();
    }
    __m256i nearSeen = _mm256_setzero_si256();
    int32_t q = from;
    for (; q + 8 <= to; q += 8) {
        const __m256i other = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.bits + q));
        const __m256i agree = _mm256_xor_si256(_mm256_xor_si256(own, other), ones);
        const __m256i same = _mm256_srli_epi32(
            _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.centres + q)), centre), 31);
        __m256i shared = _mm256_setzero_si256();
        for (int i = 0; i < kLookups; ++i) {
            __m256i runs = same;
            if (i >= 2) {
                const __m256i first = _mm256_and_si256(_mm256_srl_epi32(agree, afterShift[i]), afterMask[i]);
                runs = _mm256_and_si256(runs, _mm256_srli_epi32(_mm256_cmpeq_epi32(first, afterMask[i]), 31));
            }
            const __m256i index = _mm256_or_si256(_mm256_sll_epi32(runs, steps[i]),
                                                  _mm256_and_si256(_mm256_srl_epi32(agree, shift[i]), mask[i]));
            shared = _mm256_add_epi32(shared, _mm256_i32gather_epi32(t.lookup[i].table, index, 4));
        }
        const __m256i units = _mm256_sub_epi32(ten, shared);
        __m256i near;
        __m256i code;
        if (Derived) {
            const __m256i offScale =
                _mm256_cmpgt_epi32(_mm256_xor_si256(_mm256_sub_epi32(units, margin), sign), scaleLimit);
            const __m256i fraction = _mm256_and_si256(units, fractionMask);
            const __m256i offBin =
                _mm256_cmpgt_epi32(_mm256_xor_si256(_mm256_sub_epi32(fraction, margin), sign), binLimit);
            near = _mm256_or_si256(offScale, offBin);
            code = _mm256_or_si256(_mm256_srai_epi32(units, PairScreen::kTenthBits), upperFlag);
        } else {
            const __m256i far =
                _mm256_cmpgt_epi32(_mm256_xor_si256(_mm256_sub_epi32(units, nearFrom), sign), spanLimit);
            near = _mm256_xor_si256(far, ones);
            code = _mm256_and_si256(_mm256_cmpgt_epi32(edge[0], units), lowerFlag);
        }
        const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.sizes + q));
        for (int e = 0; e < RowEdges::kEdges; ++e) {
            const __m256i inside = _mm256_andnot_si256(near, _mm256_cmpgt_epi32(edge[e], units));
            below[e] = _mm256_add_epi32(below[e], _mm256_and_si256(inside, after));
            if (e < RowEdges::kCounted) {
                __m256i* count = reinterpret_cast<__m256i*>(row.counts[e] + q);
                _mm256_storeu_si256(count, _mm256_add_epi32(_mm256_loadu_si256(count), _mm256_and_si256(inside, size)));
            }
        }
        // A near pair's lanes are all ones: its code byte becomes kNeedsExact.
        const __m256i packed = _mm256_shuffle_epi8(_mm256_or_si256(code, near), firstBytes);
        const __m128i eight =
            _mm_unpacklo_epi32(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + (q - from)), eight);
        nearSeen = _mm256_or_si256(nearSeen, near);
    }
    // Each lane's sum stays below the window's haplotypes, as do all eight together.
    for (int e = 0; e < RowEdges::kEdges; ++e) {
        alignas(32) int32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), below[e]);
        for (const int32_t lane : lanes) tally.below[e] += lane;
    }
    tally.near |= !_mm256_testz_si256(nearSeen, nearSeen);
    return q;
}

// Whether the processor running this has AVX2 (looked up once).
bool haveAvx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

}  // namespace

RowTally tallyRow(const PairScreen::UnitTables& tables, int32_t p, int32_t k, const int32_t* sizes,
                  const RowEdges& edges, uint8_t* codes, int32_t* const* counts, bool vectorised) {
    Row row;
    row.tables = tables;
    row.p = p;
    row.own = tables.bits[p];
    row.centre = tables.centres[p];
    row.size = sizes[p];
    row.sizes = sizes;
    row.edges = &edges;
    row.counts = counts;
    RowTally tally;
    const int32_t from = p + 1;
    int32_t q = from;
    const bool split = tables.count > 2;
    if (vectorised && haveAvx2()) {
        if (split) {
            q = edges.derived ? tallyAvx2<true, true>(row, from, k, codes, tally)
                              : tallyAvx2<false, true>(row, from, k, codes, tally);
        } else {
            q = edges.derived ? tallyAvx2<true, false>(row, from, k, codes, tally)
                              : tallyAvx2<false, false>(row, from, k, codes, tally);
        }
    }
    tallyPlain(row, q, k, codes + (q - from), tally);
    return tally;
}

}  // namespace orvane
