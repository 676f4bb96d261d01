#include "scoring/permutation_test.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "scoring/label_shuffle.h"
#include "scoring/replicate_scoring.h"
#include "scoring/single_marker_tests.h"

namespace orvane {

namespace {

// The scorers of the two modes behind one call: the statistics of replicate r
// of marker l, from the labels the (l x P + r + 1)-th shuffle left.
struct CaseControlMode {
    using Label = uint8_t;
    static constexpr int kChannels = 1;
    using Scorer = CaseControlReplicates;
    // Statuses are kept padded with zeros to whole 64-record words, which the
    // scorer reads whole.
    static size_t stride(int32_t n) { return (static_cast<size_t>(n) + 63) / 64 * 64; }
    static void score(Scorer& scorer, int32_t marker, const Label* labels, double* values) {
        values[0] = scorer.score(marker, labels);
    }
};

struct TraitMode {
    using Label = uint32_t;
    static constexpr int kChannels = 3;
    using Scorer = TraitReplicates;
    static size_t stride(int32_t n) { return static_cast<size_t>(n); }
    static void score(Scorer& scorer, int32_t marker, const Label* labels, double* values) {
        scorer.score(marker, labels, values[0], values[1], values[2]);
    }
};

// The replicates of the whole test. Every shuffle permutes the labels the
// previous one left, so the swaps form one chain; the offsets of a shuffle
// depend only on the random stream and the scoring only on the shuffled labels,
// so with several threads one of them runs the chain of swaps while the others
// draw offsets ahead and score the shuffled labels it hands over, in blocks.
template <typename Mode>
class ReplicateRun {
public:
    using Label = typename Mode::Label;
    using Scorer = typename Mode::Scorer;
    using MakeScorer = std::function<std::unique_ptr<Scorer>()>;

    ReplicateRun(AnalysisState& state, std::vector<Label>& labels, MakeScorer makeScorer,
                 const PermutationProgress& progress)
        : state_(state),
          labels_(labels),
          makeScorer_(std::move(makeScorer)),
          progress_(progress),
          n_(state.nHaplotypes),
          stride_(Mode::stride(state.nHaplotypes)),
          replicates_(state.nPermutations),
          shuffles_(static_cast<int64_t>(state.nMarkers) * state.nPermutations) {}

    std::vector<ReplicateMaxima> run(int threads) {
        if (threads <= 1 || shuffles_ < 2 * kBlock) return runInline();
        return runInBlocks(threads);
    }

private:
    static constexpr int32_t kBlock = 16;  // shuffles per hand-over

    std::vector<ReplicateMaxima> emptyMaxima() const {
        return std::vector<ReplicateMaxima>(Mode::kChannels, ReplicateMaxima(replicates_));
    }

    void offerAll(std::vector<ReplicateMaxima>& maxima, int64_t shuffle, const double* values) const {
        const int32_t marker = static_cast<int32_t>(shuffle / replicates_);
        const int32_t replicate = static_cast<int32_t>(shuffle % replicates_);
        for (int c = 0; c < Mode::kChannels; ++c) maxima[static_cast<size_t>(c)].offer(replicate, marker, values[c]);
    }

    std::vector<ReplicateMaxima> runInline() {
        std::vector<ReplicateMaxima> maxima = emptyMaxima();
        std::unique_ptr<Scorer> scorer = makeScorer_();
        double values[3];
        for (int64_t k = 0; k < shuffles_; ++k) {
            shuffleLabelArray(state_.random, n_, labels_.data());
            Mode::score(*scorer, static_cast<int32_t>(k / replicates_), labels_.data(), values);
            offerAll(maxima, k, values);
            if (progress_ && k % 4096 == 0) progress_(k, shuffles_);
        }
        return maxima;
    }

    enum class SlotState { Free, Drawing, Drawn, Swapped, Scoring };
    struct Slot {
        SlotState state = SlotState::Free;
        int64_t block = -1;
        std::vector<int32_t> offsets;
        std::vector<Label> snapshot;
    };

    int32_t shufflesIn(int64_t block) const {
        return static_cast<int32_t>(std::min<int64_t>(kBlock, shuffles_ - block * kBlock));
    }

