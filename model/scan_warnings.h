// Warnings about the scan shared by orvane and orvane-locate: a window wider
// than the map, and what the scanned windows were like (no cluster anywhere,
// radii of 0). Both programs print the same text from here.
#pragma once

#include <cstdint>
#include <string>

#include "model/analysis_state.h"
#include "model/warnings.h"

namespace orvane {

// What the windows of a scan were like, for the run's warnings.
struct ScanCounts {
    int32_t windows = 0;
    int32_t withoutCluster = 0;  // no cluster scored: the no-cluster score
    int32_t zeroRadius = 0;  // a radius derived from the pairs came out 0

    bool noClusterAnywhere() const { return windows > 0 && withoutCluster == windows; }
};

// windowSize larger than the data's markers; call before the window is narrowed
// to the map.
Warnings warnAboutWindowSize(const AnalysisState& state, const std::string& parameterFile,
                             const std::string& dataFile);

// What a scan without any cluster means to the program that ran it.
enum class NoClusterMeaning {
    PredictedPosition,  // orvane: the prediction and its permutation p-value
    ClusterInterval,    // orvane-locate: the cluster statistic's peak and intervals
};

// No window formed a cluster; windows whose derived radius came out 0.
Warnings warnAboutScan(const AnalysisState& state, const ScanCounts& counts,
                       NoClusterMeaning meaning = NoClusterMeaning::PredictedPosition);

}  // namespace orvane
