// Case/control scoring of the clusters of a window: a 2 x 2 chi-square of
// cluster membership against status per cluster; the marker's score is the
// signed Z of the cluster with the largest chi-square.
#pragma once

#include <cstdint>
#include <set>

#include "model/analysis_state.h"
#include "model/text_output.h"

namespace orvane {

struct ClusterChiSquare {
    double chiSquare = 0.0;     // negated when the cluster is depleted of cases
    double z = 0.0;             // square root of the chi-square, same sign
    double minusLog10P = 0.0;   // of the unsigned chi-square, 1 df
    int64_t size = 0;
    int64_t nCore = 0;
};

// Statistics of one cluster; the tail probability only when `withPValue`.
ClusterChiSquare clusterChiSquare(const AnalysisState& state, const std::set<int32_t>& members,
                                  bool withPValue);

// Scores the window and appends the marker's block to the cluster report.
double scoreClustersCaseControl(const AnalysisState& state, OutputFile& report, int32_t centre);
// The same score under the current statuses, writing nothing.
double caseControlWindowScore(const AnalysisState& state);

}  // namespace orvane
