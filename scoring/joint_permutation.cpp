#include "scoring/joint_permutation.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "model/worker_threads.h"
#include "scoring/case_control_scoring.h"
#include "scoring/label_shuffle.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();

// Replicates whose labels are kept at once: the chain runs them, then the
// threads score every marker under each of them.
constexpr int32_t kBlock = 64;

size_t words(int32_t n) { return (static_cast<size_t>(n) + 63) / 64; }

// Per statistic and replicate the largest value that is a number.
class RegionalMaxima {
public:
    RegionalMaxima(int statistics, int32_t replicates)
        : replicates_(static_cast<size_t>(replicates)),
          best_(static_cast<size_t>(statistics) * replicates_, kNone) {}
    void offer(int statistic, int32_t replicate, double value) {
        double& best = best_[static_cast<size_t>(statistic) * replicates_ + static_cast<size_t>(replicate)];
        if (value > best) best = value;  // false for a value that is not a number
    }
    void merge(const RegionalMaxima& other) {
        for (size_t k = 0; k < best_.size(); ++k) best_[k] = std::max(best_[k], other.best_[k]);
    }
    JointMaxima result(int statistics) const {
        JointMaxima out;
        for (int s = 0; s < statistics; ++s) {
            const auto first = best_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(s) * replicates_);
            out.byStatistic.emplace_back(first, first + static_cast<std::ptrdiff_t>(replicates_));
        }
        return out;
    }

private:
    size_t replicates_;
    std::vector<double> best_;
};

// Marker by marker under a block of replicates: each thread takes the next
// marker not yet taken and scores it under every replicate of the block, into
// maxima of its own, merged at the end (a maximum does not depend on order).
template <typename ScoreMarker>
void scoreBlockOverMarkers(int32_t markers, int threads, std::vector<RegionalMaxima>& partial,
                           const ScoreMarker& scoreMarker) {
    std::atomic<int32_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&](int t) {
        try {
            for (int32_t m = next++; m < markers; m = next++) scoreMarker(m, partial[static_cast<size_t>(t)]);
        } catch (...) {
            std::lock_guard<std::mutex> held(failureLock);
            if (!failure) failure = std::current_exception();
            next = markers;
        }
    };
    std::vector<std::thread> helpers = startWorkers(threads - 1, [&](int t) { work(t + 1); });
    work(0);
    for (std::thread& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
}

// Case/control: statuses as bits, one row of words per replicate; a cluster's
// or a marker's carriers' cases are population counts against its member mask
// (or, for many small clusters, a count member by member over status bytes).
class CaseControlJoint {
public:
    CaseControlJoint(const AnalysisState& state, const std::vector<WindowClusters>& clusters)
        : state_(state), clusters_(clusters), words_(words(state.nHaplotypes)),
          stride_(words_ * 64), bytes_(static_cast<size_t>(kBlock) * stride_, 0),
          bits_(static_cast<size_t>(kBlock) * words_, 0) {
        const size_t markers = static_cast<size_t>(state.nMarkers);
        carrierMasks_.assign(markers * words_, 0);
        carrierCounts_.assign(markers, 0);
        clusterMasks_.resize(markers);
        for (size_t m = 0; m < markers; ++m) {
            uint64_t* mask = &carrierMasks_[m * words_];
            for (int32_t h = 0; h < state.nHaplotypes; ++h) {
                if (state.allele(h, static_cast<int32_t>(m)) != 1) continue;
                mask[static_cast<size_t>(h) >> 6] |= uint64_t{1} << (h & 63);
                ++carrierCounts_[m];
            }
            const WindowClusters& window = clusters[m];
            // Few large clusters are counted over masks, many small ones member by member.
            if (static_cast<size_t>(window.count()) * words_ >= window.members.size()) continue;
            std::vector<uint64_t>& masks = clusterMasks_[m];
            masks.assign(static_cast<size_t>(window.count()) * words_, 0);
            for (int32_t c = 0; c < window.count(); ++c) {
                for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                    const uint32_t h = static_cast<uint32_t>(window.members[static_cast<size_t>(k)]);
                    masks[static_cast<size_t>(c) * words_ + (h >> 6)] |= uint64_t{1} << (h & 63);
                }
            }
        }
    }

    static constexpr int kStatistics = kCaseControlStatistics;
    uint8_t* labels(int32_t b) { return &bytes_[static_cast<size_t>(b) * stride_]; }

    // After the chain filled the block's labels: their bits.
    void pack(int32_t count) {
        for (int32_t b = 0; b < count; ++b) {
            const uint8_t* status = labels(b);
            uint64_t* row = &bits_[static_cast<size_t>(b) * words_];
            for (size_t w = 0; w < words_; ++w) {
                uint64_t word = 0;
                for (int bit = 0; bit < 64; ++bit) word |= static_cast<uint64_t>(status[w * 64 + static_cast<size_t>(bit)] & 1) << bit;
                row[w] = word;
            }
        }
    }

    void score(int32_t m, int32_t first, int32_t count, RegionalMaxima& maxima) const {
        const size_t marker = static_cast<size_t>(m);
        const WindowClusters& window = clusters_[marker];
        const std::vector<uint64_t>& masks = clusterMasks_[marker];
        const uint64_t* carriers = &carrierMasks_[marker * words_];
        for (int32_t b = 0; b < count; ++b) {
            const uint64_t* row = &bits_[static_cast<size_t>(b) * words_];
            const uint8_t* status = &bytes_[static_cast<size_t>(b) * stride_];
            CaseControlBest best;
            for (int32_t c = 0; c < window.count(); ++c) {
                int64_t cases = 0;
                if (!masks.empty()) {
                    cases = maskedCount(row, &masks[static_cast<size_t>(c) * words_]);
                } else {
                    for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                        cases += status[window.members[static_cast<size_t>(k)]];
                    }
                }
                best.offer(chiSquareFromCounts(state_, cases, window.end(c) - window.begin(c) - cases, false));
            }
            maxima.offer(kCaseControlCluster, first + b, best.score);
            maxima.offer(kCaseControlChiSquare, first + b,
                         markerChiSquareFromCounts(state_, maskedCount(row, carriers), carrierCounts_[marker]));
        }
    }

