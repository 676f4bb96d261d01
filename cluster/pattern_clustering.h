// The clustering of a window computed on its distinct haplotype patterns. It gives
// the same member sets and core flags as the haplotype-by-haplotype procedure
// (cluster ids in start order, a border haplotype kept in two member sets, a
// noise haplotype reached from inside a cluster left out of its member set),
// at a cost that grows with the number of patterns rather than of haplotypes.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/pair_codes.h"
#include "cluster/pair_rows.h"
#include "cluster/pair_screen.h"
#include "cluster/window_distances.h"
#include "cluster/window_patterns.h"
#include "model/analysis_state.h"

namespace orvane {

// The clusters of one window: cluster c (id c + 1) holds the haplotypes at
// members[offsets[c] .. offsets[c + 1]), ascending, with their core flags.
struct WindowClusters {
    std::vector<int32_t> offsets{0};
    std::vector<int32_t> members;
    std::vector<uint8_t> memberCore;
    std::vector<int32_t> nCore;

    int32_t count() const { return static_cast<int32_t>(offsets.size()) - 1; }
    int32_t begin(int32_t c) const { return offsets[static_cast<size_t>(c)]; }
    int32_t end(int32_t c) const { return offsets[static_cast<size_t>(c) + 1]; }
    void clear() {
        offsets.assign(1, 0);
        members.clear();
        memberCore.clear();
        nCore.clear();
    }
};

RadiusRule radiusRuleFor(const AnalysisState& state);

// Clusters windows one after another, reusing its buffers; one per thread.
class WindowClusterer {
public:
    // With `packed` (the state's alleles packed once for the run), windows that fit
    // a key are grouped into patterns from it; the clusters are the same.
    void cluster(const AnalysisState& state, const RadiusRule& rule, int32_t centre,
                 WindowClusters& out, const PackedAlleles* packed = nullptr);
    double epsilon() const { return epsilon_; }
    double minPts() const { return minPts_; }
    // Windows whose pattern pairs outnumber this many times their masks take the
    // mask route; tests lower it to compare the two routes on small windows.
    void setMaskRouteFrom(double pairsPerMask) { maskPairsPerMask_ = pairsPerMask; }
    static constexpr double kMaskPairsPerMask = 8.0;
    bool lastByMask() const { return byMask_; }
    bool lastByFixedPoint() const { return byFixedPoint_; }
    // Whether the last window's radius was among the candidates its row tallies
    // were kept for (the fixed-point pair route), so that no second pass over its
    // pairs was needed.
    bool lastFromTallies() const { return fromTallies_; }
    // Tests turn the vector kernels off to check the plain loops.
    void setVectorised(bool on) { vectorised_ = on; }

private:
    // Codes every pattern pair; true when the row tallies of the fixed-point route
    // also settled the radius and the neighbour counts.
    bool classifyPairs(const AnalysisState& state, const RadiusRule& rule);
    template <typename Code>
    void classifyPairs(const AnalysisState& state, const RadiusRule& rule, const Code* alleles, bool screened);
    template <typename Code>
    bool tallyPairs(const AnalysisState& state, const RadiusRule& rule, const Code* alleles, RowEdges edges);
    // The histogram from the stored codes, for a radius beyond the tallies' candidates.
    void histogramFromCodes(const RadiusRule& rule);
    // Sets the window's radius (from the pair histogram, or the fixed one) and
    // which pair codes it makes neighbours.
    void settleRadius(const RadiusRule& rule);
    void markNeighbours(const RadiusRule& rule);
    // The same histogram, neighbour flags and counts through the pair counts of
    // every difference mask (cluster/mask_transform.h); false when the window
    // does not suit it (too few patterns, a marker with more than two codes, the
    // LD-weighted measure, counts that could overflow).
    bool encodePatterns(const AnalysisState& state);
    void classifyMasks(const AnalysisState& state, const RadiusRule& rule);
    void markMaskNeighbours(const RadiusRule& rule);
    void deriveCoreThreshold(const AnalysisState& state, int32_t centre);
    void expandClusters(const AnalysisState& state, WindowClusters& out);
    // `adjacent(p, q)`: whether patterns p and q are neighbours.
    template <typename Adjacent>
    void expandClusters(const AnalysisState& state, WindowClusters& out, const Adjacent& adjacent);
    void ascending(std::vector<int32_t>& members, int32_t n);
    size_t pairSlot(int32_t p, int32_t q) const {
        const size_t k = static_cast<size_t>(patterns_.count);
        const size_t row = static_cast<size_t>(p);
        return row * k - row * (row - 1) / 2 + static_cast<size_t>(q - p);
    }

    WindowWalk walk_;
    PairScreen screen_;
    WindowPatterns patterns_;
    // Per pattern pair p <= q (diagonal included), the code of its distance
    // (cluster/pair_codes.h); decision_ says which codes the radius makes neighbours.
    std::vector<uint8_t> pairs_;
    PairDecision decision_;
    int32_t lastRadiusBin_ = 5;  // the last window's radius bin; a guess before the first
    bool fromTallies_ = false;
    bool vectorised_ = true;
    std::vector<int32_t> candidateCounts_;  // per candidate radius, per pattern
    std::vector<int32_t> patternSizes_;  // haplotypes per pattern (the pair route)
    // The mask route: per pattern its word, per mask its pair count (then the
    // neighbour counts), code, and neighbour flag.
    bool byMask_ = false;
    bool byFixedPoint_ = false;  // the pair route's estimates were in fixed point
    double maskPairsPerMask_ = kMaskPairsPerMask;
    int32_t maskBits_ = 0;
    std::vector<uint32_t> patternMask_;
    std::vector<uint32_t> spectrum_;  // transforms whose values fit 32 bits
    std::vector<uint32_t> flags_;
    std::vector<uint64_t> work64_;
    std::vector<double> maskDistance_;
    std::vector<uint8_t> maskNeighbour_;  // code per mask
    std::vector<uint64_t> neighbourBits_;
    int64_t histogram_[11] = {};
    std::vector<int32_t> neighbourCount_;  // per pattern, per haplotype carrying it
    std::vector<uint8_t> core_;            // per pattern
    std::vector<int32_t> order_;
    std::vector<int32_t> label_;           // per haplotype
    std::vector<int32_t> expandedIn_;      // per pattern: last cluster that expanded it
    std::vector<int32_t> work_;
    std::vector<int32_t> unclaimed_;
    std::vector<int32_t> current_;
    std::vector<uint64_t> memberBits_;
    double epsilon_ = 0.0;
    double minPts_ = 0.0;
};

}  // namespace orvane
