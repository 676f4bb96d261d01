// One pattern's row of pairs in a single pass over their fixed-point estimates
// (cluster/pair_screen.h): each pair's code, and its haplotypes tallied below a
// few distance edges. A window needs its histogram only around the radius, and
// its neighbour counts only for the radius; tallies at the edges of a few
// candidate radii give both without another pass over the pairs.
#pragma once

#include <cstdint>

#include "cluster/pair_codes.h"
#include "cluster/pair_screen.h"

namespace orvane {

// A pair whose units lie within this many of a decision edge (about 4e-7 of a
// distance; the estimate's error is a few units) is left to the exact walk.
constexpr int32_t kEdgeUnits = 64;
constexpr int32_t kUnitsPerTenth = int32_t{1} << PairScreen::kTenthBits;

// The edges a row is tallied at, in units: a pair counts below edge e when its
// units are less than units[e]. The first kCounted edges also count neighbours.
struct RowEdges {
    static constexpr int kEdges = 4;
    static constexpr int kCounted = 3;
    bool derived = false;
    int32_t units[kEdges] = {};
    // A fixed radius: the pairs strictly within kEdgeUnits of it are walked.
    int32_t nearFrom = 0;
    uint32_t nearSpan = 0;

    // A derived radius: the lower edges of bins firstBin .. firstBin + 3.
    void forBins(int32_t firstBin);
    // A fixed radius is every edge; false when it lies beyond the units' range
    // (or is not a number): the double estimate takes such a window.
    bool forFixed(double radius);

    // Whether a pair of these units is left to the exact walk: near the ends of
    // the scale or a bin's edge, or near a fixed radius.
    bool near(int32_t units) const {
        const uint32_t bits = static_cast<uint32_t>(units);
        if (!derived) return bits - static_cast<uint32_t>(nearFrom) <= nearSpan;
        const uint32_t fraction = bits & (kUnitsPerTenth - 1);
        return (bits - kEdgeUnits > static_cast<uint32_t>(PairScreen::kTenUnits - 2 * kEdgeUnits)) |
               (fraction - kEdgeUnits > static_cast<uint32_t>(kUnitsPerTenth - 2 * kEdgeUnits));
    }
    // The code of a pair that is not near: a derived radius's pairs lie well inside
    // their bin, above its lower edge and below its upper one.
    uint8_t code(int32_t units) const {
        if (!derived) return units < this->units[0] ? kBelowLowerEdge : 0;
        return static_cast<uint8_t>((units >> PairScreen::kTenthBits) | kBelowUpperEdge);
    }
};

// The units of patterns p and q, as the row pass finds them.
inline int32_t pairUnits(const PairScreen::UnitTables& t, int32_t p, int32_t q) {
    const uint32_t agree = ~(t.bits[p] ^ t.bits[q]);
    const uint32_t same = t.centres[p] == t.centres[q];
    int32_t units = PairScreen::kTenUnits;
    for (int i = 0; i < t.count; ++i) {
        const PairScreen::UnitLookup& l = t.lookup[i];
        const uint32_t runs = same & (((agree >> l.afterShift) & l.afterMask) == l.afterMask);
        units -= l.table[(runs << l.steps) | ((agree >> l.shift) & l.mask)];
    }
    return units;
}

struct RowTally {
    int64_t below[RowEdges::kEdges] = {};  // haplotypes of the row's pairs below each edge
    bool near = false;                     // some pair was left to the exact walk
};

// Pairs (p, q), q = p + 1 .. k - 1: the code of each at codes[q - p - 1]
// (kNeedsExact near an edge: the caller walks those), and for every counted edge
// e a pair lies below, counts[e][q] gains sizes[p]. Eight pairs at a time with
// AVX2 where the processor has it and `vectorised` allows.
RowTally tallyRow(const PairScreen::UnitTables& tables, int32_t p, int32_t k, const int32_t* sizes,
                  const RowEdges& edges, uint8_t* codes, int32_t* const* counts, bool vectorised);

}  // namespace orvane
