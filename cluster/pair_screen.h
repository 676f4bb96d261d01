// A quick estimate of the distance between two window patterns, for windows with
// many distinct patterns. The estimate adds the same weights in another order, so
// it lies within a few units in the last place of the exact distance; a pair whose
// estimate falls near a decision edge (a histogram bin edge or the radius) is
// recomputed exactly, so every decision is the one the exact walk makes.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/window_distances.h"
#include "cluster/window_patterns.h"
#include "model/analysis_state.h"

namespace orvane {

class PairScreen {
public:
    // Walk steps per table, and tables per side of the centre.
    static constexpr int32_t kSegmentSteps = 12;
    static constexpr int32_t kMaxSideSteps = 2 * kSegmentSteps;

    // Builds the bit planes and weight tables of the window; false when the window
    // must use the exact walk for every pair (weights that are not finite, more
    // than kMaxSideSteps steps on a side, more than 16 allele codes at a marker).
    bool prepare(const AnalysisState& state, const WindowWalk& walk,
                 const WindowPatterns& patterns);

    // Ten times the estimated distance of patterns p and q.
    double estimateTenths(int32_t p, int32_t q) const {
        const uint32_t* a = &bits_[static_cast<size_t>(p) * static_cast<size_t>(planes_)];
        const uint32_t* b = &bits_[static_cast<size_t>(q) * static_cast<size_t>(planes_)];
        uint32_t differ = 0;
        for (int plane = 0; plane < planes_; ++plane) differ |= a[plane] ^ b[plane];
        const uint32_t agreeCentre = centreCode_[static_cast<size_t>(p)] == centreCode_[static_cast<size_t>(q)];
        const uint32_t agree = ~differ;
        double shared = centreWeight_[agreeCentre];
        if (oneSegmentPerSide_) {
            // The common window: each side's steps in one table.
            const Segment& right = segments_[0];
            const Segment& left = segments_[1];
            shared += right.table[(static_cast<size_t>(agreeCentre) << right.steps) | (agree & right.mask)];
            shared += left.table[(static_cast<size_t>(agreeCentre) << left.steps) |
                                 ((agree >> left.shift) & left.mask)];
            return (denominator_ - shared) * tenOverDenominator_;
        }
        for (const Segment& segment : segments_) {
            const uint32_t mask = (agree >> segment.shift) & segment.mask;
            // The shared run reaches a segment only through a fully agreeing first one.
            const uint32_t runs = segment.after ? agreeCentre & ((agree >> segment.afterShift &
                                                                  segment.afterMask) == segment.afterMask)
                                                : agreeCentre;
            shared += segment.table[(static_cast<size_t>(runs) << segment.steps) | mask];
        }
        return (denominator_ - shared) * tenOverDenominator_;
    }

    // Windows of two codes a step are also estimated in fixed point: ten times
    // the distance in units of 2^-kTenthBits, from two integer lookups a pair
    // (four when a side has two segments), within a few units of the double
    // estimate.
    static constexpr int32_t kTenthBits = 24;
    static constexpr int32_t kTenUnits = 10 << kTenthBits;
    bool fixedPoint() const { return fixedPoint_; }
    // One lookup of the row pass (cluster/pair_rows.h), in the pair's agreement
    // (the complement of the two patterns' bits XORed):
    // table[runs << steps | agreement >> shift & mask], where runs is whether the
    // centres agree and the agreement >> afterShift & afterMask is all ones (a
    // side's second segment is reached only through a fully agreeing first one;
    // afterMask is 0 for a first segment).
    struct UnitLookup {
        const int32_t* table = nullptr;
        int32_t steps = 0;
        int32_t shift = 0;
        uint32_t mask = 0;
        int32_t afterShift = 0;
        uint32_t afterMask = 0;
    };
    // A pair's units are kTenUnits less its lookups: the right side's first
    // segment (with the centre's weight), the left side's, then, when some side
    // has two, both sides' second segments (a table of zeros for a side without).
    struct UnitTables {
        static constexpr int kMaxLookups = 4;
        UnitLookup lookup[kMaxLookups];
        int count = 0;  // 2 or 4
        const uint32_t* bits = nullptr;    // per pattern
        const int32_t* centres = nullptr;  // per pattern
    };
    UnitTables unitTables() const;

private:
    template <typename Code>
    bool numberCodes(const AnalysisState& state, const WindowWalk& walk, const WindowPatterns& patterns,
                     const Code* alleles);
    bool prepareFixedPoint();

    // Up to kSegmentSteps consecutive walk steps of one side, with the weights
    // every agreement mask of them earns, without and with the shared run
    // reaching the segment.
    struct Segment {
        int32_t steps = 0;
        int32_t shift = 0;
        uint32_t mask = 0;
        bool after = false;  // second segment of its side
        int32_t afterShift = 0;
        uint32_t afterMask = 0;
        const double* table = nullptr;
    };

    int planes_ = 0;
    std::vector<Segment> segments_;
    bool oneSegmentPerSide_ = false;
    double denominator_ = 1.0;
    double tenOverDenominator_ = 10.0;
    double centreWeight_[2] = {0.0, 1.0};
    std::vector<uint32_t> bits_;        // planes_ words per pattern, one bit per walk step
    std::vector<int32_t> centreCode_;   // per pattern
    std::vector<double> tables_;
    bool fixedPoint_ = false;
    std::vector<int32_t> unitTables_;   // per segment, in segments_ order; then two zeros
    std::vector<std::vector<int32_t>> distinct_;  // per walk step, its codes by number
    std::vector<uint8_t> ids_;          // per pattern, per walk step, its code's number
};

}  // namespace orvane
