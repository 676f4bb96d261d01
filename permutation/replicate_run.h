// The shuffles and replicate scores of the permutation test, on one thread or
// shared among several with the same results.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "model/analysis_state.h"
#include "model/progress.h"
#include "model/worker_threads.h"
#include "permutation/label_shuffle.h"
#include "permutation/replicate_scoring.h"

namespace orvane {

// How a threaded run gets the labels of a block of shuffles the chain has not
// reached yet. Tests ask for every block to be composed, or for every block's
// offsets to be drawn ahead of the chain, so that each route is exercised
// whatever the timing.
enum class BlockRoute { AsScheduled, AlwaysComposed, AlwaysDrawn };

// The replicates of the whole test: replicate r of marker l is scored on the
// labels the (l x P + r + 1)-th shuffle leaves. `Mode` gives the label type,
// the labels kept per shuffle (`stride`), the channels (statistics per
// replicate), the scorer, and whether the chain scores its own shuffles
// (`kScoredOnChain`: when scoring costs little beside a shuffle, scoring each
// shuffle in place is cheaper than keeping its labels for another thread).
//
// Every shuffle permutes the labels the previous one left, so the shuffles form
// one chain. A shuffle's draws depend only on the random stream (whose state
// at any shuffle is a jump ahead), and the scores only on the shuffled labels.
// So with several threads the work is split into blocks of shuffles: whoever
// is free runs the chain on the next block and the others score finished
// blocks (unless the chain scores its own). A block ahead of the chain can
// also be composed: its shuffles run on the identity (where each record's
// label comes from, relative to the labels before the block), so that when
// the chain reaches it one gather moves the chain past it, and each shuffle's
// labels are a gather of the labels before the block. That spreads the chain
// itself over the threads. And since the draws take about a third of a
// shuffle, the blocks the chain will reach next have their offsets drawn by
// the other threads, so that the chain only swaps.
template <typename Mode>
class ReplicateRun {
public:
    using Label = typename Mode::Label;
    using Scorer = typename Mode::Scorer;
    using MakeScorer = std::function<std::unique_ptr<Scorer>()>;

    ReplicateRun(AnalysisState& state, std::vector<Label>& labels, MakeScorer makeScorer,
                 const ProgressCallback& progress)
        : state_(state),
          labels_(labels),
          makeScorer_(std::move(makeScorer)),
          progress_(progress),
          n_(state.nHaplotypes),
          stride_(Mode::stride(state.nHaplotypes)),
          replicates_(state.nPermutations),
          shuffles_(static_cast<int64_t>(state.nMarkers) * state.nPermutations) {}

    // `labels` holds `stride` labels (the first n are the records'); the
    // records keep the labels of the last shuffle, and the run's stream moves
    // past every draw.
    std::vector<ReplicateMaxima> run(int threads, BlockRoute route = BlockRoute::AsScheduled) {
        if (threads <= 1 || shuffles_ < 2 * kBlock) return runInline();
        route_ = route;
        return runInBlocks(threads);
    }

private:
    static constexpr int32_t kBlock = 16;  // shuffles per block

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
        double values[Mode::kChannels];
        for (int64_t k = 0; k < shuffles_; ++k) {
            shuffleLabelArray(state_.random, n_, labels_.data());
            Mode::score(*scorer, static_cast<int32_t>(k / replicates_), labels_.data(), values);
            offerAll(maxima, k, values);
            if (progress_ && k % 4096 == 0) progress_(k, shuffles_);
        }
        return maxima;
    }

    // A block's way through the run: either swapped by the chain (labels kept
    // per shuffle), its offsets perhaps drawn ahead; or composed and later
    // resolved by the chain (sources kept per shuffle); then scored, which
    // frees its slot for a later block.
    enum class SlotState { Free, Drawing, Drawn, Swapping, Composing, Composed, Ready, Scoring };
    struct Slot {
        SlotState state = SlotState::Free;
        int64_t block = -1;
        bool drawn = false;
        bool composed = false;
        std::vector<int32_t> offsets;   // drawn ahead: per shuffle, the n offsets
        std::vector<Label> snapshot;    // swapped: per shuffle, the labels (stride)
        std::vector<uint32_t> sources;  // composed: per shuffle, n record indices into `before`
        std::vector<Label> before;      // composed: the labels before the block (stride)
    };

