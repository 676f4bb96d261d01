// Scoring of one permutation replicate at one marker, from the shuffled labels
// and the clusters the scan found there; and the replicate maxima over markers.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "scoring/single_marker_tests.h"

namespace orvane {

// Per replicate, the maximum of a statistic over the markers: the value at
// marker 0, replaced by each strictly greater later value. Replicates are only
// ever compared with an observed value, so the maximum may be gathered in any
// order: it is not a number when marker 0's value is not one, and otherwise the
// largest of the values that are numbers.
class ReplicateMaxima {
public:
    explicit ReplicateMaxima(int32_t replicates)
        : best_(static_cast<size_t>(replicates), -std::numeric_limits<double>::infinity()),
          seen_(static_cast<size_t>(replicates), 0), notANumber_(static_cast<size_t>(replicates), 0) {}

    void offer(int32_t replicate, int32_t marker, double value) {
        const size_t r = static_cast<size_t>(replicate);
        if (value != value) {
            if (marker == 0) notANumber_[r] = 1;
            return;
        }
        if (!seen_[r] || value > best_[r]) best_[r] = value;
        seen_[r] = 1;
    }
    void merge(const ReplicateMaxima& other) {
        for (size_t r = 0; r < best_.size(); ++r) {
            notANumber_[r] |= other.notANumber_[r];
            if (other.seen_[r] && (!seen_[r] || other.best_[r] > best_[r])) best_[r] = other.best_[r];
            seen_[r] |= other.seen_[r];
        }
    }
    std::vector<double> values() const {
        std::vector<double> out(best_.size());
        for (size_t r = 0; r < best_.size(); ++r) {
            out[r] = notANumber_[r] || !seen_[r] ? std::numeric_limits<double>::quiet_NaN() : best_[r];
        }
        return out;
    }

private:
    std::vector<double> best_;
    std::vector<char> seen_;
    std::vector<char> notANumber_;
};

// Case/control: the window score under shuffled statuses (one byte, 0 or 1, per
// record, padded with zeros to whole 64-record words).
class CaseControlReplicates {
public:
    CaseControlReplicates(const AnalysisState& state, const std::vector<WindowClusters>& clusters);
    size_t paddedSize() const { return words_ * 64; }
    double score(int32_t marker, const uint8_t* status);

private:
    void prepare(int32_t marker);

    const AnalysisState& state_;
    const std::vector<WindowClusters>& clusters_;
    size_t words_;
    int32_t marker_ = -1;
    bool useMasks_ = false;
    std::vector<uint64_t> masks_;
    std::vector<uint64_t> packed_;
};

// Trait mode: the window score, the single-marker pooled T and Mann-Whitney Z
// under shuffled trait values, given per record as indices into the ranks.
class TraitReplicates {
public:
    TraitReplicates(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
                    const TraitRanks& ranks);
    void score(int32_t marker, const uint32_t* index, double& windowScore, double& t, double& z);

private:
    const AnalysisState& state_;
    const std::vector<WindowClusters>& clusters_;
    const TraitRanks& ranks_;
    int32_t marker_ = -1;
    std::vector<int32_t> carriers_;
    std::vector<int64_t> scratch_;
};

}  // namespace orvane