private:
    int64_t maskedCount(const uint64_t* row, const uint64_t* mask) const {
        int64_t sum = 0;
        for (size_t w = 0; w < words_; ++w) sum += __builtin_popcountll(row[w] & mask[w]);
        return sum;
    }

    const AnalysisState& state_;
    const std::vector<WindowClusters>& clusters_;
    size_t words_;
    size_t stride_;
    std::vector<uint8_t> bytes_;  // per replicate of the block, the statuses (0 or 1), padded
    std::vector<uint64_t> bits_;  // the same as bits
    std::vector<uint64_t> carrierMasks_;
    std::vector<int64_t> carrierCounts_;
    std::vector<std::vector<uint64_t>> clusterMasks_;  // empty: counted member by member
};

// Trait mode: per replicate the records' values as indices into the sorted
// values; clusters summed in ascending member order as the scan sums them, and
// the single-marker tests from the carriers as the scan computes them.
class TraitJoint {
public:
    TraitJoint(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
               const TraitRanks& ranks)
        : state_(state), clusters_(clusters), ranks_(ranks),
          n_(static_cast<size_t>(state.nHaplotypes)), index_(static_cast<size_t>(kBlock) * n_, 0),
          carriers_(static_cast<size_t>(state.nMarkers)) {
        for (int32_t m = 0; m < state.nMarkers; ++m) carriersOf(state, m, carriers_[static_cast<size_t>(m)]);
    }

    static constexpr int kStatistics = kTraitStatistics;
    uint32_t* labels(int32_t b) { return &index_[static_cast<size_t>(b) * n_]; }
    void pack(int32_t) {}

    void score(int32_t m, int32_t first, int32_t count, RegionalMaxima& maxima) const {
        const WindowClusters& window = clusters_[static_cast<size_t>(m)];
        const double* value = ranks_.sorted.data();
        thread_local std::vector<int64_t> scratch;
        scratch.assign(n_, 0);
        for (int32_t b = 0; b < count; ++b) {
            const uint32_t* index = &index_[static_cast<size_t>(b) * n_];
            double best = kNoClusterTraitScore;
            for (int32_t c = 0; c < window.count(); ++c) {
                double sum = 0.0;
                double sumOfSquares = 0.0;
                for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                    const double x = value[index[window.members[static_cast<size_t>(k)]]];
                    sum += x;
                    sumOfSquares += x * x;
                }
                double mean = 0.0;
                double variance = 0.0;
                const double t = traitTFromSums(state_, window.end(c) - window.begin(c), sum, sumOfSquares, mean, variance);
                if (t > best) best = t;
            }
            maxima.offer(kTraitCluster, first + b, best);
            const TraitTests tests = rankedTraitTests(state_, ranks_, index, carriers_[static_cast<size_t>(m)], scratch);
            maxima.offer(kTraitT, first + b, tests.t);
            maxima.offer(kTraitZ, first + b, tests.z);
        }
    }