    int32_t shufflesIn(int64_t block) const {
        return static_cast<int32_t>(std::min<int64_t>(kBlock, shuffles_ - block * kBlock));
    }

    Slot& slotOf(int64_t block) { return slots_[static_cast<size_t>(block % static_cast<int64_t>(slots_.size()))]; }

    // The stream as it stands after the draws of the first `shuffles` shuffles.
    RandomStream streamAfter(int64_t shuffles) const {
        uint32_t a = 0, c = 0;
        RandomStream::jump(static_cast<uint64_t>(shuffles) * static_cast<uint64_t>(n_), a, c);
        RandomStream stream;
        stream.resume(a * startState_ + c);
        return stream;
    }

    // Enough blocks in flight for every thread to find work ahead of the chain,
    // within about 256 MiB of labels and sources when there are many records.
    size_t slotCount(int threads) const {
        const size_t perSlot = static_cast<size_t>(kBlock) *
                               (stride_ * sizeof(Label) + static_cast<size_t>(n_) * 2 * sizeof(uint32_t));
        const size_t wanted = 8 * static_cast<size_t>(threads);
        const size_t least = 2 * static_cast<size_t>(threads);
        return std::max(least, std::min(wanted, (size_t{256} << 20) / perSlot));
    }

    std::vector<ReplicateMaxima> runInBlocks(int threads) {
        blocks_ = (shuffles_ + kBlock - 1) / kBlock;
        slots_.resize(slotCount(threads));
        startState_ = state_.random.state();

        std::vector<std::vector<ReplicateMaxima>> partial(static_cast<size_t>(threads), emptyMaxima());
        // Every thread can do every task; the calling thread is the first.
        std::vector<std::thread> helpers = startWorkers(
            threads - 1, [this, &partial](int t) { work(partial[static_cast<size_t>(t) + 1]); });
        work(partial[0]);
        for (std::thread& helper : helpers) helper.join();
        if (failure_) std::rethrow_exception(failure_);

        state_.random = streamAfter(shuffles_);
        std::vector<ReplicateMaxima> maxima = emptyMaxima();
        for (const auto& part : partial) {
            for (size_t ch = 0; ch < maxima.size(); ++ch) maxima[ch].merge(part[ch]);
        }
        return maxima;
    }

    enum class Task { None, Draw, Swap, Resolve, Compose, Score };

    // Blocks right after the chain's whose offsets are drawn ahead.
    static constexpr int64_t kDrawAhead = 2;

