#include "permutation/sequential_stop.h"

#include <algorithm>
#include <utility>

namespace orvane {

SequentialStop::SequentialStop(std::vector<double> observed, int32_t hits, int32_t maximum)
    : observed_(std::move(observed)), target_(hits), maximum_(maximum), hits_(observed_.size(), 0) {}

bool SequentialStop::offer(const std::vector<double>& maxima) {
    if (stopped_) return true;
    ++drawn_;
    for (size_t s = 0; s < observed_.size(); ++s) hits_[s] += maxima[s] >= observed_[s];
    const int64_t fewest = hits_.empty() ? 0 : *std::min_element(hits_.begin(), hits_.end());
    // Stopping at the last replicate would be no stop: the fixed run's p-values hold.
    stopped_ = fewest >= target_ && drawn_ < maximum_;
    return stopped_;
}

double stoppedPValue(int64_t hits, int32_t drawn) {
    return static_cast<double>(hits) / static_cast<double>(drawn);
}

}  // namespace orvane
