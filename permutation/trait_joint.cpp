#include "permutation/trait_joint.h"

#include <algorithm>

#include "scoring/trait_scoring.h"

namespace orvane {
namespace joint {

namespace {

// Records whose rows are filled at once: the rows stay in the first-level cache
// while every list adds its members among them.
constexpr int32_t kStretchRecords = 512;

// A set may be written after the sets of this many markers before the one it
// is first found at (and the earlier sets of that marker).
constexpr int32_t kBaseMarkers = 8;

}  // namespace

struct TraitJoint::Work {
    std::vector<LaneRow<float>> floatRows;
    std::vector<LaneRow<double>> doubleRows;
    std::vector<LaneSums> listSums;       // per list
    std::vector<const int32_t*> cursor;   // per list: its next member
    std::vector<LaneSums> setSums;        // per set
    std::vector<TInterval> intervals;     // per set, for one lane
    TiedCarrierPairs::Scratch tiedScratch;
    std::vector<int64_t> pairs;  // per lane and carrier set: carrier pairs of equal value
};

TraitJoint::TraitJoint(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
                       const std::vector<std::vector<int32_t>>& carriers, const TraitRanks& ranks, int threads)
    : state_(state), ranks_(ranks),
      scored_(state, clusters, carriers, threads,
              [this](const int32_t* members, size_t size, uint64_t hash) { return distinct_.add(members, size, hash); }),
      spans_(distinct_.spans()), bounds_(ranks.sorted), n_(static_cast<size_t>(state.nHaplotypes)), index_(static_cast<size_t>(kBlock) * n_, 0),
      filling_(index_) {
    const size_t sets = spans_.size();
    std::vector<uint8_t> isCluster(sets, 0);
    for (const int32_t set : scored_.clusterSet) isCluster[static_cast<size_t>(set)] = 1;
    carrierSlot_.assign(sets, -1);
    for (const int32_t set : scored_.carrierSet) carrierSlot_[static_cast<size_t>(set)] = 0;
    for (size_t k = 0; k < sets; ++k) {
        if (isCluster[k]) clusterSets_.push_back(static_cast<int32_t>(k));
        if (carrierSlot_[k] >= 0) {
            carrierSlot_[k] = static_cast<int32_t>(carrierSets_.size());
            carrierSets_.push_back(static_cast<int32_t>(k));
        }
    }
    chooseBases();

    totals_.records = state.nHaplotypes;
    totals_.total = static_cast<double>(state.nHaplotypes) * state.traitMean;
    totals_.sumOfSquares = state.traitSumOfSquares;
    for (size_t v = 0; v < ranks.sorted.size(); ++v) {
        valueTotal_ += ranks.sorted[v];
        aboveTotal_ += ranks.greater[v];
    }
    boundErrors();

    if (ranks.ties) {
        std::vector<std::pair<const int32_t*, const int32_t*>> carrierLists;
        for (const int32_t set : carrierSets_) {
            carrierLists.emplace_back(spans_[static_cast<size_t>(set)].begin, spans_[static_cast<size_t>(set)].end);
        }
        tied_ = std::make_unique<TiedCarrierPairs>(ranks, state.nHaplotypes, carrierLists);
    }
    for (const double value : ranks.sorted) floatRows_ = floatRows_ && static_cast<double>(static_cast<float>(value)) == value;
    for (size_t v = 0; v < ranks.sorted.size(); ++v) {
        const int32_t greater = static_cast<int32_t>(ranks.greater[v]);
        if (floatRows_) {
            floatEntries_.push_back({static_cast<float>(ranks.sorted[v]), greater});
        } else {
            doubleEntries_.push_back({ranks.sorted[v], greater});
        }
    }

    constant_ = !ranks.sorted.empty() && ranks.sorted.front() == ranks.sorted.back();
    if (constant_) {
        // Every index names the same value.
        const std::vector<uint32_t> anyIndex(n_, 0);
        constantClusterT_ = kNoClusterTraitScore;
        for (const int32_t set : clusterSets_) constantClusterT_ = std::max(constantClusterT_, exactT(set, anyIndex.data(), false));
        constantCarrierT_ = kNone;
        for (const int32_t set : carrierSets_) constantCarrierT_ = std::max(constantCarrierT_, exactT(set, anyIndex.data(), true));
    }
}

TraitJoint::~TraitJoint() = default;

// Each set's base among the sets of the markers just before the one it is
// first found at, and the lists the replicates sum.
void TraitJoint::chooseBases() {
    const size_t sets = spans_.size();
    std::vector<std::vector<int32_t>> setsAt(static_cast<size_t>(state_.nMarkers));
    std::vector<int32_t> firstMarker(sets, -1);
    for (int32_t m = 0; m < state_.nMarkers; ++m) {
        std::vector<int32_t>& here = setsAt[static_cast<size_t>(m)];
        for (int32_t k = scored_.clusterFirst[static_cast<size_t>(m)]; k < scored_.clusterFirst[static_cast<size_t>(m) + 1]; ++k) {
            here.push_back(scored_.clusterSet[static_cast<size_t>(k)]);
        }
        here.push_back(scored_.carrierSet[static_cast<size_t>(m)]);
        std::sort(here.begin(), here.end());
        here.erase(std::unique(here.begin(), here.end()), here.end());
        for (const int32_t set : here) {
            if (firstMarker[static_cast<size_t>(set)] < 0) firstMarker[static_cast<size_t>(set)] = m;
        }
    }
    std::vector<std::vector<int32_t>> candidates(sets);
    for (size_t k = 0; k < sets; ++k) {
        const int32_t m = firstMarker[k];
        for (int32_t back = std::max(0, m - kBaseMarkers); back <= m; ++back) {
            for (const int32_t set : setsAt[static_cast<size_t>(back)]) {
                if (set < static_cast<int32_t>(k)) candidates[k].push_back(set);
            }
        }
        std::sort(candidates[k].begin(), candidates[k].end());
        candidates[k].erase(std::unique(candidates[k].begin(), candidates[k].end()), candidates[k].end());
    }
    deltas_ = std::make_unique<SetDeltas>(state_.nHaplotypes, spans_, candidates);

    needAbove_.assign(sets, 0);
    for (size_t k = 0; k < sets; ++k) needAbove_[k] = carrierSlot_[k] >= 0;
    for (size_t k = sets; k-- > 0;) {
        const SetBase& base = deltas_->base(static_cast<int32_t>(k));
        if (needAbove_[k] && (base.kind == SetBase::kSet || base.kind == SetBase::kComplementOfSet)) {
            needAbove_[static_cast<size_t>(base.set)] = 1;
        }
    }
    listOf_.assign(2 * sets, -1);
    for (size_t k = 0; k < sets; ++k) {
        const RecordSpan parts[2] = {deltas_->added(static_cast<int32_t>(k)), deltas_->removed(static_cast<int32_t>(k))};
        for (int part = 0; part < 2; ++part) {
            if (parts[part].size() == 0) continue;
            listOf_[2 * k + static_cast<size_t>(part)] = static_cast<int32_t>(lists_.size());
            lists_.push_back({parts[part], needAbove_[k] != 0});
        }
    }
}

// Per set, how far its fast sum (its base's, plus its added list's, less its
// removed list's) can be from the exact sum, and then from the scan's.
void TraitJoint::boundErrors() {
    const size_t sets = spans_.size();
    const double rounding = bounds_.rounding();
    const double totalError = bounds_.sequential(totals_.records);
    std::vector<double> fastError(sets, 0.0);
    sumError_.assign(sets, 0.0);
    for (size_t k = 0; k < sets; ++k) {
        const SetBase& base = deltas_->base(static_cast<int32_t>(k));
        double error = 0.0;
        switch (base.kind) {
            case SetBase::kNothing: break;
            case SetBase::kEveryRecord: error = totalError; break;
            case SetBase::kSet: error = fastError[static_cast<size_t>(base.set)]; break;
            case SetBase::kComplementOfSet: error = totalError + fastError[static_cast<size_t>(base.set)] + rounding; break;
        }
        const int32_t set = static_cast<int32_t>(k);
        error += bounds_.sequential(deltas_->added(set).size()) + bounds_.sequential(deltas_->removed(set).size()) +
                 2.0 * rounding;
        fastError[k] = error;
        sumError_[k] = error + bounds_.sequential(spans_[k].size());
    }
}

void TraitJoint::score(int32_t first, int32_t count, int threads, std::vector<RegionalMaxima>& maxima) {
    if (work_.size() < static_cast<size_t>(threads)) work_.resize(static_cast<size_t>(threads));
    const int32_t groups = (count + kLanes - 1) / kLanes;
    forEachItem(groups, threads, [&](int32_t group, int t) {
        scoreLanes(group * kLanes, std::min(kLanes, count - group * kLanes), first, work_[static_cast<size_t>(t)],
                   maxima[static_cast<size_t>(t)]);
    });
}

// Replicates b .. b + lanes - 1 of the block (unused lanes repeat the first).
void TraitJoint::scoreLanes(int32_t b, int lanes, int32_t first, Work& work, RegionalMaxima& maxima) const {
    const uint32_t* index[kLanes];
    for (int l = 0; l < kLanes; ++l) index[l] = &index_[static_cast<size_t>(b + (l < lanes ? l : 0)) * n_];
    if (floatRows_) {
        sumLists(index, work, work.floatRows, floatEntries_);
    } else {
        sumLists(index, work, work.doubleRows, doubleEntries_);
    }
    combineSets(work);

    const size_t carrierCount = carrierSets_.size();
    work.pairs.resize(static_cast<size_t>(kLanes) * carrierCount);
    for (int l = 0; l < lanes; ++l) {
        int64_t* pairs = &work.pairs[static_cast<size_t>(l) * carrierCount];
        if (tied_) {
            tied_->count(index[l], work.tiedScratch, pairs);
        } else {
            // Without ties a carrier pairs only with itself.
            for (size_t c = 0; c < carrierCount; ++c) pairs[c] = spans_[static_cast<size_t>(carrierSets_[c])].size();
        }
    }
    work.intervals.resize(spans_.size());
    for (int l = 0; l < lanes; ++l) {
        const int32_t replicate = first + b + l;
        maxima.offer(kTraitCluster, replicate,
                     constant_ ? constantClusterT_ : largestT(clusterSets_, kNoClusterTraitScore, l, index[l], work, false));
        maxima.offer(kTraitT, replicate, constant_ ? constantCarrierT_ : largestT(carrierSets_, kNone, l, index[l], work, true));
        // Every marker's carriers are one of these sets, and a set's z is the same at each of its markers.
        for (size_t c = 0; c < carrierCount; ++c) {
            const int32_t set = carrierSets_[c];
            const int64_t n1 = spans_[static_cast<size_t>(set)].size();
            maxima.offer(kTraitZ, replicate,
                         rankTestZ(state_.nHaplotypes, n1, work.setSums[static_cast<size_t>(set)].above[l],
                                   work.pairs[static_cast<size_t>(l) * carrierCount + c]));
        }
    }
}

// Every list's sums for the lanes' replicates, a stretch of records at a time.
template <typename Value>
void TraitJoint::sumLists(const uint32_t* const* index, Work& work, std::vector<LaneRow<Value>>& rows,
                          const std::vector<Entry<Value>>& entries) const {
    static const RowAdders<Value> adders;
    rows.resize(static_cast<size_t>(kStretchRecords));
    work.listSums.assign(lists_.size(), LaneSums{});
    work.cursor.resize(lists_.size());
    for (size_t i = 0; i < lists_.size(); ++i) work.cursor[i] = lists_[i].records.begin;
    const int32_t n = state_.nHaplotypes;
    for (int32_t from = 0; from < n; from += kStretchRecords) {
        const int32_t to = std::min(n, from + kStretchRecords);
        for (int32_t h = from; h < to; ++h) {
            LaneRow<Value>& row = rows[static_cast<size_t>(h - from)];
            for (int l = 0; l < kLanes; ++l) {
                const Entry<Value>& entry = entries[index[l][h]];
                row.value[l] = entry.value;
                row.greater[l] = entry.greater;
            }
        }
        for (size_t i = 0; i < lists_.size(); ++i) {
            const int32_t* at = work.cursor[i];
            const int32_t* end = lists_[i].records.end;
            if (at == end || *at >= to) continue;
            work.cursor[i] = (lists_[i].above ? adders.valuesAndAbove : adders.values)(rows.data(), from, at, end, to,
                                                                                        work.listSums[i]);
        }
    }
}

// Each set's sums from its base's and its lists', in set order (a base comes first).
void TraitJoint::combineSets(Work& work) const {
    const size_t sets = spans_.size();
    work.setSums.resize(sets);
    const LaneSums none{};
    for (size_t k = 0; k < sets; ++k) {
        const SetBase& base = deltas_->base(static_cast<int32_t>(k));
        const int32_t addedList = listOf_[2 * k];
        const int32_t removedList = listOf_[2 * k + 1];
        const LaneSums& added = addedList >= 0 ? work.listSums[static_cast<size_t>(addedList)] : none;
        const LaneSums& removed = removedList >= 0 ? work.listSums[static_cast<size_t>(removedList)] : none;
        const LaneSums* of = base.set >= 0 ? &work.setSums[static_cast<size_t>(base.set)] : &none;
        LaneSums& out = work.setSums[k];
        for (int l = 0; l < kLanes; ++l) {
            double sum = 0.0;
            int64_t above = 0;
            switch (base.kind) {
                case SetBase::kNothing: break;
                case SetBase::kEveryRecord: sum = valueTotal_; above = aboveTotal_; break;
                case SetBase::kSet: sum = of->sum[l]; above = of->above[l]; break;
                case SetBase::kComplementOfSet: sum = valueTotal_ - of->sum[l]; above = aboveTotal_ - of->above[l]; break;
            }
            out.sum[l] = sum + added.sum[l] - removed.sum[l];
            out.above[l] = above + added.above[l] - removed.above[l];
        }
    }
}

// The largest t that is a number among the sets (at least `floor`), as the
// scan computes it, for one lane.
double TraitJoint::largestT(const std::vector<int32_t>& sets, double floor, int lane, const uint32_t* index,
                            Work& work, bool carriers) const {
    double lower = floor;
    for (const int32_t set : sets) {
        const size_t k = static_cast<size_t>(set);
        TInterval& interval = work.intervals[k];
        interval = traitTInterval(totals_, spans_[k].size(), work.setSums[k].sum[lane], sumError_[k]);
        if (!interval.never) lower = std::max(lower, interval.lo);
    }
    double best = floor;
    for (const int32_t set : sets) {
        const TInterval& interval = work.intervals[static_cast<size_t>(set)];
        if (interval.never || interval.hi < lower) continue;
        const double t = exactT(set, index, carriers);
        if (t > best) best = t;  // false for a value that is not a number
    }
    return best;
}

// A set's t summed member by member in ascending order, by the scan's formula.
double TraitJoint::exactT(int32_t set, const uint32_t* index, bool carriers) const {
    const RecordSpan& members = spans_[static_cast<size_t>(set)];
    const double* sorted = ranks_.sorted.data();
    double sum = 0.0;
    double sumOfSquares = 0.0;
    for (const int32_t* h = members.begin; h != members.end; ++h) {
        const double x = sorted[index[*h]];
        sum += x;
        sumOfSquares += x * x;
    }
    if (carriers) {
        TraitTests tests;
        traitMoments(state_, members.size(), sum, sumOfSquares, tests);
        return tests.t;
    }
    double mean = 0.0;
    double variance = 0.0;
    return traitTFromSums(state_, members.size(), sum, sumOfSquares, mean, variance);
}

}  // namespace joint
}  // namespace orvane
