// A progress line on standard error for runs watched from a terminal. Nothing is
// written when standard error is not a terminal, so scripts and logs see none.
#pragma once

#include <chrono>
#include <cstdint>

namespace orvane {

class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    // "orvane: <what> <done>/<total>", redrawn at most a few times a second.
    void update(const char* what, int64_t done, int64_t total);
    // Clears the line.
    void finish();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace orvane
