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

template <typename Value>
void butterflies(Value* a, Value* b, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        const Value x = a[j];
        const Value y = b[j];
        a[j] = x + y;
        b[j] = x - y;
    }
}

// Two levels at once (half and 2 x half), so that each pass reads and writes
// the values once for two levels: the transform is bound by memory, not adds.
template <typename Value>
void butterflies4(Value* a, Value* b, Value* c, Value* d, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        const Value sum01 = a[j] + b[j];
        const Value difference01 = a[j] - b[j];
        const Value sum23 = c[j] + d[j];
        const Value difference23 = c[j] - d[j];
        a[j] = sum01 + sum23;
        b[j] = difference01 + difference23;
        c[j] = sum01 - sum23;
        d[j] = difference01 - difference23;
    }
}

// The levels half = 1, 2, 4 ... < count over `count` rows of `width` values
// (row r at values + r x stride), two levels a pass while two remain.
template <typename Value>
void transformRows(Value* values, size_t count, size_t stride, size_t width) {
    // Rows next to one another are worked as one long row.
    const bool packed = stride == width;
    size_t half = 1;
    for (; 4 * half <= count; half *= 4) {
        for (size_t i = 0; i < count; i += 4 * half) {
            Value* row = values + i * stride;
            const size_t apart = half * stride;
            if (packed) {
                butterflies4(row, row + apart, row + 2 * apart, row + 3 * apart, half * width);
                continue;
            }
            for (size_t r = 0; r < half; ++r, row += stride) {
                butterflies4(row, row + apart, row + 2 * apart, row + 3 * apart, width);
            }
        }
    }
    if (half < count) {
        if (packed) {
            butterflies(values, values + half * stride, half * width);
        } else {
            for (size_t r = 0; r < half; ++r) butterflies(values + r * stride, values + (r + half) * stride, width);
        }
    }
}

// The result is the same whatever the order of the levels: the additions wrap
// around and every value ends exact.
template <typename Value>
void transformAll(Value* values, int32_t bits) {
    const size_t size = size_t{1} << bits;
    const int32_t lowBits = std::min(bits, kLowBits);
    const size_t block = size_t{1} << lowBits;
    // Low bits: each block's values as rows of one value.
    for (size_t start = 0; start < size; start += block) transformRows(values + start, block, 1, 1);
    // High bits: strips of columns, rows of a block apart.
    const size_t rows = size >> lowBits;
    const size_t strip = std::min(kStrip, block);
    for (size_t column = 0; column < block; column += strip) transformRows(values + column, rows, block, strip);
}

}  // namespace

void walshHadamard(uint64_t* values, int32_t bits) { transformAll(values, bits); }

void walshHadamard(uint32_t* values, int32_t bits) { transformAll(values, bits); }

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
