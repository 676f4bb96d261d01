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
    // Continues the stream from a state computed elsewhere (a jump ahead).
    void resume(uint32_t state) { state_ = state; }

    // The multiplier and increment of `steps` draws taken at once:
    // state after `steps` draws = multiplier x state + increment.
    static void jump(uint64_t steps, uint32_t& multiplier, uint32_t& increment) {
        // Powers of the one-draw affine map by repeated squaring.
        uint32_t a = 214013u, c = 2531011u;
        multiplier = 1u;
        increment = 0u;
        while (steps > 0) {
            if (steps & 1u) {
                multiplier = a * multiplier;
                increment = a * increment + c;
            }
            c = a * c + c;
            a = a * a;
            steps >>= 1;
        }
    }

private:
    uint32_t state_ = 1u;
};

}  // namespace orvane
