// How many threads a run uses: the processors of its affinity mask (so that
// taskset and batch schedulers set the limit), lowered by ORVANE_THREADS when a
// workflow hands each job fewer cores than the mask allows.
#pragma once

#include <optional>
#include <string>

namespace orvane {

struct ThreadCount {
    int threads = 1;
    // Set when ORVANE_THREADS holds something other than a positive whole number:
    // the warning to print (the value is then ignored).
    std::optional<std::string> warning;
};

// `requested` is the value of ORVANE_THREADS (or of --threads, which takes its
// place), or null when it is not set.
ThreadCount chooseThreadCount(int affinityProcessors, const char* requested);

// True when `text` is a thread count the run takes: a positive whole number
// in plain digits (no sign, no blank).
bool isThreadCount(const char* text);

// The processors of the process's affinity mask (1 when it cannot be read).
int affinityProcessors();

}  // namespace orvane
