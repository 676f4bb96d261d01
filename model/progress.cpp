#include "model/progress.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace orvane {

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { finish(); }

std::string ProgressLine::clock(double seconds) {
    const long whole = seconds > 0 ? static_cast<long>(seconds + 0.5) : 0;
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

void ProgressLine::update(const char* what, int64_t done, int64_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (step_ == nullptr || std::strcmp(step_, what) != 0) {
        step_ = what;
        stepStart_ = now;
    }
    if (shown_ && done < total && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    const double elapsed = std::chrono::duration<double>(now - stepStart_).count();
    std::string left;
    // The rate of the step so far; nothing is promised before a tenth is done.
    if (done > 0 && done < total && 10 * done >= total) {
        left = ", about " + clock(elapsed * static_cast<double>(total - done) / static_cast<double>(done)) + " left";
    }
    std::fprintf(stderr, "\r\033[Korvane: %s %lld/%lld, %s elapsed%s", what, static_cast<long long>(done),
                 static_cast<long long>(total), clock(elapsed).c_str(), left.c_str());
    std::fflush(stderr);
}

void ProgressLine::finish() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void ProgressLine::conclude(const std::string& text) {
    if (!enabled_) return;
    finish();
    std::fprintf(stderr, "orvane: %s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace orvane
