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
#include "model/scan_warnings.h"
#include "model/text_output.h"

namespace orvane {

class ProgressLine;

// The clusters of every marker, kept for the permutation test; in trait mode
// also every marker's allele-1 records (ascending) when `carriers` is given.
std::vector<WindowClusters> scanCaseControl(AnalysisState& state, int threads, OutputFile& report,
                                            ResultFile& results, CaseControlSummary& summary,
                                            ScanCounts& counts, ProgressLine& progress);
std::vector<WindowClusters> scanTrait(AnalysisState& state, int threads, OutputFile& report,
                                      ResultFile& results, TraitSummary& summary,
                                      ScanCounts& counts, ProgressLine& progress,
                                      std::vector<std::vector<int32_t>>* carriers = nullptr);

}  // namespace orvane
