// Pair counts over the agreement masks of a window. When every marker of a
// window carries at most two codes, a pattern is a word of bits and two patterns
// differ exactly at the bits of their exclusive or; the distance of a pair
// depends on nothing else. Counting the haplotype pairs of every exclusive-or
// mask, and every pattern's neighbours, are then convolutions over the group of
// masks, done with the Walsh-Hadamard transform in 2^bits x bits steps instead of
// one step per pair of patterns.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/window_distances.h"

namespace orvane {

// In-place unnormalised Walsh-Hadamard transform of 2^bits values. Arithmetic is
// modulo 2^64 (2^32), so a result that fits in an int64 (int32) is exact
// whatever the intermediate values; applied twice it multiplies by 2^bits. The
// 32-bit transform moves half the memory, for values known to stay small.
void walshHadamard(uint64_t* values, int32_t bits);
void walshHadamard(uint32_t* values, int32_t bits);

// The distance of a pair of patterns for every mask of the walk's markers: bit 0
// the centre, bit 1 + k walk step k, a set bit where the two differ. Each value
// has the bits walkDistance gives (the same additions in the same order); the
// LD-weighted measure is not covered.
void maskDistances(const WindowWalk& walk, std::vector<double>& distances);

}  // namespace orvane
