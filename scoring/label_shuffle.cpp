#include "scoring/label_shuffle.h"

#include <utility>

namespace orvane {

int32_t shuffleOffset(int32_t draw, int32_t remaining) {
    return static_cast<int32_t>(static_cast<double>(draw) * RandomStream::kScale *
                                static_cast<double>(remaining));
}

namespace {

constexpr int kLanes = 8;
constexpr int kGroups = 4;
constexpr int kBlock = kLanes * kGroups;
typedef uint32_t LaneStates __attribute__((vector_size(kLanes * sizeof(uint32_t))));
typedef int32_t LaneInts __attribute__((vector_size(kLanes * sizeof(int32_t))));
typedef double LaneReals __attribute__((vector_size(kLanes * sizeof(double))));

// Multiplier and increment of 1 .. kBlock draws, eight lanes per group.
struct BlockJump {
    LaneStates multiplier[kGroups];
    LaneStates increment[kGroups];
    BlockJump() {
        for (int g = 0; g < kGroups; ++g) {
            for (int lane = 0; lane < kLanes; ++lane) {
                uint32_t a = 0, c = 0;
                RandomStream::jump(static_cast<uint32_t>(g * kLanes + lane + 1), a, c);
                multiplier[g][lane] = a;
                increment[g][lane] = c;
            }
        }
    }
};

// The draws are a linear congruential stream, so the state after k draws is an
// affine function of the current state: a block of 32 draws is computed from
// the block's first state with independent multiplications. Each offset is
// computed with exactly the scalar arithmetic (draw x 1/32767 x remaining,
// truncated). With `labels`, each block's swaps follow its offsets at once,
// so the arithmetic overlaps the memory traffic of the swaps.
template <typename Label>
__attribute__((always_inline)) inline void shuffleInBlocks(uint32_t& state, int32_t n,
                                                           int32_t* offsets, Label* labels) {
    static const BlockJump jump;
    const LaneReals scale = {RandomStream::kScale, RandomStream::kScale, RandomStream::kScale,
                             RandomStream::kScale, RandomStream::kScale, RandomStream::kScale,
                             RandomStream::kScale, RandomStream::kScale};
    LaneReals remaining;
    for (int lane = 0; lane < kLanes; ++lane) remaining[lane] = static_cast<double>(n - 1 - lane);
    const LaneReals stride = {8.0, 8.0, 8.0, 8.0, 8.0, 8.0, 8.0, 8.0};
    int32_t block[kBlock];
    int32_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        LaneStates lanes[kGroups];
        for (int g = 0; g < kGroups; ++g) lanes[g] = jump.multiplier[g] * state + jump.increment[g];
        int32_t* out = labels ? block : offsets + i;
        for (int g = 0; g < kGroups; ++g) {
            const LaneInts draws = __builtin_convertvector((lanes[g] >> 16) & 0x7fffu, LaneInts);
            const LaneReals product = __builtin_convertvector(draws, LaneReals) * scale * remaining;
            const LaneInts offset = __builtin_convertvector(product, LaneInts);
            __builtin_memcpy(out + g * kLanes, &offset, sizeof offset);
            remaining -= stride;
        }
        state = lanes[kGroups - 1][kLanes - 1];
        if (labels) {
            for (int k = 0; k < kBlock; ++k) std::swap(labels[i + k], labels[i + k + block[k]]);
        }
    }
    for (; i < n; ++i) {
        state = state * 214013u + 2531011u;
        const int32_t offset = shuffleOffset(static_cast<int32_t>((state >> 16) & 0x7fffu), n - 1 - i);
        if (labels) {
            std::swap(labels[i], labels[i + offset]);
        } else {
            offsets[i] = offset;
        }
    }
}

__attribute__((target_clones("avx2", "default")))
void drawOffsetsInLanes(uint32_t& state, int32_t n, int32_t* offsets) {
    shuffleInBlocks<uint8_t>(state, n, offsets, nullptr);
}

__attribute__((target_clones("avx2", "default")))
void shuffleBytesInLanes(uint32_t& state, int32_t n, uint8_t* labels) {
    shuffleInBlocks(state, n, nullptr, labels);
}

__attribute__((target_clones("avx2", "default")))
void shuffleIndicesInLanes(uint32_t& state, int32_t n, uint32_t* labels) {
    shuffleInBlocks(state, n, nullptr, labels);
}

}  // namespace

void drawShuffleOffsets(RandomStream& random, int32_t n, int32_t* offsets) {
    uint32_t state = random.state();
    drawOffsetsInLanes(state, n, offsets);
    random.resume(state);
}

void shuffleLabelArray(RandomStream& random, int32_t n, uint8_t* labels) {
    uint32_t state = random.state();
    shuffleBytesInLanes(state, n, labels);
    random.resume(state);
}

void shuffleLabelArray(RandomStream& random, int32_t n, uint32_t* labels) {
    uint32_t state = random.state();
    shuffleIndicesInLanes(state, n, labels);
    random.resume(state);
}

}  // namespace orvane
