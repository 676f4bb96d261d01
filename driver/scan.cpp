#include "driver/scan.h"

#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "cluster/packed_alleles.h"
#include "cluster/window_distances.h"
#include "model/progress.h"
#include "model/worker_threads.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"
#include "stats/distribution_tails.h"

namespace orvane {

namespace {

double minusLog10(double p) { return -std::log10(p); }

// What one marker contributes to the outputs, computed ahead of writing.
struct MarkerOutcome {
    TextBuffer block;
    double score = 0.0;
    double scoreMinusLogP = 0.0;
    double chiSquare = 0.0;
    double chiSquareMinusLogP = 0.0;
    TraitTests tests;
    bool scored = false;  // some cluster of the window was scored
    bool zeroRadius = false;
    // An error met while computing the marker; a numerical error of the tails
    // comes after the marker's block, which is still written.
    std::exception_ptr error;
    bool blockComplete = false;
};

using ComputeMarker = std::function<void(int32_t, WindowClusterer&, MarkerOutcome&)>;
using WriteMarker = std::function<void(int32_t, MarkerOutcome&)>;

// Workers compute markers in any order, at most kLookahead ahead of the writer;
// the calling thread writes them in marker order. The report text of markers
// computed but not yet written is held in memory, and a window of many members
// can report megabytes, so workers also wait while that text passes
// kPendingBytes (the marker the writer needs next is always let through).
class MarkerPipeline {
public:
    static constexpr int32_t kLookahead = 256;
    static constexpr size_t kPendingBytes = size_t{64} << 20;

    MarkerPipeline(int threads, int32_t markers) : threads_(threads), markers_(markers) {
        outcomes_.resize(static_cast<size_t>(markers));
        ready_.assign(static_cast<size_t>(markers), 0);
    }

    void run(const ComputeMarker& compute, const WriteMarker& write) {
        std::vector<std::thread> workers;
        if (threads_ > 1) workers = startWorkers(threads_, [&](int) { work(compute); });
        if (workers.empty()) {
            WindowClusterer clusterer;
            for (int32_t i = 0; i < markers_; ++i) {
                MarkerOutcome& outcome = outcomes_[static_cast<size_t>(i)];
                computeSafely(compute, i, clusterer, outcome);
                write(i, outcome);
                discard(outcome);
            }
            return;
        }
        try {
            for (int32_t i = 0; i < markers_; ++i) {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [&] { return ready_[static_cast<size_t>(i)] != 0; });
                }
                MarkerOutcome& outcome = outcomes_[static_cast<size_t>(i)];
                const size_t bytes = outcome.block.text().size();
                write(i, outcome);
                discard(outcome);
                std::lock_guard<std::mutex> lock(mutex_);
                written_ = i + 1;
                pendingBytes_ -= bytes;
                changed_.notify_all();
            }
        } catch (...) {
            stop(workers);
            throw;
        }
        stop(workers);
    }

private:
    // A written marker's report text is freed at once; all of them together
    // can be as large as the report.
    static void discard(MarkerOutcome& outcome) {
        outcome.block.release();
        outcome = MarkerOutcome();
    }

    static void computeSafely(const ComputeMarker& compute, int32_t i, WindowClusterer& clusterer,
                              MarkerOutcome& outcome) {
        try {
            compute(i, clusterer, outcome);
        } catch (...) {
            outcome.error = std::current_exception();
        }
    }

    void work(const ComputeMarker& compute) {
        WindowClusterer clusterer;
        for (;;) {
            int32_t i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_ >= markers_ ||
                           (next_ < written_ + kLookahead &&
                            (pendingBytes_ < kPendingBytes || next_ == written_));
                });
                if (stopping_ || next_ >= markers_) return;
                i = next_++;
            }
            MarkerOutcome& outcome = outcomes_[static_cast<size_t>(i)];
            computeSafely(compute, i, clusterer, outcome);
            std::lock_guard<std::mutex> lock(mutex_);
            pendingBytes_ += outcome.block.text().size();
            ready_[static_cast<size_t>(i)] = 1;
            changed_.notify_all();
        }
    }

    void stop(std::vector<std::thread>& workers) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        for (std::thread& worker : workers) worker.join();
    }

    int threads_;
    int32_t markers_;
    std::vector<MarkerOutcome> outcomes_;
    std::vector<char> ready_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int32_t next_ = 0;
    int32_t written_ = 0;
    size_t pendingBytes_ = 0;
    bool stopping_ = false;
};

// Writes a marker's block and line in order; an error stops the run there.
class OrderedWriter {
public:
    OrderedWriter(const AnalysisState& state, OutputFile& report, ResultFile& results,
                  ProgressLine& progress)
        : state_(state), report_(report), results_(results), progress_(progress) {}

    // Writes the block; true when the marker's line may follow.
    void writeBlock(MarkerOutcome& outcome) {
        if (outcome.error && !outcome.blockComplete) std::rethrow_exception(outcome.error);
        report_ << outcome.block.text();
        report_.flush();
        if (outcome.error) std::rethrow_exception(outcome.error);
    }

    void endLine(int32_t i) {
        const bool last = i + 1 == state_.nMarkers;
        if (!last) cumulativeDistance_ += state_.markerDistances[static_cast<size_t>(i)];
        results_.endMarkerLine(!last, cumulativeDistance_);
        progress_.update("scanning markers", i + 1, state_.nMarkers);
    }

