// Statuses as bits, and the cases among a member mask: the counting kernels the
// permutation tests share, each picking the processor's fastest form at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// Members of a mask that carry status 1: the population count of
// packed & mask over `words` words.
int64_t maskedCount(const uint64_t* packed, const uint64_t* mask, size_t words);

// 64 status bytes (0 or 1) per word to its bits, record i at bit i % 64 of word
// i / 64; `status` holds words x 64 bytes.
void packStatuses(const uint8_t* status, size_t words, uint64_t* packed);

}  // namespace orvane
