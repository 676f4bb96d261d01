#include "permutation/permutation_test.h"

#include <memory>
#include <vector>

#include "permutation/replicate_run.h"
#include "permutation/replicate_scoring.h"
#include "scoring/single_marker_tests.h"

namespace orvane {

namespace {

// The scorers of the two modes behind one call: the statistics of replicate r
// of marker l, from the labels the (l x P + r + 1)-th shuffle left.
struct CaseControlMode {
    using Label = uint8_t;
    static constexpr int kChannels = 1;
    // A replicate's score is a few population counts, far less than its shuffle.
    static constexpr bool kScoredOnChain = true;
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
    // Scoring is most of a replicate's cost: the threads share it.
    static constexpr bool kScoredOnChain = false;
    using Scorer = TraitReplicates;
    static size_t stride(int32_t n) { return static_cast<size_t>(n); }
    static void score(Scorer& scorer, int32_t marker, const Label* labels, double* values) {
        scorer.score(marker, labels, values[0], values[1], values[2]);
    }
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
                     const ProgressCallback& progress) {
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