    // Picks the next task under the lock: the chain first, then drawing the
    // offsets of the blocks it reaches next, then scoring, then composing the
    // furthest block ahead of the chain that has a free slot.
    Task pick(int64_t& block) {
        if (!chainBusy_ && nextChain_ < blocks_) {
            Slot& slot = slotOf(nextChain_);
            const bool mine = slot.block == nextChain_;
            const bool swap = (slot.state == SlotState::Free && route_ == BlockRoute::AsScheduled) ||
                              (mine && slot.state == SlotState::Drawn);
            if (swap || (mine && slot.state == SlotState::Composed)) {
                if (slot.state == SlotState::Free) {
                    claim(slot, nextChain_, SlotState::Swapping);
                    slot.drawn = false;
                } else if (swap) {
                    slot.state = SlotState::Swapping;
                }
                chainBusy_ = true;
                block = nextChain_++;
                return swap ? Task::Swap : Task::Resolve;
            }
        }
        if (route_ != BlockRoute::AlwaysComposed) {
            const int64_t last = std::min(blocks_, nextChain_ + kDrawAhead);
            for (int64_t b = nextChain_; b < last; ++b) {
                Slot& slot = slotOf(b);
                if (slot.state == SlotState::Free) {
                    block = b;
                    claim(slot, b, SlotState::Drawing);
                    return Task::Draw;
                }
            }
        }
        if (!ready_.empty()) {
            block = ready_.back();
            ready_.pop_back();
            slotOf(block).state = SlotState::Scoring;
            return Task::Score;
        }
        // Every slot busy: nothing to compose (saves the search with many threads).
        if (slotsInUse_ == slots_.size()) return Task::None;
        // The next blocks are left to the chain, which takes them as soon as it
        // can; a thread that would run the chain but for a block still being
        // drawn waits for it rather than start a long composition.
        if (route_ == BlockRoute::AlwaysDrawn || (route_ == BlockRoute::AsScheduled && !chainBusy_)) {
            return Task::None;
        }
        const int64_t nearest = route_ == BlockRoute::AsScheduled ? nextChain_ + kDrawAhead : nextChain_;
        const int64_t furthest = std::min<int64_t>(blocks_, nextChain_ + static_cast<int64_t>(slots_.size())) - 1;
        for (int64_t b = furthest; b >= nearest; --b) {
            Slot& slot = slotOf(b);
            if (slot.state == SlotState::Free) {
                block = b;
                claim(slot, b, SlotState::Composing);
                return Task::Compose;
            }
        }
        return Task::None;
    }

    // The offsets of a block the chain will swap, drawn ahead.
    void draw(Slot& slot, int64_t block, int32_t count) {
        slot.offsets.resize(static_cast<size_t>(kBlock) * static_cast<size_t>(n_));
        RandomStream stream = streamAfter(block * kBlock);
        for (int32_t j = 0; j < count; ++j) {
            drawShuffleOffsets(stream, n_, slot.offsets.data() + static_cast<size_t>(j) * static_cast<size_t>(n_));
        }
        slot.drawn = true;
    }