private:
    const AnalysisState& state_;
    const std::vector<WindowClusters>& clusters_;
    const TraitRanks& ranks_;
    size_t n_;
    std::vector<uint32_t> index_;  // per replicate of the block, n indices
    std::vector<std::vector<int32_t>> carriers_;
};

// The chain, a block of replicates at a time: the labels run through the
// block's shuffles on one thread (each shuffle permutes the previous one's
// result), each shuffle's labels are kept, and the threads score them.
template <typename Scorer, typename Label>
JointMaxima runJoint(AnalysisState& state, Scorer& scorer, std::vector<Label>& labels, int threads,
                     const ProgressCallback& progress) {
    const int32_t replicates = state.nPermutations;
    const int32_t n = state.nHaplotypes;
    std::vector<RegionalMaxima> partial(static_cast<size_t>(std::max(1, threads)),
                                        RegionalMaxima(Scorer::kStatistics, replicates));
    for (int32_t first = 0; first < replicates; first += kBlock) {
        const int32_t count = std::min(kBlock, replicates - first);
        for (int32_t b = 0; b < count; ++b) {
            shuffleLabelArray(state.random, n, labels.data());
            std::copy(labels.begin(), labels.begin() + n, scorer.labels(b));
        }
        scorer.pack(count);
        scoreBlockOverMarkers(state.nMarkers, threads, partial, [&](int32_t m, RegionalMaxima& maxima) {
            scorer.score(m, first, count, maxima);
        });
        if (progress) progress(first + count, replicates);
    }
    for (size_t t = 1; t < partial.size(); ++t) partial[0].merge(partial[t]);
    return partial[0].result(Scorer::kStatistics);
}

}  // namespace

JointMaxima jointPermutationMaxima(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                   int threads, const ProgressCallback& progress) {
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    if (state.qtlMode) {
        std::vector<uint32_t> index;
        const TraitRanks ranks(state, index);
        TraitJoint scorer(state, clusters, ranks);
        JointMaxima maxima = runJoint(state, scorer, index, threads, progress);
        for (size_t h = 0; h < n; ++h) state.haplotypes[h].trait = ranks.sorted[index[h]];
        return maxima;
    }
    std::vector<uint8_t> status(n, 0);
    for (size_t h = 0; h < n; ++h) status[h] = state.haplotypes[h].status == 1;
    CaseControlJoint scorer(state, clusters);
    JointMaxima maxima = runJoint(state, scorer, status, threads, progress);
    for (size_t h = 0; h < n; ++h) state.haplotypes[h].status = status[h];
    return maxima;
}

double jointPValue(const std::vector<double>& maxima, double observed) {
    int64_t atLeast = 0;
    for (const double value : maxima) atLeast += value >= observed;
    return static_cast<double>(1 + atLeast) / static_cast<double>(maxima.size() + 1);
}

double omnibusPValue(const JointMaxima& maxima, const std::vector<double>& observed) {
    const size_t replicates = maxima.byStatistic.empty() ? 0 : maxima.byStatistic[0].size();
    // Draw 0 is the observed data, draws 1 .. P the replicates.
    std::vector<double> smallest(replicates + 1, 1.0);
    for (size_t s = 0; s < maxima.byStatistic.size(); ++s) {
        std::vector<double> draws(replicates + 1);
        draws[0] = observed[s];
        std::copy(maxima.byStatistic[s].begin(), maxima.byStatistic[s].end(), draws.begin() + 1);
        // A draw's p-value: the share of draws at least its value. Sorted, that
        // is the share from the first draw equal to it on.
        std::vector<double> sorted = draws;
        std::sort(sorted.begin(), sorted.end());
        for (size_t d = 0; d <= replicates; ++d) {
            const size_t below = static_cast<size_t>(std::lower_bound(sorted.begin(), sorted.end(), draws[d]) - sorted.begin());
            const double p = static_cast<double>(replicates + 1 - below) / static_cast<double>(replicates + 1);
            smallest[d] = std::min(smallest[d], p);
        }
    }
    int64_t atMost = 0;
    for (size_t d = 1; d <= replicates; ++d) atMost += smallest[d] <= smallest[0];
    return static_cast<double>(1 + atMost) / static_cast<double>(replicates + 1);
}

}  // namespace orvane
