#include "scoring/single_marker_tests.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace orvane {

double singleMarkerChiSquare(const AnalysisState& state, int32_t m) {
    int64_t a1 = 0, u1 = 0;
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        if (state.allele(h, m) != 1) continue;
        ++(state.haplotypes[static_cast<size_t>(h)].status == 1 ? a1 : u1);
    }
    return markerChiSquareFromCounts(state, a1, a1 + u1);
}

CarrierCounts countCarriers(const AnalysisState& state) {
    const size_t markers = static_cast<size_t>(state.nMarkers);
    CarrierCounts counts{std::vector<int64_t>(markers, 0), std::vector<int64_t>(markers, 0)};
    state.alleles.visit([&](const auto* alleles) {
        for (int32_t h = 0; h < state.nHaplotypes; ++h) {
            const auto* row = alleles + static_cast<size_t>(h) * markers;
            std::vector<int64_t>& tally =
                state.haplotypes[static_cast<size_t>(h)].status == 1 ? counts.cases : counts.carriers;
            for (size_t m = 0; m < markers; ++m) tally[m] += row[m] == 1;
        }
    });
    // Carriers among the others were counted apart: add the cases to them.
    for (size_t m = 0; m < markers; ++m) counts.carriers[m] += counts.cases[m];
    return counts;
}

double markerChiSquareFromCounts(const AnalysisState& state, int64_t a1, int64_t carriers) {
    const int64_t u1 = carriers - a1;
    const int64_t a0 = state.nAffected - a1;
    const int64_t u0 = state.nUnaffected - u1;
    const int64_t m1 = carriers;
    const int64_t m0 = a0 + u0;
    if (state.nAffected == 0 || m1 == 0 || m0 == 0 || state.nUnaffected == 0) return 0.0;
    const double x = static_cast<double>(a1) * static_cast<double>(u0) -
                     static_cast<double>(u1) * static_cast<double>(a0);
    const double total = static_cast<double>(state.nHaplotypes);
    return total / state.nAffected * x / static_cast<double>(m1) * x / static_cast<double>(m0) /
           state.nUnaffected;
}

void traitMoments(const AnalysisState& state, int64_t n1, double s1, double q1, TraitTests& out) {
    const double total = static_cast<double>(state.nHaplotypes);
    const double size1 = static_cast<double>(n1);
    const double size2 = static_cast<double>(state.nHaplotypes - n1);
    const double mean1 = s1 * (1.0 / size1);
    const double mean2 = (total * state.traitMean - s1) / size2;
    const double q2 = state.traitSumOfSquares - q1;
    const double ss1 = q1 - size1 * mean1 * mean1;
    const double ss2 = q2 - size2 * mean2 * mean2;
    const double diff = mean1 - mean2;
    out.t = diff * std::sqrt((total - 2.0) * size1 * size2 / total) / std::sqrt(ss1 + ss2);
    const double v1 = ss1 / (size1 * size1);
    const double v2 = ss2 / (size2 * size2);
    out.welchT = diff / std::sqrt(v1 + v2);
    out.dof = (v1 + v2) * (v1 + v2) / (v1 * v1 / (size1 - 1.0) + v2 * v2 / (size2 - 1.0));
}

double mannWhitneyZ(int64_t u, int64_t n1, int64_t n2) {
    const double product = static_cast<double>(n1) * static_cast<double>(n2);
    const double total = static_cast<double>(n1 + n2);
    return -(static_cast<double>(u) - product / 2.0) / std::sqrt(product * (total + 1.0) / 12.0);
}

TraitTests singleMarkerTraitTests(const AnalysisState& state, int32_t m) {
    int64_t n1 = 0;
    double s1 = 0.0;
    double q1 = 0.0;
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        if (state.allele(h, m) != 1) continue;
        const double x = state.haplotypes[static_cast<size_t>(h)].trait;
        ++n1;
        s1 += x;
        q1 += x * x;
    }
    TraitTests result;
    traitMoments(state, n1, s1, q1, result);

    // U by direct comparison of every carrier with every non-carrier.
    int64_t u = 0;
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        if (state.allele(h, m) != 1) continue;
        const double x = state.haplotypes[static_cast<size_t>(h)].trait;
        for (int32_t k = 0; k < state.nHaplotypes; ++k) {
            if (state.allele(k, m) != 1 && x < state.haplotypes[static_cast<size_t>(k)].trait) ++u;
        }
    }
    result.u = u;
    result.z = mannWhitneyZ(u, n1, state.nHaplotypes - n1);
    return result;
}