    ResultFile& results() { return results_; }

private:
    const AnalysisState& state_;
    OutputFile& report_;
    ResultFile& results_;
    ProgressLine& progress_;
    double cumulativeDistance_ = 0.0;
};

int32_t clusterMarker(const AnalysisState& state, const PackedAlleles& packed, const RadiusRule& rule,
                      int32_t i, WindowClusterer& clusterer, WindowClusters& clusters,
                      MarkerOutcome& out) {
    clusterer.cluster(state, rule, i, clusters, &packed);
    out.zeroRadius = rule.derived && clusterer.epsilon() == 0.0;
    return windowStartOf(i, state.windowSize, state.nMarkers);
}

// Every window's clusters stay until the permutation test, which reads only their
// members: the core flags go, and the members' spare capacity (up to half of what
// a growing list holds) is given back, as they add up to several members per
// haplotype.
void keepForPermutations(WindowClusters& window) {
    window.memberCore = std::vector<uint8_t>();
    window.members.shrink_to_fit();
}

void countWindow(const MarkerOutcome& out, ScanCounts& counts) {
    ++counts.windows;
    counts.withoutCluster += !out.scored;
    counts.zeroRadius += out.zeroRadius;
}

}  // namespace

std::vector<WindowClusters> scanCaseControl(AnalysisState& state, int threads, OutputFile& report,
                                            ResultFile& results, CaseControlSummary& summary,
                                            ScanCounts& counts, ProgressLine& progress) {
    std::vector<WindowClusters> clusters(static_cast<size_t>(state.nMarkers));
    const RadiusRule rule = radiusRuleFor(state);
    const PackedAlleles packed(state);
    const CarrierCounts carriers = countCarriers(state);
    OrderedWriter writer(state, report, results, progress);
    MarkerPipeline pipeline(threads, state.nMarkers);
    pipeline.run(
        [&](int32_t i, WindowClusterer& clusterer, MarkerOutcome& out) {
            WindowClusters& window = clusters[static_cast<size_t>(i)];
            const int32_t start = clusterMarker(state, packed, rule, i, clusterer, window, out);
            out.score = scoreWindowCaseControl(state, window, i, start, out.block);
            keepForPermutations(window);
            out.blockComplete = true;
            // A window scores exactly 0 when it has no cluster, or none that differs at all.
            out.scored = out.score != 0.0;
            out.scoreMinusLogP = minusLog10(chisqtail(out.score * out.score, 1));
            out.chiSquare = markerChiSquareFromCounts(state, carriers.cases[static_cast<size_t>(i)],
                                                      carriers.carriers[static_cast<size_t>(i)]);
            out.chiSquareMinusLogP =
                out.chiSquare == 0.0 ? 0.0 : minusLog10(chisqtail(out.chiSquare, 1));
        },
        [&](int32_t i, MarkerOutcome& out) {
            countWindow(out, counts);
            summary.score.offer(out.score, i);
            writer.writeBlock(out);
            summary.chiSquare.offer(out.chiSquare, i);
            writer.results().caseControlLine(i, out.score, out.scoreMinusLogP, out.chiSquare,
                                             out.chiSquareMinusLogP);
            writer.endLine(i);
        });
    return clusters;
}

std::vector<WindowClusters> scanTrait(AnalysisState& state, int threads, OutputFile& report,
                                      ResultFile& results, TraitSummary& summary,
                                      ScanCounts& counts, ProgressLine& progress,
                                      std::vector<std::vector<int32_t>>* carriers) {
    std::vector<WindowClusters> clusters(static_cast<size_t>(state.nMarkers));
    if (carriers) carriers->assign(static_cast<size_t>(state.nMarkers), {});
    const RadiusRule rule = radiusRuleFor(state);
    const PackedAlleles packed(state);
    // The totals are the same at every marker: the trait values do not move in the scan.
    prepareTraitStatistics(state);
    std::vector<uint32_t> index;
    const TraitRanks ranks(state, index);
    OrderedWriter writer(state, report, results, progress);
    MarkerPipeline pipeline(threads, state.nMarkers);
    pipeline.run(
        [&](int32_t i, WindowClusterer& clusterer, MarkerOutcome& out) {
            WindowClusters& window = clusters[static_cast<size_t>(i)];
            const int32_t start = clusterMarker(state, packed, rule, i, clusterer, window, out);
            out.score = scoreWindowTrait(state, window, i, start, out.block);
            keepForPermutations(window);
            out.blockComplete = true;
            out.scored = out.score != kNoClusterTraitScore;
            out.scoreMinusLogP = traitScoreMinusLog10P(out.score, state.nHaplotypes);
            std::vector<int32_t> own;
            carriersOf(state, i, own);
            std::vector<int64_t> scratch(static_cast<size_t>(state.nHaplotypes), 0);
            out.tests = rankedTraitTests(state, ranks, index.data(), own, scratch);
            if (carriers) (*carriers)[static_cast<size_t>(i)] = std::move(own);
        },
        [&](int32_t i, MarkerOutcome& out) {
            countWindow(out, counts);
            summary.score.offer(out.score, i);
            writer.writeBlock(out);
            writer.results().traitLine(i, out.score, out.scoreMinusLogP, out.tests);
            summary.t.offer(out.tests.t, i);
            summary.z.offer(out.tests.z, i);
            writer.endLine(i);
        });
    return clusters;
}

}  // namespace orvane