    std::vector<ReplicateMaxima> runInBlocks(int threads) {
        blocks_ = (shuffles_ + kBlock - 1) / kBlock;
        slots_.resize(static_cast<size_t>(4 * threads));
        for (Slot& slot : slots_) {
            slot.offsets.resize(static_cast<size_t>(kBlock) * static_cast<size_t>(n_));
            slot.snapshot.resize(static_cast<size_t>(kBlock) * stride_);
        }
        RandomStream::jump(static_cast<uint64_t>(kBlock) * static_cast<uint64_t>(n_), blockMultiplier_,
                           blockIncrement_);
        drawState_ = state_.random.state();
        startState_ = drawState_;

        std::vector<std::vector<ReplicateMaxima>> partial(static_cast<size_t>(threads), emptyMaxima());
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads; ++t) {
            helpers.emplace_back([this, &partial, t] { work(false, partial[static_cast<size_t>(t)]); });
        }
        work(true, partial[0]);
        for (std::thread& helper : helpers) helper.join();
        if (failure_) std::rethrow_exception(failure_);

        uint32_t a = 0, c = 0;
        RandomStream::jump(static_cast<uint64_t>(shuffles_) * static_cast<uint64_t>(n_), a, c);
        state_.random.resume(a * startState_ + c);
        std::vector<ReplicateMaxima> maxima = emptyMaxima();
        for (const auto& part : partial) {
            for (int c2 = 0; c2 < Mode::kChannels; ++c2) maxima[static_cast<size_t>(c2)].merge(part[static_cast<size_t>(c2)]);
        }
        return maxima;
    }

    enum class Task { None, Draw, Swap, Score };

    // Picks the next task under the lock. The swapper runs the chain whenever it
    // can; everyone keeps a couple of blocks of offsets ready ahead of it.
    Task pick(bool swapper, int64_t& block, uint32_t& drawFrom) {
        const int64_t drawnAhead = nextDraw_ - nextSwap_;
        const bool canSwap = swapper && nextSwap_ < blocks_ &&
                             slotOf(nextSwap_).state == SlotState::Drawn && slotOf(nextSwap_).block == nextSwap_;
        const bool canDraw = nextDraw_ < blocks_ && slotOf(nextDraw_).state == SlotState::Free;
        if (canSwap) {
            block = nextSwap_++;
            return Task::Swap;
        }
        if (canDraw && drawnAhead < 2) return takeDraw(block, drawFrom);
        if (!swapped_.empty()) {
            block = swapped_.back();
            swapped_.pop_back();
            slotOf(block).state = SlotState::Scoring;
            return Task::Score;
        }
        if (canDraw) return takeDraw(block, drawFrom);
        return Task::None;
    }

    Task takeDraw(int64_t& block, uint32_t& drawFrom) {
        block = nextDraw_++;
        drawFrom = drawState_;
        drawState_ = blockMultiplier_ * drawState_ + blockIncrement_;
        Slot& slot = slotOf(block);
        slot.state = SlotState::Drawing;
        slot.block = block;
        return Task::Draw;
    }

    Slot& slotOf(int64_t block) { return slots_[static_cast<size_t>(block % static_cast<int64_t>(slots_.size()))]; }

