// The random stream of one bootstrap replicate: SplitMix64 started from the run's
// seed and the replicate's index, so that a replicate draws the same haplotypes
// whichever thread runs it and in whatever order.
#pragma once

#include <cstdint>

namespace orvane {

class ReplicateRandom {
public:
    ReplicateRandom(uint64_t seed, uint64_t replicate)
        : state_(mix(mix(seed) ^ (replicate + 0x632be59bd9b4e019ull))) {}

    uint64_t next() {
        state_ += 0x9e3779b97f4a7c15ull;
        return mix(state_);
    }
    // A whole number in 0 .. bound - 1 (bound > 0), by the high half of a
    // 128-bit product; the bias is below bound / 2^64.
    uint32_t below(uint32_t bound) {
        return static_cast<uint32_t>((static_cast<unsigned __int128>(next()) * bound) >> 64);
    }

private:
    static uint64_t mix(uint64_t z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    uint64_t state_;
};

}  // namespace orvane
