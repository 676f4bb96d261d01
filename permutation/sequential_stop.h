// Adaptive permutation: Besag and Clifford's sequential stopping over the
// joint scheme's replicates, in the order they are drawn. Every statistic
// counts its hits, the replicates whose regional maximum is at least the
// observed one; the run stops after the replicate that gives every statistic
// `hits` of them, unless that is the last replicate the run may draw. A region
// that is clearly null so stops after a few dozen replicates, while a strong
// one draws all of them.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// The h of the rule: 10 hits give a p-value within about a third of its value.
constexpr int32_t kAdaptiveHits = 10;

class SequentialStop {
public:
    // `observed[s]`: statistic s's observed regional maximum; `maximum`: the
    // most replicates the run may draw.
    SequentialStop(std::vector<double> observed, int32_t hits, int32_t maximum);

    // Counts the next replicate, its regional maxima one per statistic (as the
    // joint p-values compare them: a hit is a value >= the observed one).
    // True when the run stops after it.
    bool offer(const std::vector<double>& maxima);

    bool stopped() const { return stopped_; }
    int32_t drawn() const { return drawn_; }
    const std::vector<int64_t>& hits() const { return hits_; }

private:
    std::vector<double> observed_;
    int32_t target_;
    int32_t maximum_;
    std::vector<int64_t> hits_;
    int32_t drawn_ = 0;
    bool stopped_ = false;
};

// The p-value of a statistic of a run stopped early: its hits over the
// replicates drawn (h / m for the statistic that stopped the run).
double stoppedPValue(int64_t hits, int32_t drawn);

}  // namespace orvane
