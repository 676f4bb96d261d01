// The cluster report "output": one block per marker with the reported clusters,
// their member lines and statistics.
#pragma once

#include <cstdint>
#include <set>

#include "model/analysis_state.h"
#include "model/text_output.h"

namespace orvane {

// "Position: <marker>" opens a marker's block; an empty line closes it.
void beginReportBlock(TextBuffer& report, int32_t marker);
void endReportBlock(TextBuffer& report);
void writeClusterHeading(TextBuffer& report, int32_t clusterId);

// Member line of haplotype h: identifier, status, trait, core flag and the allele
// codes of the window, each code followed by a tab.
void writeClusterMember(const AnalysisState& state, int32_t h, bool isCore, TextBuffer& report,
                        int32_t windowStart, int32_t windowSize);

// The member lines of a cluster in ascending haplotype index, core flags from the records.
void writeClusterMembers(const AnalysisState& state, const std::set<int32_t>& members,
                         TextBuffer& report);

}  // namespace orvane
