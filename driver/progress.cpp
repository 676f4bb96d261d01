#include "driver/progress.h"

#include <cstdio>
#include <unistd.h>

namespace orvane {

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::update(const char* what, int64_t done, int64_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && done < total && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r\033[Korvane: %s %lld/%lld", what, static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(stderr);
}

void ProgressLine::finish() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace orvane
