#include "cluster/pattern_clustering.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "cluster/density_parameters.h"
#include "cluster/mask_transform.h"
#include "cluster/pair_rows.h"
#include "model/input_error.h"

namespace orvane {

namespace {

// Below this many patterns every pair is walked exactly.
constexpr int32_t kScreenFrom = 48;

// The code of a distance estimate, or kNeedsExact when the estimate lies so close
// to a decision edge (a multiple of 0.1 for a derived radius, the radius itself
// when fixed) that only the exact distance can tell on which side it falls.
// Estimates are far closer to the exact distance than these margins.
uint8_t estimateCode(double tenths, const RadiusRule& rule) {
    if (!rule.derived) {
        const double estimate = 0.1 * tenths;
        if (std::fabs(estimate - rule.fixed) < 1e-9) return kNeedsExact;
        return estimate < rule.fixed ? kBelowLowerEdge : 0;
    }
    if (!(tenths > 1e-8 && tenths < 10.0 - 1e-8)) return kNeedsExact;
    const int bin = static_cast<int>(tenths);
    const double fraction = tenths - bin;
    if (fraction < 1e-8 || fraction > 1.0 - 1e-8) return kNeedsExact;
    // Well inside its bin: above the lower edge, below the upper one.
    return static_cast<uint8_t>(bin) | kBelowUpperEdge;
}

// The mask route's limit: masks of at most kMaxMaskBits bits (32 MB of counts).
constexpr int32_t kMaxMaskBits = 22;
// A mask that no pair of the window has.
constexpr uint8_t kAbsentMask = 0x80;

}  // namespace

RadiusRule radiusRuleFor(const AnalysisState& state) {
    RadiusRule rule;
    rule.fixed = state.epsilon;
    if (state.epsilonFraction == 0.0) return rule;
    const int64_t n = state.nHaplotypes;
    const int64_t pairs = n * (n - 1) / 2;
    rule.target = epsilonTarget(pairs, state.epsilonFraction);
    // Every window has the same number of pairs: either each reaches the target
    // in some bin, or none does and the standing radius stays.
    rule.derived = rule.target <= pairs;
    return rule;
}

bool WindowClusterer::encodePatterns(const AnalysisState& state) {
    const int32_t k = patterns_.count;
    const int32_t steps = walk_.nRight + walk_.nLeft;
    const int32_t bits = steps + 1;
    if (walk_.ldMeasure || bits > kMaxMaskBits) return false;
    const double masks = std::ldexp(1.0, bits);
    if (0.5 * static_cast<double>(k) * static_cast<double>(k) < maskPairsPerMask_ * masks) return false;
    // The pair counts times 2^bits must stay below 2^64.
    const double n = state.nHaplotypes;
    if (n * n * masks >= std::ldexp(1.0, 63)) return false;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    const AlleleMatrix& alleles = state.alleles;
    patternMask_.assign(static_cast<size_t>(k), 0);
    for (int32_t bit = 0; bit < bits; ++bit) {
        const int32_t marker = bit == 0 ? walk_.centre : walk_.marker[static_cast<size_t>(bit - 1)];
        const int32_t first = alleles[static_cast<size_t>(patterns_.representative(0)) * rowLength +
                                      static_cast<size_t>(marker)];
        int32_t other = first;
        for (int32_t p = 0; p < k; ++p) {
            const int32_t code = alleles[static_cast<size_t>(patterns_.representative(p)) * rowLength +
                                         static_cast<size_t>(marker)];
            if (code == first) continue;
            if (other == first) other = code;
            if (code != other) return false;
            patternMask_[static_cast<size_t>(p)] |= uint32_t{1} << bit;
        }
    }
    maskBits_ = bits;
    return true;
}

void WindowClusterer::classifyMasks(const AnalysisState& state, const RadiusRule& rule) {
    const int32_t k = patterns_.count;
    const int32_t bits = maskBits_;
    const size_t size = size_t{1} << bits;
    // Haplotypes per pattern word, and its transform, whose values lie within
    // -n .. n: 32 bits hold them.
    spectrum_.assign(size, 0);
    for (int32_t p = 0; p < k; ++p) {
        spectrum_[patternMask_[static_cast<size_t>(p)]] += static_cast<uint32_t>(patterns_.size(p));
    }
    walshHadamard(spectrum_.data(), bits);
    // Ordered haplotype pairs per difference mask: the inverse transform of the square.
    work64_.resize(size);
    for (size_t u = 0; u < size; ++u) {
        const int64_t value = static_cast<int32_t>(spectrum_[u]);
        work64_[u] = static_cast<uint64_t>(value * value);
    }
    walshHadamard(work64_.data(), bits);
    maskDistances(walk_, maskDistance_);
    maskNeighbour_.resize(size);
    std::fill(std::begin(histogram_), std::end(histogram_), 0);
    const int64_t n = state.nHaplotypes;
    for (size_t d = 0; d < size; ++d) {
        const int64_t ordered = static_cast<int64_t>(work64_[d] >> bits);
        if (ordered == 0) {
            maskNeighbour_[d] = kAbsentMask;
            continue;
        }
        const uint8_t code = pairCode(maskDistance_[d], rule);
        maskNeighbour_[d] = code;
        // Pairs of two haplotypes, each counted once; mask 0 also pairs a haplotype with itself.
        histogram_[code & kBinMask] += d == 0 ? (ordered - n) / 2 : ordered / 2;
    }
    if (!rule.derived) std::fill(std::begin(histogram_), std::end(histogram_), 0);
}

void WindowClusterer::settleRadius(const RadiusRule& rule) {
    int bin = 0;
    if (rule.derived) {
        bin = radiusBin(histogram_, rule.target);
        epsilon_ = bin * 0.1;
        lastRadiusBin_ = bin;
    } else {
        epsilon_ = rule.fixed;
    }
    decision_.settle(rule.derived, bin);
}

void WindowClusterer::markMaskNeighbours(const RadiusRule& rule) {
    settleRadius(rule);
    PairDecision decision = decision_;
    decision.neighbour[kAbsentMask] = false;  // no pair of haplotypes differs by this mask
    const int32_t bits = maskBits_;
    const size_t size = size_t{1} << bits;
    // One bit per mask, so that the cluster searches look it up in cache.
    neighbourBits_.assign((size + 63) / 64, 0);
    flags_.resize(size);
    for (size_t d = 0; d < size; ++d) {
        const bool neighbour = decision(maskNeighbour_[d]);
        neighbourBits_[d >> 6] |= static_cast<uint64_t>(neighbour) << (d & 63);
        flags_[d] = neighbour;
    }
    // Each pattern's neighbouring haplotypes: the neighbour masks convolved with
    // the haplotypes per word, less the pattern's haplotype itself. The flags'
    // transform lies within -2^bits .. 2^bits, its product with the spectrum's
    // within 2^bits x n.
    walshHadamard(flags_.data(), bits);
    for (size_t u = 0; u < size; ++u) {
        const int64_t product =
            static_cast<int64_t>(static_cast<int32_t>(flags_[u])) * static_cast<int32_t>(spectrum_[u]);
        work64_[u] = static_cast<uint64_t>(product);
    }
    walshHadamard(work64_.data(), bits);
    const int32_t k = patterns_.count;
    neighbourCount_.resize(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) {
        const int64_t reached = static_cast<int64_t>(work64_[patternMask_[static_cast<size_t>(p)]] >> bits);
        neighbourCount_[static_cast<size_t>(p)] = static_cast<int32_t>(reached - static_cast<int64_t>(neighbourBits_[0] & 1));
    }
}

bool WindowClusterer::classifyPairs(const AnalysisState& state, const RadiusRule& rule) {
    const int32_t k = patterns_.count;
    const size_t pairCount = static_cast<size_t>(k) * static_cast<size_t>(k + 1) / 2;
    try {
        pairs_.resize(pairCount);
    } catch (const std::exception&) {  // bad_alloc, or length_error beyond the address space
        throw ResourceError("cannot allocate " + std::to_string(pairCount) +
                            " bytes for the pairs of " + std::to_string(k) +
                            " distinct haplotypes in one window");
    }
    patternSizes_.resize(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) patternSizes_[static_cast<size_t>(p)] = patterns_.size(p);
    // Many patterns: estimate first, walk exactly only near a decision edge.
    const bool screened = k >= kScreenFrom && screen_.prepare(state, walk_, patterns_);
    RowEdges edges;
    byFixedPoint_ = screened && screen_.fixedPoint() && (rule.derived || edges.forFixed(rule.fixed));
    fromTallies_ = false;
    state.alleles.visit([&](const auto* alleles) {
        if (!byFixedPoint_) {
            classifyPairs(state, rule, alleles, screened);
        } else if (!(fromTallies_ = tallyPairs(state, rule, alleles, edges))) {
            histogramFromCodes(rule);
        }
    });
    return fromTallies_;
}

template <typename Code>
bool WindowClusterer::tallyPairs(const AnalysisState& state, const RadiusRule& rule, const Code* alleles,
                                 RowEdges edges) {
    constexpr int kCandidates = RowEdges::kCounted;
    const int32_t k = patterns_.count;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    // Candidate radii: the bin of this clusterer's last window and those either
    // side, as neighbouring windows mostly share one; a fixed radius is the one
    // candidate, however many counts are kept.
    const int32_t first = rule.derived ? std::clamp(lastRadiusBin_, 1, kDistanceBins - 2) - 1 : 0;
    if (rule.derived) edges.forBins(first);
    PairDecision decisions[kCandidates];
    candidateCounts_.assign(static_cast<size_t>(kCandidates) * static_cast<size_t>(k), 0);
    int32_t* counts[kCandidates];
    for (int c = 0; c < kCandidates; ++c) {
        decisions[c].settle(rule.derived, first + c);
        counts[c] = candidateCounts_.data() + static_cast<size_t>(c) * static_cast<size_t>(k);
    }
    // Haplotype pairs below each edge as tallied, and those walked exactly (pairs
    // within a pattern, and those near an edge) by bin.
    int64_t below[RowEdges::kEdges] = {};
    int64_t walked[kDistanceBins] = {};
    const PairScreen::UnitTables tables = screen_.unitTables();
    const int32_t* sizes = patternSizes_.data();
    uint8_t* out = pairs_.data();
    for (int32_t p = 0; p < k; ++p) {
        const Code* x = alleles + static_cast<size_t>(patterns_.representative(p)) * rowLength;
        const int64_t sizeP = sizes[p];
        const uint8_t self = pairCode(walkDistance(walk_, x, x), rule);
        *out++ = self;
        walked[self & kBinMask] += sizeP * (sizeP - 1) / 2;
        for (int c = 0; c < kCandidates; ++c) counts[c][p] += decisions[c](self) ? sizes[p] - 1 : 0;
        // Pair (p, q) at out[q - p - 1].
        const RowTally tally = tallyRow(tables, p, k, sizes, edges, out, counts, vectorised_);
        for (int e = 0; e < RowEdges::kEdges; ++e) below[e] += sizeP * tally.below[e];
        for (int c = 0; c < kCandidates; ++c) counts[c][p] += static_cast<int32_t>(tally.below[c]);
        for (int32_t q = p + 1; tally.near && q < k; ++q) {
            uint8_t& code = out[q - p - 1];
            if (code != kNeedsExact) continue;
            code = pairCode(
                walkDistance(walk_, x, alleles + static_cast<size_t>(patterns_.representative(q)) * rowLength), rule);
            walked[code & kBinMask] += sizeP * sizes[q];
            for (int c = 0; c < kCandidates; ++c) {
                if (!decisions[c](code)) continue;
                counts[c][q] += sizes[p];
                counts[c][p] += sizes[q];
            }
        }
        out += k - p - 1;
    }
    int chosen = 0;
    if (rule.derived) {
        // The histogram's pairs below the lower edge of bin first + e.
        const auto pairsBelow = [&](int e) {
            int64_t sum = below[e];
            for (int b = 0; b < first + e; ++b) sum += walked[b];
            return sum;
        };
        // The radius is the first bin whose pairs, with those of the bins below,
        // reach the target.
        chosen = -1;
        for (int c = 0; c < kCandidates && chosen < 0; ++c) {
            if (pairsBelow(c + 1) >= rule.target && (first + c == 0 || pairsBelow(c) < rule.target)) chosen = c;
        }
        if (chosen < 0) return false;
        lastRadiusBin_ = first + chosen;
        epsilon_ = lastRadiusBin_ * 0.1;
    } else {
        epsilon_ = rule.fixed;
    }
    decision_ = decisions[chosen];
    neighbourCount_.assign(counts[chosen], counts[chosen] + k);
    return true;
}

void WindowClusterer::histogramFromCodes(const RadiusRule& rule) {
    std::fill(std::begin(histogram_), std::end(histogram_), 0);
    if (!rule.derived) return;
    const int32_t k = patterns_.count;
    const int32_t* sizes = patternSizes_.data();
    const uint8_t* code = pairs_.data();
    for (int32_t p = 0; p < k; ++p) {
        const int64_t sizeP = sizes[p];
        histogram_[*code++ & kBinMask] += sizeP * (sizeP - 1) / 2;
        int64_t row[kDistanceBins] = {};
        for (int32_t q = p + 1; q < k; ++q) row[*code++ & kBinMask] += sizes[q];
        for (int b = 0; b < kDistanceBins; ++b) histogram_[b] += sizeP * row[b];
    }
}

template <typename Code>
void WindowClusterer::classifyPairs(const AnalysisState& state, const RadiusRule& rule, const Code* alleles,
                                    bool screened) {
    const int32_t k = patterns_.count;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    std::fill(std::begin(histogram_), std::end(histogram_), 0);
    uint8_t* out = pairs_.data();
    // Four histograms side by side, so that neighbouring pairs falling in one bin
    // do not wait on each other's additions.
    int64_t histograms[4][kDistanceBins] = {};
    for (int32_t p = 0; p < k; ++p) {
        const Code* x = alleles + static_cast<size_t>(patterns_.representative(p)) * rowLength;
        const int64_t sizeP = patterns_.size(p);
        for (int32_t q = p; q < k; ++q) {
            uint8_t code = kNeedsExact;
            if (screened && q != p) code = estimateCode(screen_.estimateTenths(p, q), rule);
            // Two different haplotypes with the same pattern are compared too.
            if (code == kNeedsExact) {
                code = pairCode(walkDistance(walk_, x, alleles + static_cast<size_t>(
                                                                     patterns_.representative(q)) * rowLength),
                                rule);
            }
            *out++ = code;
            const int64_t count = p == q ? sizeP * (sizeP - 1) / 2 : sizeP * patterns_.size(q);
            histograms[q & 3][code & kBinMask] += count;
        }
    }
    if (rule.derived) {
        for (int b = 0; b < kDistanceBins; ++b) {
            histogram_[b] = histograms[0][b] + histograms[1][b] + histograms[2][b] + histograms[3][b];
        }
    }
}

void WindowClusterer::markNeighbours(const RadiusRule& rule) {
    settleRadius(rule);
    const int32_t k = patterns_.count;
    neighbourCount_.assign(static_cast<size_t>(k), 0);
    int32_t* counts = neighbourCount_.data();
    const int32_t* sizes = patternSizes_.data();
    const uint8_t* code = pairs_.data();
    // Branch-free: whether two patterns are neighbours is close to a coin toss.
    for (int32_t p = 0; p < k; ++p) {
        const int32_t sizeP = sizes[p];
        int64_t reached = decision_(*code++) ? sizeP - 1 : 0;
        for (int32_t q = p + 1; q < k; ++q) {
            const int32_t neighbour = decision_(*code++);
            reached += neighbour * sizes[q];
            counts[q] += neighbour * sizeP;
        }
        counts[p] += static_cast<int32_t>(reached);
    }
}

void WindowClusterer::deriveCoreThreshold(const AnalysisState& state, int32_t centre) {
    const int32_t n = state.nHaplotypes;
    const int32_t k = patterns_.count;
    // The count at the quantile of the n haplotype counts, each pattern's count
    // standing for all the haplotypes that carry it.
    order_.resize(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) order_[static_cast<size_t>(p)] = p;
    std::sort(order_.begin(), order_.end(), [&](int32_t a, int32_t b) {
        return neighbourCount_[static_cast<size_t>(a)] < neighbourCount_[static_cast<size_t>(b)];
    });
    const size_t index = quantileIndex(n, state.minPtsQuantile);
    size_t seen = 0;
    int32_t atQuantile = 0;
    for (const int32_t p : order_) {
        seen += static_cast<size_t>(patterns_.size(p));
        if (seen > index) {
            atQuantile = neighbourCount_[static_cast<size_t>(p)];
            break;
        }
    }
    minPts_ = coreThreshold(n, atQuantile, state.alleleFreq[static_cast<size_t>(centre)]);
    core_.resize(static_cast<size_t>(k));
    for (int32_t p = 0; p < k; ++p) {
        core_[static_cast<size_t>(p)] =
            static_cast<double>(neighbourCount_[static_cast<size_t>(p)]) + 1.0 >= minPts_;
    }
}

// A cluster's members in ascending order (each is listed once): a large cluster
// is read back from a bit per haplotype, a small one sorted.
void WindowClusterer::ascending(std::vector<int32_t>& members, int32_t n) {
    if (members.size() < static_cast<size_t>(n) / 32) {
        std::sort(members.begin(), members.end());
        return;
    }
    memberBits_.assign((static_cast<size_t>(n) + 63) / 64, 0);
    for (const int32_t h : members) memberBits_[static_cast<size_t>(h) >> 6] |= uint64_t{1} << (h & 63);
    size_t at = 0;
    for (size_t w = 0; w < memberBits_.size(); ++w) {
        for (uint64_t bits = memberBits_[w]; bits != 0; bits &= bits - 1) {
            members[at++] = static_cast<int32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
        }
    }
    members.resize(at);
}

// The haplotype procedure visits haplotypes in index order; an unvisited core
// haplotype starts a cluster that takes in its neighbours (whatever they were
// labelled), then grows through queued core haplotypes, which take in unvisited
// neighbours as members and noise neighbours by label only. Within one cluster
// the outcome does not depend on the queue's order, and every haplotype of a
// pattern has the same neighbours, so the growth runs pattern by pattern.
void WindowClusterer::expandClusters(const AnalysisState& state, WindowClusters& out) {
    // The searches ask about one pair after another: each route's test is
    // compiled into the loops rather than chosen at every pair.
    if (byMask_) {
        const uint32_t* words = patternMask_.data();
        const uint64_t* neighbour = neighbourBits_.data();
        expandClusters(state, out, [words, neighbour](int32_t p, int32_t q) {
            const uint32_t mask = words[p] ^ words[q];
            return ((neighbour[mask >> 6] >> (mask & 63)) & 1) != 0;
        });
    } else {
        expandClusters(state, out, [this](int32_t p, int32_t q) {
            return decision_(pairs_[p <= q ? pairSlot(p, q) : pairSlot(q, p)]);
        });
    }
}

template <typename Adjacent>
void WindowClusterer::expandClusters(const AnalysisState& state, WindowClusters& out, const Adjacent& adjacent) {
    const int32_t n = state.nHaplotypes;
    const int32_t k = patterns_.count;
    label_.assign(static_cast<size_t>(n), 0);
    expandedIn_.assign(static_cast<size_t>(k), 0);
    out.clear();

    const auto haplotypesOf = [&](int32_t p) {
        const int32_t* first = patterns_.haplotypes.data() + patterns_.offsets[static_cast<size_t>(p)];
        return std::make_pair(first, first + patterns_.size(p));
    };

    int32_t nextId = 1;
    for (int32_t start = 0; start < n; ++start) {
        if (label_[static_cast<size_t>(start)] != 0) continue;
        const int32_t startPattern = patterns_.patternOf[static_cast<size_t>(start)];
        if (!core_[static_cast<size_t>(startPattern)]) {
            label_[static_cast<size_t>(start)] = -1;
            continue;
        }
        const int32_t id = nextId++;
        current_.clear();
        work_.clear();
        label_[static_cast<size_t>(start)] = id;
        current_.push_back(start);
        expandedIn_[static_cast<size_t>(startPattern)] = id;

        // The start's neighbours join whatever their label, and are all queued;
        // the other patterns, ascending, are what later searches look at.
        unclaimed_.clear();
        for (int32_t q = 0; q < k; ++q) {
            if (!adjacent(startPattern, q)) {
                unclaimed_.push_back(q);
                continue;
            }
            const auto [first, last] = haplotypesOf(q);
            for (const int32_t* h = first; h != last; ++h) {
                if (*h == start) continue;
                label_[static_cast<size_t>(*h)] = id;
                current_.push_back(*h);
            }
            if (core_[static_cast<size_t>(q)] && expandedIn_[static_cast<size_t>(q)] != id) {
                expandedIn_[static_cast<size_t>(q)] = id;
                work_.push_back(q);
            }
        }

        // Queued core haplotypes take in unvisited neighbours (queued in turn) and
        // relabel noise; a pattern is handled once per cluster, so each search
        // looks only at the patterns not yet taken in, kept in ascending order.
        while (!work_.empty()) {
            const int32_t r = work_.back();
            work_.pop_back();
            size_t kept = 0;
            for (size_t i = 0; i < unclaimed_.size(); ++i) {
                const int32_t s = unclaimed_[i];
                if (!adjacent(r, s)) {
                    unclaimed_[kept++] = s;
                    continue;
                }
                bool joined = false;
                const auto [first, last] = haplotypesOf(s);
                for (const int32_t* h = first; h != last; ++h) {
                    int32_t& label = label_[static_cast<size_t>(*h)];
                    if (label == 0) {
                        label = id;
                        current_.push_back(*h);
                        joined = true;
                    } else if (label == -1) {
                        label = id;
                    }
                }
                if (joined && core_[static_cast<size_t>(s)] && expandedIn_[static_cast<size_t>(s)] != id) {
                    expandedIn_[static_cast<size_t>(s)] = id;
                    work_.push_back(s);
                }
            }
            unclaimed_.resize(kept);
        }

        ascending(current_, n);
        int32_t cores = 0;
        for (const int32_t h : current_) {
            const uint8_t isCore = core_[static_cast<size_t>(patterns_.patternOf[static_cast<size_t>(h)])];
            out.members.push_back(h);
            out.memberCore.push_back(isCore);
            cores += isCore;
        }
        out.nCore.push_back(cores);
        out.offsets.push_back(static_cast<int32_t>(out.members.size()));
    }
}

void WindowClusterer::cluster(const AnalysisState& state, const RadiusRule& rule, int32_t centre,
                              WindowClusters& out, const PackedAlleles* packed) {
    const int32_t windowStart = windowStartOf(centre, state.windowSize, state.nMarkers);
    if (packed != nullptr && packed->fits(windowStart, state.windowSize)) {
        groupWindowPatterns(*packed, state.nHaplotypes, windowStart, state.windowSize, patterns_);
    } else {
        groupWindowPatterns(state, windowStart, state.windowSize, patterns_);
    }
    computeWindowWalk(state, windowStart, centre, walk_);
    byMask_ = encodePatterns(state);
    byFixedPoint_ = false;
    fromTallies_ = false;
    if (byMask_) {
        classifyMasks(state, rule);
        markMaskNeighbours(rule);
    } else {
        if (!classifyPairs(state, rule)) markNeighbours(rule);
    }
    deriveCoreThreshold(state, centre);
    expandClusters(state, out);
}

}  // namespace orvane
