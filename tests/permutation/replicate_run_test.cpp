// The permutation test's shuffles shared among threads: every replicate must see
// exactly the labels the single chain of shuffles gives it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "model/analysis_state.h"
#include "permutation/replicate_run.h"

namespace orvane {
namespace {

// Records, per shuffle, a fingerprint of the labels it was scored on; with one
// replicate per marker, the marker is the shuffle.
struct Fingerprints {
    std::mutex mutex;
    std::vector<uint64_t> byShuffle;
    std::vector<int> calls;
};

template <typename LabelType, size_t kPadTo, bool kOnChain>
struct RecordingMode {
    using Label = LabelType;
    static constexpr int kChannels = 1;
    static constexpr bool kScoredOnChain = kOnChain;
    struct Scorer {
        int32_t n;
        size_t stride;
        Fingerprints* prints;
    };
    static size_t stride(int32_t n) { return (static_cast<size_t>(n) + kPadTo - 1) / kPadTo * kPadTo; }
    static void score(Scorer& scorer, int32_t marker, const Label* labels, double* values) {
        uint64_t print = 1469598103934665603ull;
        for (size_t i = 0; i < scorer.stride; ++i) {
            print = (print ^ static_cast<uint64_t>(labels[i])) * 1099511628211ull;
        }
        std::lock_guard<std::mutex> lock(scorer.prints->mutex);
        scorer.prints->byShuffle[static_cast<size_t>(marker)] = print;
        ++scorer.prints->calls[static_cast<size_t>(marker)];
        values[0] = static_cast<double>(print % 1000);
    }
};

struct Outcome {
    std::vector<uint64_t> prints;
    std::vector<int> calls;
    std::vector<uint64_t> finalLabels;
    uint32_t finalStream = 0;
};

template <typename Mode>
Outcome runWith(int32_t n, int32_t shuffles, int threads, BlockRoute route) {
    AnalysisState state;
    state.nHaplotypes = n;
    state.nMarkers = shuffles;
    state.nPermutations = 1;
    for (int k = 0; k < 5; ++k) state.random.next();  // as after some imputation draws
    const size_t stride = Mode::stride(n);
    std::vector<typename Mode::Label> labels(stride, 0);
    for (int32_t i = 0; i < n; ++i) {
        labels[static_cast<size_t>(i)] = static_cast<typename Mode::Label>((i * 7) % 5 == 0 ? 1 : i % 3);
    }
    Fingerprints prints;
    prints.byShuffle.assign(static_cast<size_t>(shuffles), 0);
    prints.calls.assign(static_cast<size_t>(shuffles), 0);
    const ProgressCallback none;
    ReplicateRun<Mode> run(state, labels, [&] {
        return std::make_unique<typename Mode::Scorer>(typename Mode::Scorer{n, stride, &prints});
    }, none);
    run.run(threads, route);
    Outcome out;
    out.prints = prints.byShuffle;
    out.calls = prints.calls;
    out.finalLabels.assign(labels.begin(), labels.end());
    out.finalStream = state.random.state();
    return out;
}

template <typename Mode>
void expectSameAsOneThread(int32_t n, int32_t shuffles) {
    const Outcome inOrder = runWith<Mode>(n, shuffles, 1, BlockRoute::AsScheduled);
    for (int shuffle = 0; shuffle < shuffles; ++shuffle) ASSERT_EQ(inOrder.calls[static_cast<size_t>(shuffle)], 1);
    for (const int threads : {2, 3, 8}) {
        for (const auto& [route, name] : {std::pair{BlockRoute::AsScheduled, "as scheduled"},
                                          std::pair{BlockRoute::AlwaysComposed, "every block composed"},
                                          std::pair{BlockRoute::AlwaysDrawn, "every block drawn ahead"}}) {
            const Outcome shared = runWith<Mode>(n, shuffles, threads, route);
            const std::string where =
                std::to_string(n) + " records, " + std::to_string(threads) + " threads, " + name;
            EXPECT_EQ(shared.calls, inOrder.calls) << where;
            EXPECT_EQ(shared.prints, inOrder.prints) << where;
            EXPECT_EQ(shared.finalLabels, inOrder.finalLabels) << where;
            EXPECT_EQ(shared.finalStream, inOrder.finalStream) << where;
        }
    }
}

// Byte labels padded to whole words, as the case/control statuses are kept;
// the padding must reach the scorer as zeros on either route, whether the
// chain scores its shuffles in place or keeps them for any thread.
TEST(ReplicateRun, ByteLabelsMatchTheSingleChainOnEveryRoute) {
    for (const int32_t n : {1, 2, 63, 65, 200}) {
        expectSameAsOneThread<RecordingMode<uint8_t, 64, true>>(n, 16 * 7 + 5);
        expectSameAsOneThread<RecordingMode<uint8_t, 64, false>>(n, 16 * 7 + 5);
    }
}

// Index labels, unpadded, as the trait values are kept.
TEST(ReplicateRun, IndexLabelsMatchTheSingleChainOnEveryRoute) {
    for (const int32_t n : {3, 97}) {
        expectSameAsOneThread<RecordingMode<uint32_t, 1, false>>(n, 16 * 9);
        expectSameAsOneThread<RecordingMode<uint32_t, 1, true>>(n, 16 * 9);
    }
}

// Fewer shuffles than two blocks run on one thread whatever is asked.
TEST(ReplicateRun, ShortRunsMatchToo) {
    for (const int32_t shuffles : {1, 16, 31, 32, 33}) {
        expectSameAsOneThread<RecordingMode<uint8_t, 64, true>>(40, shuffles);
    }
}

}  // namespace
}  // namespace orvane