void carriersOf(const AnalysisState& state, int32_t m, std::vector<int32_t>& carriers) {
    carriers.clear();
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        if (state.allele(h, m) == 1) carriers.push_back(h);
    }
}

TraitRanks::TraitRanks(const AnalysisState& state, std::vector<uint32_t>& index) {
    const size_t n = state.haplotypes.size();
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return state.haplotypes[a].trait < state.haplotypes[b].trait;
    });
    sorted.resize(n);
    index.resize(n);
    for (size_t v = 0; v < n; ++v) {
        sorted[v] = state.haplotypes[order[v]].trait;
        index[order[v]] = static_cast<uint32_t>(v);
    }
    greater.resize(n);
    tieGroup.resize(n);
    int32_t group = 0;
    for (size_t v = 0; v < n; ++v) {
        if (v > 0 && sorted[v] != sorted[v - 1]) ++group;
        if (v > 0 && sorted[v] == sorted[v - 1]) ties = true;
        tieGroup[v] = group;
    }
    // Walking down, each run of equal values learns where it ends.
    size_t runEnd = n;
    for (size_t v = n; v-- > 0;) {
        if (v + 1 < n && sorted[v] != sorted[v + 1]) runEnd = v + 1;
        greater[v] = static_cast<int64_t>(n - runEnd);
    }
}

namespace {

// One pass over the carriers: their trait sum and sum of squares (added in
// carrier order) and the two counts U is made of.
struct CarrierSums {
    double s1 = 0.0;
    double q1 = 0.0;
    int64_t above = 0;      // pairs (carrier, any record with a larger value)
    int64_t sameValue = 0;  // ordered pairs of carriers with equal values, self pairs included
};

template <bool kTies>
CarrierSums sumCarriersOf(const TraitRanks& ranks, const uint32_t* index,
                          const std::vector<int32_t>& carriers, std::vector<int64_t>& scratch) {
    CarrierSums sums;
    const double* sorted = ranks.sorted.data();
    const int64_t* greater = ranks.greater.data();
    const int32_t* tieGroup = ranks.tieGroup.data();
    int64_t* count = scratch.data();
    for (const int32_t h : carriers) {
        const uint32_t v = index[h];
        const double x = sorted[v];
        sums.s1 += x;
        sums.q1 += x * x;
        sums.above += greater[v];
        if constexpr (kTies) {
            // A run of c carriers sharing a value adds c x c pairs: 1 + 3 + ... + (2c - 1).
            int64_t& c = count[tieGroup[v]];
            sums.sameValue += 2 * c + 1;
            ++c;
        }
    }
    if constexpr (kTies) {
        for (const int32_t h : carriers) count[tieGroup[index[h]]] = 0;
    } else {
        sums.sameValue = static_cast<int64_t>(carriers.size());
    }
    return sums;
}

CarrierSums sumCarriers(const TraitRanks& ranks, const uint32_t* index,
                        const std::vector<int32_t>& carriers, std::vector<int64_t>& scratch) {
    return ranks.ties ? sumCarriersOf<true>(ranks, index, carriers, scratch)
                      : sumCarriersOf<false>(ranks, index, carriers, scratch);
}

// Pairs (carrier, anyone larger), less the pairs of two carriers in which the
// second is larger: half of the carrier pairs whose values differ.
int64_t uFromCounts(int64_t above, int64_t sameValue, int64_t n1) { return above - (n1 * n1 - sameValue) / 2; }

}  // namespace

TraitTests traitTestsFromCarrierSums(const AnalysisState& state, int64_t n1, double s1, double q1,
                                     int64_t above, int64_t sameValue) {
    TraitTests result;
    traitMoments(state, n1, s1, q1, result);
    result.u = uFromCounts(above, sameValue, n1);
    result.z = mannWhitneyZ(result.u, n1, state.nHaplotypes - n1);
    return result;
}

double rankTestZ(int32_t records, int64_t n1, int64_t above, int64_t sameValue) {
    return mannWhitneyZ(uFromCounts(above, sameValue, n1), n1, records - n1);
}

TraitTests rankedTraitTests(const AnalysisState& state, const TraitRanks& ranks,
                            const uint32_t* index, const std::vector<int32_t>& carriers,
                            std::vector<int64_t>& scratch) {
    const CarrierSums sums = sumCarriers(ranks, index, carriers, scratch);
    return traitTestsFromCarrierSums(state, static_cast<int64_t>(carriers.size()), sums.s1, sums.q1,
                                     sums.above, sums.sameValue);
}

}  // namespace orvane
