// The scan over the markers: every marker's window clustered and scored, its
// block appended to the cluster report and its line to the result file. Markers
// are independent, so several are worked on at once; the report and the result
// file are still written in marker order, and a fatal numerical error stops the
// run at the first marker in map order that meets one.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "driver/result_file.h"
#include "model/analysis_state.h"
#include "model/text_output.h"

namespace orvane {

class ProgressLine;

// What the windows of a scan were like, for the run's warnings.
struct ScanCounts {
    int32_t windows = 0;
    int32_t withoutCluster = 0;  // no cluster scored: the no-cluster score
    int32_t zeroRadius = 0;  // a radius derived from the pairs came out 0
};

// The clusters of every marker, kept for the permutation test.
std::vector<WindowClusters> scanCaseControl(AnalysisState& state, int threads, OutputFile& report,
                                            ResultFile& results, CaseControlSummary& summary,
                                            ScanCounts& counts, ProgressLine& progress);
std::vector<WindowClusters> scanTrait(AnalysisState& state, int threads, OutputFile& report,
                                      ResultFile& results, TraitSummary& summary,
                                      ScanCounts& counts, ProgressLine& progress);

}  // namespace orvane