    // The chain, directly: each shuffle applied to the labels, which are kept
    // for scoring or scored in place.
    void swap(Slot& slot, int64_t block, int32_t count, Scorer& scorer, std::vector<ReplicateMaxima>& maxima) {
        slot.composed = false;
        if (!Mode::kScoredOnChain) slot.snapshot.resize(static_cast<size_t>(kBlock) * stride_);
        RandomStream stream = streamAfter(block * kBlock);
        double values[Mode::kChannels];
        for (int32_t j = 0; j < count; ++j) {
            if (slot.drawn) {
                applyShuffleOffsets(n_, slot.offsets.data() + static_cast<size_t>(j) * static_cast<size_t>(n_),
                                    labels_.data());
            } else {
                shuffleLabelArray(stream, n_, labels_.data());
            }
            if (Mode::kScoredOnChain) {
                const int64_t k = block * kBlock + j;
                Mode::score(scorer, static_cast<int32_t>(k / replicates_), labels_.data(), values);
                offerAll(maxima, k, values);
            } else {
                std::copy(labels_.begin(), labels_.begin() + static_cast<ptrdiff_t>(stride_),
                          slot.snapshot.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(j) * stride_));
            }
        }
    }

    // The block's shuffles run on the identity: after shuffle j, record i holds
    // the label that record sources_j[i] held before the block.
    void compose(Slot& slot, int64_t block, int32_t count) {
        slot.composed = true;
        slot.sources.resize(static_cast<size_t>(kBlock) * static_cast<size_t>(n_));
        RandomStream stream = streamAfter(block * kBlock);
        uint32_t* row = slot.sources.data();
        std::iota(row, row + n_, 0u);
        for (int32_t j = 0; j < count; ++j, row += n_) {
            if (j > 0) std::copy(row - n_, row, row);
            shuffleLabelArray(stream, n_, row);
        }
    }

    // The chain reaches a composed block: keep the labels before it, and move
    // the labels to where its last shuffle leaves them.
    void resolve(Slot& slot, int32_t count) {
        slot.before.assign(labels_.begin(), labels_.begin() + static_cast<ptrdiff_t>(stride_));
        gather(slot, count - 1, labels_.data());
    }

    void gather(const Slot& slot, int32_t j, Label* out) const {
        const uint32_t* source = slot.sources.data() + static_cast<size_t>(j) * static_cast<size_t>(n_);
        const Label* before = slot.before.data();
        for (int32_t i = 0; i < n_; ++i) out[i] = before[source[i]];
    }

    void score(const Slot& slot, int64_t block, int32_t count, Scorer& scorer, std::vector<Label>& gathered,
               std::vector<ReplicateMaxima>& maxima) const {
        double values[Mode::kChannels];
        for (int32_t j = 0; j < count; ++j) {
            // A composed block holds no snapshots (its vector may be empty).
            const Label* shuffled = gathered.data();
            if (slot.composed)
                gather(slot, j, gathered.data());
            else
                shuffled = slot.snapshot.data() + static_cast<size_t>(j) * stride_;
            const int64_t k = block * kBlock + j;
            Mode::score(scorer, static_cast<int32_t>(k / replicates_), shuffled, values);
            offerAll(maxima, k, values);
        }
    }

    void work(std::vector<ReplicateMaxima>& maxima) {
        std::unique_ptr<Scorer> madeScorer;
        auto scorer = [&]() -> Scorer& {
            if (!madeScorer) madeScorer = makeScorer_();
            return *madeScorer;
        };
        // Gathered labels, padded as the snapshots are (the padding stays zero).
        std::vector<Label> gathered(stride_, Label{});
        for (;;) {
            int64_t block = -1;
            Task task = Task::None;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    if (failure_ || scored_ == blocks_) return true;
                    task = pick(block);
                    return task != Task::None;
                });
                if (task == Task::None) return;
            }
            try {
                Slot& slot = slotOf(block);
                const int32_t count = shufflesIn(block);
                switch (task) {
                    case Task::Draw: draw(slot, block, count); break;
                    case Task::Swap: swap(slot, block, count, scorer(), maxima); break;
                    case Task::Compose: compose(slot, block, count); break;
                    case Task::Resolve: resolve(slot, count); break;
                    case Task::Score: score(slot, block, count, scorer(), gathered, maxima); break;
                    case Task::None: break;
                }
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            finish(task, block);
            changed_.notify_all();
        }
    }

    void finish(Task task, int64_t block) {
        Slot& slot = slotOf(block);
        switch (task) {
            case Task::Draw: slot.state = SlotState::Drawn; break;
            case Task::Compose: slot.state = SlotState::Composed; break;
            case Task::Swap:
            case Task::Resolve:
                if (progress_ && block % 256 == 0) progress_(block * kBlock, shuffles_);
                chainBusy_ = false;
                if (task == Task::Swap && Mode::kScoredOnChain) {
                    release(slot);
                } else {
                    slot.state = SlotState::Ready;
                    ready_.push_back(block);
                }
                break;
            case Task::Score: release(slot); break;
            case Task::None: break;
        }
    }

    // A free slot taken for `block`, and given back once the block is scored.
    void claim(Slot& slot, int64_t block, SlotState state) {
        ++slotsInUse_;
        slot.state = state;
        slot.block = block;
    }
    void release(Slot& slot) {
        slot.state = SlotState::Free;
        --slotsInUse_;
        ++scored_;
    }

    AnalysisState& state_;
    std::vector<Label>& labels_;
    MakeScorer makeScorer_;
    const ProgressCallback& progress_;
    int32_t n_;
    size_t stride_;  // labels kept per shuffle
    int32_t replicates_;
    int64_t shuffles_;
    BlockRoute route_ = BlockRoute::AsScheduled;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::vector<int64_t> ready_;
    size_t slotsInUse_ = 0;
    int64_t blocks_ = 0;
    int64_t nextChain_ = 0;
    bool chainBusy_ = false;
    int64_t scored_ = 0;
    uint32_t startState_ = 0;
    std::exception_ptr failure_;
};

}  // namespace orvane