    void work(bool swapper, std::vector<ReplicateMaxima>& maxima) {
        std::unique_ptr<Scorer> scorer;
        double values[3];
        for (;;) {
            int64_t block = -1;
            uint32_t drawFrom = 0;
            Task task = Task::None;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    if (failure_ || scored_ == blocks_) return true;
                    task = pick(swapper, block, drawFrom);
                    return task != Task::None;
                });
                if (task == Task::None) return;
            }
            try {
                Slot& slot = slotOf(block);
                const int32_t count = shufflesIn(block);
                if (task == Task::Draw) {
                    RandomStream stream;
                    stream.resume(drawFrom);
                    for (int32_t j = 0; j < count; ++j) {
                        drawShuffleOffsets(stream, n_, slot.offsets.data() + static_cast<size_t>(j) * n_);
                    }
                } else if (task == Task::Swap) {
                    for (int32_t j = 0; j < count; ++j) {
                        applyShuffle(labels_.data(), n_, slot.offsets.data() + static_cast<size_t>(j) * n_);
                        std::copy(labels_.begin(), labels_.begin() + static_cast<ptrdiff_t>(stride_),
                                  slot.snapshot.begin() + static_cast<ptrdiff_t>(j * stride_));
                    }
                    if (progress_ && block % 256 == 0) progress_(block * kBlock, shuffles_);
                } else {
                    if (!scorer) scorer = makeScorer_();
                    for (int32_t j = 0; j < count; ++j) {
                        const int64_t k = block * kBlock + j;
                        Mode::score(*scorer, static_cast<int32_t>(k / replicates_),
                                    slot.snapshot.data() + static_cast<size_t>(j) * stride_, values);
                        offerAll(maxima, k, values);
                    }
                }
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            Slot& slot = slotOf(block);
            if (task == Task::Draw) {
                slot.state = SlotState::Drawn;
            } else if (task == Task::Swap) {
                slot.state = SlotState::Swapped;
                swapped_.push_back(block);
            } else {
                slot.state = SlotState::Free;
                ++scored_;
            }
            changed_.notify_all();
        }
    }

    AnalysisState& state_;
    std::vector<Label>& labels_;
    MakeScorer makeScorer_;
    const PermutationProgress& progress_;
    int32_t n_;
    size_t stride_;  // labels per shuffle snapshot
    int32_t replicates_;
    int64_t shuffles_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::vector<int64_t> swapped_;
    int64_t blocks_ = 0;
    int64_t nextDraw_ = 0;
    int64_t nextSwap_ = 0;
    int64_t scored_ = 0;
    uint32_t drawState_ = 0;
    uint32_t startState_ = 0;
    uint32_t blockMultiplier_ = 0;
    uint32_t blockIncrement_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

void shuffleLabels(AnalysisState& state) {
    const int32_t n = state.nHaplotypes;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = shuffleOffset(state.random.next(), n - 1 - i);
        HaplotypeRecord& a = state.haplotypes[static_cast<size_t>(i)];
        HaplotypeRecord& b = state.haplotypes[static_cast<size_t>(i + j)];
        if (state.qtlMode) {
            std::swap(a.trait, b.trait);
        } else {
            std::swap(a.status, b.status);
        }
    }
}

double empiricalPValue(const double* maxima, int32_t count, double observed) {
    int32_t below = 0;
    for (int32_t r = 0; r < count; ++r) {
        if (!(maxima[r] >= observed)) ++below;
    }
    return 1.0 - static_cast<double>(below) / static_cast<double>(count);
}

void permutationTest(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                     double observedScore, double observedT, double observedZ,
                     PermutationPValues& pValues, int threads,
                     const PermutationProgress& progress) {
    const int32_t replicates = state.nPermutations;
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    std::vector<double> scoreMaxima;
    if (state.qtlMode) {
        std::vector<uint32_t> index;
        const TraitRanks ranks(state, index);
        ReplicateRun<TraitMode> run(state, index, [&] {
            return std::make_unique<TraitReplicates>(state, clusters, ranks);
        }, progress);
        const std::vector<ReplicateMaxima> maxima = run.run(threads);
        scoreMaxima = maxima[0].values();
        pValues.t = empiricalPValue(maxima[1].values().data(), replicates, observedT);
        pValues.z = empiricalPValue(maxima[2].values().data(), replicates, observedZ);
        for (size_t h = 0; h < n; ++h) state.haplotypes[h].trait = ranks.sorted[index[h]];
    } else {
        std::vector<uint8_t> status(CaseControlMode::stride(state.nHaplotypes), 0);
        for (size_t h = 0; h < n; ++h) status[h] = state.haplotypes[h].status == 1;
        ReplicateRun<CaseControlMode> run(state, status, [&] {
            return std::make_unique<CaseControlReplicates>(state, clusters);
        }, progress);
        scoreMaxima = run.run(threads)[0].values();
        for (size_t h = 0; h < n; ++h) state.haplotypes[h].status = status[h];
    }
    pValues.score = empiricalPValue(scoreMaxima.data(), replicates, observedScore);
}

}  // namespace orvane
