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
};

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
