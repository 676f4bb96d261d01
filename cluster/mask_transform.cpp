#include "cluster/mask_transform.h"

#include <algorithm>
#include <cstddef>

namespace orvane {

namespace {

// Blocks that stay in the processor's cache: the low bits are transformed one
// block of 2^kLowBits values at a time, the high bits one strip of kStrip
// columns at a time (rows of 2^kLowBits values).
constexpr int32_t kLowBits = 12;
constexpr size_t kStrip = 32;

void butterflies(uint64_t* a, uint64_t* b, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        const uint64_t x = a[j];
        const uint64_t y = b[j];
        a[j] = x + y;
        b[j] = x - y;
    }
}

}  // namespace

void walshHadamard(uint64_t* values, int32_t bits) {
    const size_t size = size_t{1} << bits;
    const int32_t lowBits = std::min(bits, kLowBits);
    const size_t block = size_t{1} << lowBits;
    for (size_t start = 0; start < size; start += block) {
        uint64_t* v = values + start;
        for (size_t half = 1; half < block; half <<= 1) {
            for (size_t i = 0; i < block; i += 2 * half) butterflies(v + i, v + i + half, half);
        }
    }
    const size_t rows = size >> lowBits;
    const size_t strip = std::min(kStrip, block);
    for (size_t column = 0; column < block; column += strip) {
        for (size_t half = 1; half < rows; half <<= 1) {
            for (size_t i = 0; i < rows; i += 2 * half) {
                for (size_t r = i; r < i + half; ++r) {
                    butterflies(values + r * block + column, values + (r + half) * block + column, strip);
                }
            }
        }
    }
}

void maskDistances(const WindowWalk& walk, std::vector<double>& distances) {
    const int32_t steps = walk.nRight + walk.nLeft;
    const size_t size = size_t{2} << steps;
    // The shared part s of every mask built up step by step, as walkDistance adds
    // it, with whether the shared run still holds on the side being walked.
    std::vector<double>& shared = distances;
    shared.resize(size);
    std::vector<uint8_t> inRun(size);
    shared[0] = 1.0;
    inRun[0] = 1;
    shared[1] = 0.0;
    inRun[1] = 0;
    for (int32_t k = 0; k < steps; ++k) {
        const size_t half = size_t{2} << k;
        const double match = walk.match[static_cast<size_t>(k)];
        const double run = walk.run[static_cast<size_t>(k)];
        for (size_t i = 0; i < half; ++i) {
            // The left side's run starts again from the centre.
            const bool running = k == walk.nRight ? (i & 1) == 0 : inRun[i] != 0;
            double s = shared[i];
            shared[i | half] = s;
            inRun[i | half] = 0;
            s += match;
            if (running) s += run;
            shared[i] = s;
            inRun[i] = running;
        }
    }
    const double total = walk.total;
    for (double& d : shared) d = (total - d) / total;
}

}  // namespace orvane
