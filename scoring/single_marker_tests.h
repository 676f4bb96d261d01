// Classical tests of one marker taken by itself: allele 1 against status, or the
// trait of allele-1 carriers against all other haplotypes.
#pragma once

#include <cstdint>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {

struct TraitTests {
    double t = 0.0;       // pooled-variance two-sample t
    double welchT = 0.0;  // Welch-type t
    double dof = 0.0;     // its degrees of freedom, before truncation to an integer
    int64_t u = 0;        // Mann-Whitney U: pairs with the carrier's trait strictly lower
    double z = 0.0;       // normal score of U
};

double singleMarkerChiSquare(const AnalysisState& state, int32_t m);
// Every marker's carriers of allele 1 and the cases among them, from one pass
// over the rows: a marker's column read by itself strides across every row,
// a cache line a haplotype. markerChiSquareFromCounts turns them into the
// marker's chi-square, the same as singleMarkerChiSquare's.
struct CarrierCounts {
    std::vector<int64_t> carriers;
    std::vector<int64_t> cases;
};
CarrierCounts countCarriers(const AnalysisState& state);
// The same chi-square from the cases among the marker's carriers and their count.
double markerChiSquareFromCounts(const AnalysisState& state, int64_t casesAmongCarriers, int64_t carriers);
TraitTests singleMarkerTraitTests(const AnalysisState& state, int32_t m);

// The pooled t of allele-1 carriers at m from their count, trait sum and sum of
// squares; the totals come from the state.
void traitMoments(const AnalysisState& state, int64_t n1, double s1, double q1, TraitTests& out);
// Normal score of U for groups of n1 and n2 haplotypes.
double mannWhitneyZ(int64_t u, int64_t n1, int64_t n2);

// The trait values in ascending order. Trait values only ever move between
// records, so this order is fixed for a run: a record's value is named by its
// index in it, and the Mann-Whitney U of any grouping is counted from ranks.
struct TraitRanks {
    std::vector<double> sorted;
    std::vector<int64_t> greater;   // per index: how many values are strictly greater
    std::vector<int32_t> tieGroup;  // per index: its run of equal values
    bool ties = false;
    // `index` receives, per record, the index of its value.
    TraitRanks(const AnalysisState& state, std::vector<uint32_t>& index);
};

// The records carrying allele 1 (code 1) at marker m, ascending.
void carriersOf(const AnalysisState& state, int32_t m, std::vector<int32_t>& carriers);

// The same five tests as singleMarkerTraitTests for the carriers (ascending
// record indices), the records' values given as indices, U counted from ranks
// in one pass over the carriers; `scratch` is zero on entry and on return.
TraitTests rankedTraitTests(const AnalysisState& state, const TraitRanks& ranks,
                            const uint32_t* index, const std::vector<int32_t>& carriers,
                            std::vector<int64_t>& scratch);

// The five tests from the carriers' count n1, their trait sum and sum of squares
// (added in ascending carrier order), the pairs (carrier, any record with a
// strictly larger value) and the ordered pairs of carriers with equal values,
// self pairs included.
// The rank test's z for n1 carriers among `records` from the same two counts.
double rankTestZ(int32_t records, int64_t n1, int64_t above, int64_t sameValue);

TraitTests traitTestsFromCarrierSums(const AnalysisState& state, int64_t n1, double s1, double q1,
                                     int64_t above, int64_t sameValue);

}  // namespace orvane
