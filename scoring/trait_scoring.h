// Quantitative-trait scoring of the clusters of a window: a pooled two-sample t
// statistic of members against all other haplotypes; the marker's score is the
// largest T of the window.
#pragma once

#include <cstdint>
#include <set>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "model/text_output.h"

namespace orvane {

// Score of a window without any cluster.
constexpr double kNoClusterTraitScore = -10000000.0;

// -log10 of the two-sided t p-value of a score over N - 2 degrees of freedom.
// A window without a cluster has no test at all: its p-value is 1 (written
// "-0"), and the tail is not evaluated, so it can neither pass for strong
// evidence nor stop the run.
double traitScoreMinusLog10P(double score, int32_t nHaplotypes);

// Fills traitMean and traitSumOfSquares from every record's trait.
void prepareTraitStatistics(AnalysisState& state);

// T of a cluster of n members whose traits sum to `sum` and whose squares sum to
// `sumOfSquares` (both added in ascending member order); `mean` and `variance`
// receive the members' mean and population variance.
double traitTFromSums(const AnalysisState& state, int64_t n, double sum, double sumOfSquares,
                      double& mean, double& variance);

// T of one cluster given as a member set. Adds the cluster's core members to
// `nCore` (not reset here).
double clusterTStatistic(const AnalysisState& state, const std::set<int32_t>& members,
                         int32_t& nCore, double& mean, double& variance);

double scoreClustersTrait(const AnalysisState& state, TextBuffer& report, int32_t centre);
double traitWindowScore(const AnalysisState& state);

// T of cluster c of a window computed by pattern, with its members' mean and
// population variance.
double windowClusterT(const AnalysisState& state, const WindowClusters& clusters, int32_t c,
                      double& mean, double& variance);

// The same for a window's clusters computed by pattern.
double scoreWindowTrait(const AnalysisState& state, const WindowClusters& clusters, int32_t centre,
                        int32_t windowStart, TextBuffer& report);

}  // namespace orvane
