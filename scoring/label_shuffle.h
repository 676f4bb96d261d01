// The shuffle of the permutation test, split into its two halves: the offsets,
// which depend only on the random stream, and the swaps, which move the labels.
#pragma once

#include <cstdint>
#include <utility>

#include "model/random_stream.h"

namespace orvane {

// How far record i's label moves for a draw, with `remaining` = n - 1 - i records
// after it: the draw scaled to [0, 1] times `remaining`, truncated.
int32_t shuffleOffset(int32_t draw, int32_t remaining);

// The offsets of one shuffle of n records: n draws from `random`, in order.
void drawShuffleOffsets(RandomStream& random, int32_t n, int32_t* offsets);

// One whole shuffle of the first n labels: the offsets drawn and applied.
void shuffleLabelArray(RandomStream& random, int32_t n, uint8_t* labels);
void shuffleLabelArray(RandomStream& random, int32_t n, uint32_t* labels);

// Record i trades its label with record i + offsets[i], for i ascending.
template <typename Label>
void applyShuffle(Label* labels, int32_t n, const int32_t* offsets) {
    for (int32_t i = 0; i < n; ++i) std::swap(labels[i], labels[i + offsets[i]]);
}

}  // namespace orvane
