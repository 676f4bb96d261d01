// The run's random generator: a linear congruential stream of integers 0..32767.
// One object per run, never reseeded, so a run is reproducible from its inputs.
#pragma once

#include <cstdint>

namespace orvane {

class RandomStream {
public:
    static constexpr int32_t kMax = 32767;
    // Callers scale a draw by this constant, so kMax maps to exactly 1.0.
    static constexpr double kScale = 1.0 / 32767.0;

    int32_t next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int32_t>((state_ >> 16) & 0x7fffu);
    }
    uint32_t state() const { return state_; }

private:
    uint32_t state_ = 1u;
};

}  // namespace orvane
