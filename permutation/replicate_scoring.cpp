#include "permutation/replicate_scoring.h"

#include "scoring/bit_counting.h"
#include "scoring/case_control_scoring.h"
#include "scoring/trait_scoring.h"

namespace orvane {

CaseControlReplicates::CaseControlReplicates(const AnalysisState& state,
                                             const std::vector<WindowClusters>& clusters)
    : state_(state),
      clusters_(clusters),
      words_((static_cast<size_t>(state.nHaplotypes) + 63) / 64),
      packed_(words_) {}

// Few large clusters are counted with population counts over bit masks of their
// members, many small ones member by member.
void CaseControlReplicates::prepare(int32_t marker) {
    marker_ = marker;
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
    useMasks_ = static_cast<size_t>(window.count()) * words_ < window.members.size();
    if (!useMasks_) return;
    masks_.assign(static_cast<size_t>(window.count()) * words_, 0);
    for (int32_t c = 0; c < window.count(); ++c) {
        uint64_t* mask = &masks_[static_cast<size_t>(c) * words_];
        for (int32_t k = window.begin(c); k < window.end(c); ++k) {
            const uint32_t h = static_cast<uint32_t>(window.members[static_cast<size_t>(k)]);
            mask[h >> 6] |= uint64_t{1} << (h & 63);
        }
    }
}

double CaseControlReplicates::score(int32_t marker, const uint8_t* status) {
    if (marker != marker_) prepare(marker);
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
    if (useMasks_) packStatuses(status, words_, packed_.data());
    CaseControlBest best;
    for (int32_t c = 0; c < window.count(); ++c) {
        int64_t cases = 0;
        if (useMasks_) {
            cases = maskedCount(packed_.data(), &masks_[static_cast<size_t>(c) * words_], words_);
        } else {
            for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                cases += status[window.members[static_cast<size_t>(k)]];
            }
        }
        best.offer(chiSquareFromCounts(state_, cases, window.end(c) - window.begin(c) - cases, false));
    }
    return best.score;
}

TraitReplicates::TraitReplicates(const AnalysisState& state,
                                 const std::vector<WindowClusters>& clusters, const TraitRanks& ranks)
    : state_(state), clusters_(clusters), ranks_(ranks), scratch_(state.haplotypes.size(), 0) {}

void TraitReplicates::score(int32_t marker, const uint32_t* index, double& windowScore, double& t,
                            double& z) {
    if (marker != marker_) {
        marker_ = marker;
        carriersOf(state_, marker, carriers_);
    }
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
    const double* value = ranks_.sorted.data();
    double best = kNoClusterTraitScore;
    for (int32_t c = 0; c < window.count(); ++c) {
        // Summed in ascending member order, as the scan sums them.
        double sum = 0.0;
        double sumOfSquares = 0.0;
        for (int32_t k = window.begin(c); k < window.end(c); ++k) {
            const double x = value[index[window.members[static_cast<size_t>(k)]]];
            sum += x;
            sumOfSquares += x * x;
        }
        double mean = 0.0;
        double variance = 0.0;
        const double clusterT =
            traitTFromSums(state_, window.end(c) - window.begin(c), sum, sumOfSquares, mean, variance);
        if (clusterT > best) best = clusterT;
    }
    windowScore = best;
    const TraitTests tests = rankedTraitTests(state_, ranks_, index, carriers_, scratch_);
    t = tests.t;
    z = tests.z;
}

}  // namespace orvane
