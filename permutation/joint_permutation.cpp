#include "permutation/joint_permutation.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <thread>

#include "model/worker_threads.h"
#include "permutation/joint_scoring.h"
#include "permutation/label_shuffle.h"
#include "permutation/member_sets.h"
#include "permutation/sequential_stop.h"
#include "permutation/trait_joint.h"
#include "scoring/bit_counting.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"

namespace orvane {

namespace {

using joint::forEachItem;
using joint::kBlock;
using joint::RegionalMaxima;
using joint::ScoredSets;
using joint::TraitJoint;

size_t words(int32_t n) { return (static_cast<size_t>(n) + 63) / 64; }

// Case/control: statuses as bits, one row of words per replicate. The cases of
// a large set are population counts against its member mask, taken a stretch
// of words at a time for all replicates of the block, so that the stretch of
// the mask and of the rows stay in cache; a small set's are counted member by
// member over the status bytes. Each distinct set once per replicate, then the
// markers' values from the counts.
class CaseControlJoint {
public:
    static constexpr int kStatistics = kCaseControlStatistics;

    CaseControlJoint(const AnalysisState& state, const std::vector<WindowClusters>& clusters)
        : state_(state), words_(words(state.nHaplotypes)), stride_(words_ * 64),
          scored_(state, clusters, [this](const int32_t* members, size_t size, uint64_t) { return intern(members, size); }),
          bytes_(static_cast<size_t>(kBlock) * stride_, 0), filling_(bytes_), bits_(static_cast<size_t>(kBlock) * words_, 0),
          cases_(sizes_.size() * kBlock, 0) {}

    // The chain fills one block's labels while the previous block is scored.
    uint8_t* labels(int32_t b) { return &filling_[static_cast<size_t>(b) * stride_]; }
    void swapBuffers() { std::swap(filling_, bytes_); }

    void score(int32_t first, int32_t count, int threads, std::vector<RegionalMaxima>& maxima) {
        for (int32_t b = 0; b < count; ++b) packStatuses(scored(b), words_, &bits_[static_cast<size_t>(b) * words_]);
        const int32_t dense = masks_.count();
        const int32_t denseItems = (dense + kSetsPerItem - 1) / kSetsPerItem;
        const int32_t sparseItems = members_.count();
        forEachItem(denseItems + sparseItems, threads, [&](int32_t item, int) {
            if (item < denseItems) {
                countDense(item * kSetsPerItem, std::min(dense, (item + 1) * kSetsPerItem), count);
            } else {
                countSparse(item - denseItems, count);
            }
        });
        forEachItem(state_.nMarkers, threads, [&](int32_t m, int t) {
            scoreMarker(m, first, count, maxima[static_cast<size_t>(t)]);
        });
    }

private:
    static constexpr int32_t kSetsPerItem = 8;
    static constexpr size_t kStretch = 256;  // words: the block's rows span 128 KiB of it

    // A set of more members than there are words is kept as a mask (id = its
    // mask's), a smaller one as a list (id = masks - 1 - its list's); the ids
    // are made dense once every set is known.
    int32_t intern(const int32_t* members, size_t size) {
        int32_t key;
        if (size > words_) {
            std::vector<uint64_t>& mask = maskScratch_;
            mask.assign(words_, 0);
            for (size_t k = 0; k < size; ++k) mask[static_cast<uint32_t>(members[k]) >> 6] |= uint64_t{1} << (members[k] & 63);
            key = 2 * masks_.add(mask.data(), words_);
        } else {
            key = 2 * members_.add(members, size) + 1;
        }
        if (static_cast<size_t>(key) >= slotOfKey_.size()) slotOfKey_.resize(static_cast<size_t>(key) + 1, -1);
        int32_t& slot = slotOfKey_[static_cast<size_t>(key)];
        if (slot < 0) {
            slot = static_cast<int32_t>(sizes_.size());
            sizes_.push_back(static_cast<int64_t>(size));
        }
        return slot;
    }

