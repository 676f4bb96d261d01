// A progress line on standard error for runs watched from a terminal: the step,
// how far it is, the time it has taken and an estimate of the time left; at the
// end one line saying what was written. Nothing is written when standard error
// is not a terminal, so scripts and logs see none of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace orvane {

// Hears now and then how much of a long step is done.
using ProgressCallback = std::function<void(int64_t done, int64_t total)>;

class ProgressLine {
public:
    ProgressLine();
    // A line that shows only when `enabled` (a library run shows none).
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine();
    bool enabled() const { return enabled_; }
    // "orvane: <what> <done>/<total>, <elapsed> elapsed, about <left> left",
    // redrawn at most a few times a second; the time counts from the first
    // update of each step.
    void update(const char* what, int64_t done, int64_t total);
    // Clears the line.
    void finish();
    // Replaces the line with a closing one.
    void conclude(const std::string& text);

    // "1:05" or "2:03:04".
    static std::string clock(double seconds);

private:
    bool enabled_;
    bool shown_ = false;
    const char* step_ = nullptr;
    std::chrono::steady_clock::time_point stepStart_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace orvane
