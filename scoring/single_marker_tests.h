// Classical tests of one marker taken by itself: allele 1 against status, or the
// trait of allele-1 carriers against all other haplotypes.
#pragma once

#include <cstdint>

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
TraitTests singleMarkerTraitTests(const AnalysisState& state, int32_t m);

// The pooled t of allele-1 carriers at m from their count, trait sum and sum of
// squares; the totals come from the state.
void traitMoments(const AnalysisState& state, int64_t n1, double s1, double q1, TraitTests& out);
// Normal score of U for groups of n1 and n2 haplotypes.
double mannWhitneyZ(int64_t u, int64_t n1, int64_t n2);

}  // namespace orvane
