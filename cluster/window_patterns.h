// Haplotypes that carry the same alleles over a window have the same distance to
// every other haplotype: the window's distinct patterns carry all the work.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/packed_alleles.h"
#include "model/analysis_state.h"

namespace orvane {

// The patterns found so far in a window, by hash: open addressing, at most half
// full, sized by the patterns rather than the haplotypes so that it stays in
// cache. Equal hashes are confirmed by the caller's test.
class PatternTable {
public:
    void clear();
    // The pattern with this hash for which same(pattern) holds, or -1; then
    // add(hash) numbers a new one.
    template <typename Same>
    int32_t find(uint64_t hash, const Same& same) {
        for (size_t slot = hash & mask_; ids_[slot] >= 0; slot = (slot + 1) & mask_) {
            if (hashes_[slot] == hash && same(ids_[slot])) return ids_[slot];
        }
        return -1;
    }
    int32_t add(uint64_t hash);

private:
    void place(uint64_t hash, int32_t id);

    size_t mask_ = 0;
    std::vector<uint64_t> hashes_;  // per slot
    std::vector<int32_t> ids_;      // per slot, -1 when empty
    std::vector<uint64_t> hashOf_;  // per pattern, to rebuild the table when it grows
};

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
    PatternTable table;
    std::vector<int32_t> fill;
};

// Groups the haplotypes by their alleles at markers windowStart .. + windowSize - 1.
void groupWindowPatterns(const AnalysisState& state, int32_t windowStart, int32_t windowSize,
                         WindowPatterns& patterns);
// The same grouping from the window's packed keys; packed.fits(windowStart,
// windowSize) must hold.
void groupWindowPatterns(const PackedAlleles& packed, int32_t nHaplotypes, int32_t windowStart,
                         int32_t windowSize, WindowPatterns& patterns);

}  // namespace orvane
