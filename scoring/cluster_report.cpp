#include "scoring/cluster_report.h"

namespace orvane {

void beginReportBlock(TextBuffer& report, int32_t marker) {
    report << "Position: " << marker << '\n';
}

void endReportBlock(TextBuffer& report) { report << '\n'; }

void writeClusterHeading(TextBuffer& report, int32_t clusterId) {
    report << "Cluster number " << clusterId << '\n';
}

void writeClusterMember(const AnalysisState& state, int32_t h, bool isCore, TextBuffer& report,
                        int32_t windowStart, int32_t windowSize) {
    const HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
    report << record.identifier << '\t' << record.status << '\t' << record.trait << '('
           << (isCore ? '1' : '0') << "):\t";
    for (int32_t k = windowStart; k < windowStart + windowSize; ++k) {
        report << state.allele(h, k) << '\t';
    }
    report << '\n';
}

void writeClusterMembers(const AnalysisState& state, const std::set<int32_t>& members,
                         TextBuffer& report) {
    for (const int32_t h : members) {
        writeClusterMember(state, h, state.haplotypes[static_cast<size_t>(h)].isCore, report,
                           state.windowStart, state.windowSize);
    }
}

}  // namespace orvane
