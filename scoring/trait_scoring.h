// Quantitative-trait scoring of the clusters of a window: a pooled two-sample t
// statistic of members against all other haplotypes; the marker's score is the
// largest T of the window.
#pragma once

#include <cstdint>
#include <set>

#include "model/analysis_state.h"
#include "model/text_output.h"

namespace orvane {

// Score of a window without any cluster.
constexpr double kNoClusterTraitScore = -10000000.0;

// Fills traitMean and traitSumOfSquares from every record's trait.
void prepareTraitStatistics(AnalysisState& state);

// T of one cluster. Adds the cluster's core members to `nCore` (not reset here);
// `mean` and `variance` receive the members' trait mean and population variance.
double clusterTStatistic(const AnalysisState& state, const std::set<int32_t>& members,
                         int32_t& nCore, double& mean, double& variance);

double scoreClustersTrait(const AnalysisState& state, OutputFile& report, int32_t centre);
double traitWindowScore(const AnalysisState& state);

}  // namespace orvane
