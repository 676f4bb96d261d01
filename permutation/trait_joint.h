// Trait mode of the joint permutation test, kLanes replicates at once
// (scoring/lane_sums.h).
//
// Every cluster and carrier set is written as the differences from a nearby
// earlier set (permutation/set_deltas.h), so each replicate's set sums cost a
// fraction of their members. Those sums, added in another order than the
// scan's, only bound each set's t (permutation/trait_t_bounds.h); the few sets
// whose bound reaches a replicate's largest lower bound are summed again
// member by member as the scan sums them, so the maxima are the scan's values
// to the bit. The rank test's counts are integers, exact in any order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "permutation/joint_scoring.h"
#include "permutation/set_deltas.h"
#include "permutation/tied_carrier_pairs.h"
#include "permutation/trait_t_bounds.h"
#include "scoring/lane_sums.h"
#include "scoring/single_marker_tests.h"

namespace orvane {
namespace joint {

class TraitJoint {
public:
    static constexpr int kStatistics = kTraitStatistics;

    // `carriers`: every marker's allele-1 records, ascending; kept by the
    // caller, like the clusters, for the scorer's life.
    TraitJoint(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
               const std::vector<std::vector<int32_t>>& carriers, const TraitRanks& ranks, int threads);
    ~TraitJoint();

    // Replicate b's labels: per record, the index of its value in ranks.sorted.
    uint32_t* labels(int32_t b) { return &filling_[static_cast<size_t>(b) * n_]; }
    void swapBuffers() { std::swap(filling_, index_); }
    void score(int32_t first, int32_t count, int threads, std::vector<RegionalMaxima>& maxima);

private:
    struct Work;
    // A value and its count of greater values, read together when a row is filled.
    template <typename Value>
    struct Entry {
        Value value;
        int32_t greater;
    };
    struct List {
        RecordSpan records;
        bool above;  // its counts of greater values are summed too
    };

    void chooseBases();
    void boundErrors();
    void scoreLanes(int32_t b, int lanes, int32_t first, Work& work, RegionalMaxima& maxima) const;
    template <typename Value>
    void sumLists(const uint32_t* const* index, Work& work, std::vector<LaneRow<Value>>& rows,
                  const std::vector<Entry<Value>>& entries) const;
    void combineSets(Work& work) const;
    double largestT(const std::vector<int32_t>& sets, double floor, int lane, const uint32_t* index, Work& work,
                    bool carriers) const;
    double exactT(int32_t set, const uint32_t* index, bool carriers) const;

    const AnalysisState& state_;
    const TraitRanks& ranks_;
    // The distinct member lists, where the caller keeps them.
    DistinctSpans distinct_;
    ScoredSets scored_;
    const std::vector<RecordSpan>& spans_;

    std::vector<int32_t> clusterSets_;  // distinct sets that are some marker's cluster
    std::vector<int32_t> carrierSets_;  // distinct sets that are some marker's carriers
    std::vector<int32_t> carrierSlot_;  // per set: its number among the carrier sets, or -1
    std::unique_ptr<SetDeltas> deltas_;
    std::vector<uint8_t> needAbove_;   // per set: its counts are needed (a carrier set, or a base of one)
    std::vector<List> lists_;          // the non-empty added and removed lists
    std::vector<int32_t> listOf_;      // per set, 2 x set (added) and 2 x set + 1 (removed): its list, or -1
    std::vector<double> sumError_;     // per set: how far its fast sum can be from the scan's

    TraitTotals totals_;
    SumErrorBounds bounds_;
    double valueTotal_ = 0.0;  // every value, added in order
    int64_t aboveTotal_ = 0;   // every count of greater values
    std::unique_ptr<TiedCarrierPairs> tied_;  // with tied values only
    bool floatRows_ = true;                   // every value is a float: rows hold floats
    std::vector<Entry<float>> floatEntries_;
    std::vector<Entry<double>> doubleEntries_;
    // A trait that never varies is the same under every shuffle: its largest
    // t of clusters and of carriers, once.
    bool constant_ = false;
    double constantClusterT_ = 0.0;
    double constantCarrierT_ = 0.0;

    size_t n_;
    std::vector<uint32_t> index_;    // per replicate of the block scored, n indices
    std::vector<uint32_t> filling_;  // the same for the block the chain fills
    std::vector<Work> work_;         // per thread
};

}  // namespace joint
}  // namespace orvane
