#include "cluster/cluster_window.h"

#include "cluster/density_clustering.h"
#include "cluster/density_parameters.h"
#include "cluster/window_distances.h"

namespace orvane {

void clusterWindow(AnalysisState& state, int32_t centre) {
    placeWindow(state, centre);
    if (state.distanceType == 3) {
        computeWindowDistancesLD(state, centre);
    } else {
        computeWindowDistances(state, centre);
    }
    deriveEpsilon(state);
    deriveMinPts(state, centre);
    resetClusters(state);
    clusterHaplotypes(state);
}

}  // namespace orvane
