// Empirical p-values of the scan's best values: the statuses or trait values are
// shuffled among the haplotypes and every marker's clusters are rescored.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "permutation/replicate_run.h"

namespace orvane {

struct PermutationPValues {
    double score = 0.0;  // of the best cluster score
    double t = 0.0;      // trait mode: of the best single-marker pooled T
    double z = 0.0;      // trait mode: of the best single-marker Mann-Whitney Z
};

// Permutes the labels (status, or trait in trait mode) in place: one draw per
// record from the run's generator.
void shuffleLabels(AnalysisState& state);

// Share of replicate maxima that are at least `observed`; a maximum that is not
// a number counts as below it.
double empiricalPValue(const double* maxima, int32_t count, double observed);

// Replicate r of marker l is scored under the labels of the (l x P + r + 1)-th
// shuffle, on the clusters the scan found at marker l (`clusters[l]`; the
// clustering depends on the alleles only). The records keep the last labels.
// The same p-values with any number of threads.
// `progress`, when given, hears now and then how many of the shuffles are done.
void permutationTest(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                     double observedScore, double observedT, double observedZ,
                     PermutationPValues& pValues, int threads = 1,
                     const ProgressCallback& progress = nullptr);

}  // namespace orvane
