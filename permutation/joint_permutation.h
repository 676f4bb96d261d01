// The joint permutation test: one shuffle per replicate, under which every
// marker is scored, so that a replicate's regional maximum is taken over
// markers tied by the same linkage disequilibrium as the observed one. The
// p-value of a statistic's regional maximum is then family-wise over the
// region (max-T), and duplicating a marker changes nothing.
//
// Replicate r is scored under the labels the (r + 1)-th shuffle of one chain
// leaves: the first shuffle permutes the data's labels, the second its result,
// and so on, each drawing one number per record from the run's generator. The
// windows and clusters are the scan's.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "model/progress.h"
#include "permutation/joint_maxima.h"

namespace orvane {

// Runs the P = state.nPermutations replicates; the records keep the labels of
// the last shuffle and the run's stream moves past every draw. The same maxima
// with any number of threads. In trait mode `carriers` may give every
// marker's allele-1 records, ascending, as the scan found them; otherwise
// they are found from the alleles. With `adaptive` (the observed regional
// maxima, one per statistic) the run draws the same replicates in the same
// order but stops by SequentialStop's rule; the stream then stands wherever
// the chain had got to.
JointMaxima jointPermutationMaxima(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                   int threads = 1, const ProgressCallback& progress = nullptr,
                                   const std::vector<std::vector<int32_t>>* carriers = nullptr,
                                   const std::vector<double>* adaptive = nullptr);

// The maxima of replicates whose labels are given rather than drawn: labels[r]
// holds replicate r's label of every record (its status, 0 or 1, in
// case/control mode, its trait value in trait mode), a rearrangement of the
// records' own (in trait mode anything else throws std::invalid_argument). The
// state is left as it is.
JointMaxima jointMaximaOfLabels(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                const std::vector<std::vector<double>>& labels, int threads = 1);

// (1 + replicate maxima at least `observed`) / (P + 1): never 0.
double jointPValue(const std::vector<double>& maxima, double observed);

// Westfall and Young's minP over the statistics: each statistic's maximum,
// observed and replicated, becomes its p-value among the P + 1 values (the
// observed one and the replicates', ties counting as at least); a draw's
// omnibus statistic is the smallest of its p-values; the omnibus p is (1 +
// replicates whose smallest p is at most the observed one) / (P + 1).
// `observed[s]` is statistic s's observed regional maximum.
double omnibusPValue(const JointMaxima& maxima, const std::vector<double>& observed);

}  // namespace orvane
