// The shuffle of the permutation test: one draw per record, and a swap of its
// label with a later record's.
#pragma once

#include <cstdint>

#include "model/random_stream.h"

namespace orvane {

// How far record i's label moves for a draw, with `remaining` = n - 1 - i records
// after it: the draw scaled to [0, 1] times `remaining`, truncated.
int32_t shuffleOffset(int32_t draw, int32_t remaining);

// One whole shuffle of the first n labels: the offsets drawn and applied.
void shuffleLabelArray(RandomStream& random, int32_t n, uint8_t* labels);
void shuffleLabelArray(RandomStream& random, int32_t n, uint32_t* labels);

// The same shuffle in two steps, so that one thread may draw the offsets and
// another make the swaps: the n offsets, then their swaps.
void drawShuffleOffsets(RandomStream& random, int32_t n, int32_t* offsets);
void applyShuffleOffsets(int32_t n, const int32_t* offsets, uint8_t* labels);
void applyShuffleOffsets(int32_t n, const int32_t* offsets, uint32_t* labels);

}  // namespace orvane
