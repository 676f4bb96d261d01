// The alleles of every haplotype as small per-marker ranks packed into bits, so
// that the alleles of a window read as one 64-bit key. Grouping haplotypes into
// window patterns then hashes one word per haplotype from a compact array (40
// bytes a haplotype for 300 two-code markers) instead of comparing rows of the
// allele matrix, whose random reads dominated the grouping on large files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {

class PackedAlleles {
public:
    // Packs the state's alleles as they stand (after imputation: the scan reads them).
    explicit PackedAlleles(const AnalysisState& state);

    // Whether the markers windowStart .. windowStart + windowSize - 1 fit one key.
    bool fits(int32_t windowStart, int32_t windowSize) const {
        return bitOffset_[static_cast<size_t>(windowStart + windowSize)] -
                   bitOffset_[static_cast<size_t>(windowStart)] <= 64;
    }

    // Calls use(h, key) for every haplotype in order; two haplotypes have the same
    // key exactly when they carry the same alleles over the window (which fits).
    template <typename Use>
    void forEachKey(int32_t windowStart, int32_t windowSize, Use&& use) const {
        const int32_t first = bitOffset_[static_cast<size_t>(windowStart)];
        const int32_t bits = bitOffset_[static_cast<size_t>(windowStart + windowSize)] - first;
        const size_t n = static_cast<size_t>(nHaplotypes_);
        const int32_t shift = first % 64;
        const uint64_t* low = words_.data() + static_cast<size_t>(first / 64) * n;
        if (bits == 0) {  // every marker of the window carries one code
            for (size_t h = 0; h < n; ++h) use(static_cast<int32_t>(h), uint64_t{0});
            return;
        }
        const uint64_t keep = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
        if (shift + bits <= 64) {
            for (size_t h = 0; h < n; ++h) use(static_cast<int32_t>(h), (low[h] >> shift) & keep);
            return;
        }
        const uint64_t* high = low + n;
        for (size_t h = 0; h < n; ++h) {
            use(static_cast<int32_t>(h), ((low[h] >> shift) | (high[h] << (64 - shift))) & keep);
        }
    }

private:
    int32_t nHaplotypes_ = 0;
    std::vector<int32_t> bitOffset_;  // per marker, then the total
    std::vector<uint64_t> words_;      // word w of haplotype h at w * nHaplotypes + h
};

}  // namespace orvane