    const uint8_t* scored(int32_t b) const { return &bytes_[static_cast<size_t>(b) * stride_]; }

    int64_t& cases(int32_t slot, int32_t b) {
        return cases_[static_cast<size_t>(slot) * kBlock + static_cast<size_t>(b)];
    }

    void countDense(int32_t from, int32_t to, int32_t count) {
        for (int32_t d = from; d < to; ++d) {
            for (int32_t b = 0; b < count; ++b) cases(slotOfKey_[static_cast<size_t>(2 * d)], b) = 0;
        }
        for (size_t w = 0; w < words_; w += kStretch) {
            const size_t span = std::min(kStretch, words_ - w);
            for (int32_t d = from; d < to; ++d) {
                const uint64_t* mask = masks_.begin(d) + w;
                const int32_t slot = slotOfKey_[static_cast<size_t>(2 * d)];
                for (int32_t b = 0; b < count; ++b) {
                    cases(slot, b) += maskedCount(&bits_[static_cast<size_t>(b) * words_ + w], mask, span);
                }
            }
        }
    }

    void countSparse(int32_t list, int32_t count) {
        const int32_t slot = slotOfKey_[static_cast<size_t>(2 * list + 1)];
        for (int32_t b = 0; b < count; ++b) {
            const uint8_t* status = scored(b);
            int64_t sum = 0;
            for (const int32_t* h = members_.begin(list); h != members_.end(list); ++h) sum += status[*h];
            cases(slot, b) = sum;
        }
    }

    void scoreMarker(int32_t m, int32_t first, int32_t count, RegionalMaxima& maxima) {
        const size_t marker = static_cast<size_t>(m);
        const int32_t carriers = scored_.carrierSet[marker];
        for (int32_t b = 0; b < count; ++b) {
            CaseControlBest best;
            for (int32_t k = scored_.clusterFirst[marker]; k < scored_.clusterFirst[marker + 1]; ++k) {
                const int32_t slot = scored_.clusterSet[static_cast<size_t>(k)];
                const int64_t in = cases(slot, b);
                best.offer(chiSquareFromCounts(state_, in, sizes_[static_cast<size_t>(slot)] - in, false));
            }
            maxima.offer(kCaseControlCluster, first + b, best.score);
            maxima.offer(kCaseControlChiSquare, first + b,
                         markerChiSquareFromCounts(state_, cases(carriers, b), sizes_[static_cast<size_t>(carriers)]));
        }
    }

