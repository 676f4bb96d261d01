// Density clustering of the haplotypes of the current window.
#pragma once

#include <cstdint>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {

void resetClusters(AnalysisState& state);
void clusterHaplotypes(AnalysisState& state);
// 0 when a cluster with this id was formed, -1 when p was marked noise.
int expandCluster(AnalysisState& state, int32_t p, int32_t id);
// Neighbours of p (distance strictly below epsilon), ascending.
std::vector<int32_t> findNeighbours(const AnalysisState& state, int32_t p);

}  // namespace orvane
