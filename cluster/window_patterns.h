// Haplotypes that carry the same alleles over a window have the same distance to
// every other haplotype: the window's distinct patterns carry all the work.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/packed_alleles.h"
#include "model/analysis_state.h"

namespace orvane {

struct WindowPatterns {
    int32_t count = 0;
    std::vector<int32_t> patternOf;  // per haplotype
    // Per pattern, numbered by their first haplotype: the haplotypes carrying it,
    // ascending, at [offsets[p], offsets[p + 1]).
    std::vector<int32_t> offsets;
    std::vector<int32_t> haplotypes;

    int32_t size(int32_t p) const { return offsets[static_cast<size_t>(p) + 1] - offsets[static_cast<size_t>(p)]; }
    int32_t representative(int32_t p) const { return haplotypes[static_cast<size_t>(offsets[static_cast<size_t>(p)])]; }

    // Scratch of the grouping, kept to avoid allocating per window.
    std::vector<int64_t> slots;
    std::vector<uint64_t> hashes;
    std::vector<int32_t> fill;
    std::vector<uint64_t> keys;    // the key route's table: key per slot
    std::vector<int32_t> keyIds;   // pattern per slot, -1 when empty
};

// Groups the haplotypes by their alleles at markers windowStart .. + windowSize - 1.
void groupWindowPatterns(const AnalysisState& state, int32_t windowStart, int32_t windowSize,
                         WindowPatterns& patterns);
// The same grouping from the window's packed keys; packed.fits(windowStart,
// windowSize) must hold.
void groupWindowPatterns(const PackedAlleles& packed, int32_t nHaplotypes, int32_t windowStart,
                         int32_t windowSize, WindowPatterns& patterns);

}  // namespace orvane
