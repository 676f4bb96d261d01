// Case/control scoring of the clusters of a window: a 2 x 2 chi-square of
// cluster membership against status per cluster; the marker's score is the
// signed Z of the cluster with the largest chi-square.
#pragma once

#include <cstdint>
#include <set>

#include "cluster/pattern_clustering.h"
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

// Statistics of a cluster holding aIn cases and uIn controls; the tail
// probability only when `withPValue`.
ClusterChiSquare chiSquareFromCounts(const AnalysisState& state, int64_t aIn, int64_t uIn,
                                     bool withPValue);

// Keeps the signed Z of the first cluster with the largest absolute chi-square.
struct CaseControlBest {
    double chiSquare = 0.0;
    double score = 0.0;
    void offer(const ClusterChiSquare& cluster);
};

// Statistics of one cluster given as a member set (core flags from the records).
ClusterChiSquare clusterChiSquare(const AnalysisState& state, const std::set<int32_t>& members,
                                  bool withPValue);

// Scores the window held in clusterMembers and appends the marker's block to the report.
double scoreClustersCaseControl(const AnalysisState& state, TextBuffer& report, int32_t centre);
// The same score under the current statuses, writing nothing.
double caseControlWindowScore(const AnalysisState& state);

// Statistics of cluster c of a window computed by pattern (nCore not set).
ClusterChiSquare windowClusterChiSquare(const AnalysisState& state, const WindowClusters& clusters,
                                        int32_t c, bool withPValue);

// The same for a window's clusters computed by pattern.
double scoreWindowCaseControl(const AnalysisState& state, const WindowClusters& clusters,
                              int32_t centre, int32_t windowStart, TextBuffer& report);

}  // namespace orvane