    const AnalysisState& state_;
    size_t words_;
    size_t stride_;
    DistinctLists<uint64_t> masks_;  // sets counted over masks
    MemberSets members_;             // sets counted member by member
    std::vector<uint64_t> maskScratch_;
    std::vector<int32_t> slotOfKey_;
    std::vector<int64_t> sizes_;     // per slot, the set's size
    ScoredSets scored_;
    std::vector<uint8_t> bytes_;     // per replicate of the block scored, the statuses (0 or 1), padded
    std::vector<uint8_t> filling_;   // the same for the block the chain fills
    std::vector<uint64_t> bits_;     // the same as bits
    std::vector<int64_t> cases_;     // per slot and replicate of the block
};

// Offers the replicates of a scored block to the stopping rule; the replicates
// drawn when it stops in the block, else 0.
int32_t stopInBlock(SequentialStop& stop, const std::vector<RegionalMaxima>& partial, int statistics,
                    int32_t first, int32_t count) {
    std::vector<double> maxima(static_cast<size_t>(statistics));
    for (int32_t b = 0; b < count; ++b) {
        for (int s = 0; s < statistics; ++s) {
            double best = joint::kNone;
            for (const RegionalMaxima& part : partial) best = std::max(best, part.at(s, first + b));
            maxima[static_cast<size_t>(s)] = best;
        }
        if (stop.offer(maxima)) return stop.drawn();
    }
    return 0;
}

// The chain, a block of replicates at a time: the labels run through the
// block's shuffles on one thread (each shuffle permutes the previous one's
// result), each shuffle's labels are kept, and the threads score them.
// With `adaptive` a SequentialStop sees each replicate once its block is
// scored; the blocks after the one it stops in are not scored.
template <typename Scorer, typename Label>
JointMaxima runJoint(AnalysisState& state, Scorer& scorer, std::vector<Label>& labels, int threads,
                     const ProgressCallback& progress, const std::vector<double>* adaptive) {
    const int32_t replicates = state.nPermutations;
    const int32_t n = state.nHaplotypes;
    threads = std::max(1, threads);
    std::vector<RegionalMaxima> partial(static_cast<size_t>(threads), RegionalMaxima(Scorer::kStatistics, replicates));
    std::unique_ptr<SequentialStop> stop;
    if (adaptive) stop = std::make_unique<SequentialStop>(*adaptive, kAdaptiveHits, replicates);
    int32_t drawn = 0;  // set when the rule stops the run
    const auto chain = [&](int32_t first) {
        for (int32_t b = 0; b < std::min(kBlock, replicates - first); ++b) {
            shuffleLabelArray(state.random, n, labels.data());
            std::copy(labels.begin(), labels.begin() + n, scorer.labels(b));
        }
    };
    if (replicates > 0) chain(0);
    for (int32_t first = 0; first < replicates && drawn == 0; first += kBlock) {
        const int32_t count = std::min(kBlock, replicates - first);
        scorer.swapBuffers();
        // With several threads the chain runs the next block meanwhile (on one
        // more thread, or after the scoring if none can be had).
        const int32_t next = first + kBlock;
        std::vector<std::thread> chainThread;
        if (threads > 1 && next < replicates) chainThread = startWorkers(1, [&](int) { chain(next); });
        scorer.score(first, count, threads, partial);
        for (std::thread& thread : chainThread) thread.join();
        if (stop) drawn = stopInBlock(*stop, partial, Scorer::kStatistics, first, count);
        if (chainThread.empty() && next < replicates && drawn == 0) chain(next);
        if (progress) progress(drawn > 0 ? replicates : first + count, replicates);
    }
    for (size_t t = 1; t < partial.size(); ++t) partial[0].merge(partial[t]);
    JointMaxima maxima = partial[0].result(Scorer::kStatistics);
    if (drawn > 0) {
        for (std::vector<double>& values : maxima.byStatistic) values.resize(static_cast<size_t>(drawn));
        maxima.stoppedEarly = true;
        maxima.hits = stop->hits();
    }
    return maxima;
}

// Given labels instead of the chain's, a block at a time.
// `toLabel` turns a given label into the scorer's, `nextReplicate` is called
// before each replicate's labels.
template <typename Scorer, typename ToLabel, typename NextReplicate>
JointMaxima scoreGivenLabels(const AnalysisState& state, Scorer& scorer,
                             const std::vector<std::vector<double>>& labels, int threads, const ToLabel& toLabel,
                             const NextReplicate& nextReplicate) {
    const int32_t replicates = static_cast<int32_t>(labels.size());
    threads = std::max(1, threads);
    std::vector<RegionalMaxima> partial(static_cast<size_t>(threads), RegionalMaxima(Scorer::kStatistics, replicates));
    for (int32_t first = 0; first < replicates; first += kBlock) {
        const int32_t count = std::min(kBlock, replicates - first);
        for (int32_t b = 0; b < count; ++b) {
            const std::vector<double>& given = labels[static_cast<size_t>(first + b)];
            auto* out = scorer.labels(b);
            nextReplicate();
            for (int32_t h = 0; h < state.nHaplotypes; ++h) out[h] = toLabel(given[static_cast<size_t>(h)]);
        }
        scorer.swapBuffers();
        scorer.score(first, count, threads, partial);
    }
    for (size_t t = 1; t < partial.size(); ++t) partial[0].merge(partial[t]);
    return partial[0].result(Scorer::kStatistics);
}

}  // namespace

void joint::collectCarriers(const AnalysisState& state, int32_t from, int32_t to, std::vector<int32_t>* lists) {
    state.alleles.visit([&](const auto* alleles) {
        for (int32_t h = 0; h < state.nHaplotypes; ++h) {
            const auto* row = alleles + static_cast<size_t>(h) * static_cast<size_t>(state.nMarkers);
            for (int32_t m = from; m < to; ++m) {
                if (row[m] == 1) lists[m - from].push_back(h);
            }
        }
    });
}

std::vector<std::vector<int32_t>> joint::markerCarriers(const AnalysisState& state, int threads) {
    constexpr int32_t kMarkersAtOnce = 16;
    std::vector<std::vector<int32_t>> carriers(static_cast<size_t>(state.nMarkers));
    forEachItem((state.nMarkers + kMarkersAtOnce - 1) / kMarkersAtOnce, threads, [&](int32_t block, int) {
        const int32_t from = block * kMarkersAtOnce;
        collectCarriers(state, from, std::min(state.nMarkers, from + kMarkersAtOnce), &carriers[static_cast<size_t>(from)]);
    });
    return carriers;
}

JointMaxima jointPermutationMaxima(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                   int threads, const ProgressCallback& progress,
                                   const std::vector<std::vector<int32_t>>* carriers,
                                   const std::vector<double>* adaptive) {
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    if (state.qtlMode) {
        std::vector<std::vector<int32_t>> found;
        if (!carriers) {
            found = joint::markerCarriers(state, threads);
            carriers = &found;
        }
        std::vector<uint32_t> index;
        const TraitRanks ranks(state, index);
        TraitJoint scorer(state, clusters, *carriers, ranks, threads);
        JointMaxima maxima = runJoint(state, scorer, index, threads, progress, adaptive);
        for (size_t h = 0; h < n; ++h) state.haplotypes[h].trait = ranks.sorted[index[h]];
        return maxima;
    }
    std::vector<uint8_t> status(n, 0);
    for (size_t h = 0; h < n; ++h) status[h] = state.haplotypes[h].status == 1;
    CaseControlJoint scorer(state, clusters);
    JointMaxima maxima = runJoint(state, scorer, status, threads, progress, adaptive);
    for (size_t h = 0; h < n; ++h) state.haplotypes[h].status = status[h];
    return maxima;
}

JointMaxima jointMaximaOfLabels(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                const std::vector<std::vector<double>>& labels, int threads) {
    if (state.qtlMode) {
        const std::vector<std::vector<int32_t>> carriers = joint::markerCarriers(state, threads);
        std::vector<uint32_t> index;
        const TraitRanks ranks(state, index);
        TraitJoint scorer(state, clusters, carriers, ranks, threads);
        // Equal values take the indices of their run one after another, so
        // that each replicate's indices are a permutation, as the chain's are.
        std::vector<uint32_t> taken;
        return scoreGivenLabels(state, scorer, labels, threads, [&](double value) {
            if (taken.empty()) taken.assign(ranks.sorted.size(), 0);
            const size_t run = static_cast<size_t>(std::lower_bound(ranks.sorted.begin(), ranks.sorted.end(), value) -
                                                   ranks.sorted.begin());
            const size_t at = run + taken[run]++;
            if (at >= ranks.sorted.size() || ranks.sorted[at] != value) {
                throw std::invalid_argument("replicate labels are not a rearrangement of the trait values");
            }
            return static_cast<uint32_t>(at);
        }, [&] { taken.clear(); });
    }
    CaseControlJoint scorer(state, clusters);
    return scoreGivenLabels(state, scorer, labels, threads,
                            [](double status) { return static_cast<uint8_t>(status == 1.0); }, [] {});
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
