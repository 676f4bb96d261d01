// The rank test's pairs of carriers with equal values, for trait data with
// tied values: for every carrier set at once, from one walk over the records
// holding tied values under a replicate's labels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "scoring/single_marker_tests.h"

namespace orvane {

// How the carrier bits of a record are added to per-set counts: 64 sets per
// instruction with AVX-512 (byte lanes under a mask of bits), 32 with AVX2,
// or one at a time. Every way gives the same counts.
enum class PairKernel { kFastest, kPlain, kAvx2, kAvx512 };

class TiedCarrierPairs {
public:
    // `sets[k]` = the ascending carriers of set k, as a [begin, end) range.
    TiedCarrierPairs(const TraitRanks& ranks, int32_t records,
                     const std::vector<std::pair<const int32_t*, const int32_t*>>& sets,
                     PairKernel kernel = PairKernel::kFastest);

    // Whether this processor can run the kernel.
    static bool available(PairKernel kernel);

    struct Scratch {
        std::vector<uint32_t> holder;  // per value index, the record holding it
        std::vector<int64_t> squares;  // per set: the sum over runs of its carriers in the run, squared
        std::vector<int64_t> inRuns;   // per set, carriers holding a tied value
    };

    // For the records' values given as indices, per set k, the ordered pairs
    // of its carriers with equal values, self pairs included (the sum over
    // runs of equal values of the square of its carriers holding them), into
    // pairs[k].
    void count(const uint32_t* index, Scratch& scratch, int64_t* pairs) const;

    // Carrier bits per record, in whole words of 64 sets.
    struct Rows {
        const uint8_t* bits;
        size_t bytes;  // per record
    };
    using CountRuns = void (*)(const Rows& rows, const uint32_t* holder,
                               const std::vector<std::pair<uint32_t, uint32_t>>& runs, int64_t* squares,
                               int64_t* inRuns);

private:
    int32_t records_;
    size_t sets_;
    size_t rowBytes_;                // carrier bits per record: whole 64-set words
    std::vector<uint8_t> rows_;      // per record, bit k: a carrier of set k
    std::vector<int64_t> sizes_;     // per set
    std::vector<std::pair<uint32_t, uint32_t>> runs_;  // value index ranges of two or more equal values
    CountRuns countRuns_;
};

}  // namespace orvane
