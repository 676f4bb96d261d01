// Sets of records written as the differences from a nearby earlier set. In a
// scan of sliding windows the clusters and carrier sets of neighbouring
// markers hold mostly the same records, so a sum over every set of a
// replicate costs far fewer additions when each set's sum is its base's plus
// the records it adds less the records it drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "permutation/member_sets.h"

namespace orvane {

// What a set's sum starts from.
struct SetBase {
    enum Kind : uint8_t { kNothing, kEveryRecord, kSet, kComplementOfSet };
    Kind kind = kNothing;
    int32_t set = -1;  // the earlier set, with kSet and kComplementOfSet
};

class SetDeltas {
public:
    // `sets[k]`: set k's records, ascending and below `records`;
    // `candidates[k]`: earlier sets (ids below k) it may be written after.
    // Each set takes, among nothing, every record, and the few candidates
    // (and their complements) a sketch finds nearest, the base it differs
    // from in fewest records.
    SetDeltas(int32_t records, const std::vector<RecordSpan>& sets,
              const std::vector<std::vector<int32_t>>& candidates);

    const SetBase& base(int32_t set) const { return bases_[static_cast<size_t>(set)]; }
    // The records in the set but not in its base, and those in its base but not in the set.
    RecordSpan added(int32_t set) const { return list(2 * static_cast<size_t>(set)); }
    RecordSpan removed(int32_t set) const { return list(2 * static_cast<size_t>(set) + 1); }
    int32_t count() const { return static_cast<int32_t>(bases_.size()); }

private:
    RecordSpan list(size_t k) const { return {lists_[k].data(), lists_[k].data() + lists_[k].size()}; }

    std::vector<SetBase> bases_;
    // Per set, its added then its removed records; each list is allocated at
    // its size, as growing one large list would copy and touch it repeatedly.
    std::vector<std::vector<int32_t>> lists_;
};

}  // namespace orvane
