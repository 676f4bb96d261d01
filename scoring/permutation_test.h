// Empirical p-values of the scan's best values: the statuses or trait values are
// shuffled among the haplotypes and every marker is rescored.
#pragma once

#include "model/analysis_state.h"

namespace orvane {

struct PermutationPValues {
    double score = 0.0;  // of the best cluster score
    double t = 0.0;      // trait mode: of the best single-marker pooled T
    double z = 0.0;      // trait mode: of the best single-marker Mann-Whitney Z
};

// How far record i's label moves for a draw, with `remaining` = n - 1 - i records
// after it: the draw scaled to [0, 1] times `remaining`, truncated.
int32_t shuffleOffset(int32_t draw, int32_t remaining);

// Permutes the labels (status, or trait in trait mode) in place: one draw per
// record from the run's generator.
void shuffleLabels(AnalysisState& state);

// Share of replicate maxima that are at least `observed`; a maximum that is not
// a number counts as below it.
double empiricalPValue(const double* maxima, int32_t count, double observed);

void permutationTest(AnalysisState& state, double observedScore, double observedT,
                     double observedZ, PermutationPValues& pValues);

}  // namespace orvane
