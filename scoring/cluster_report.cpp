#include "scoring/cluster_report.h"

namespace orvane {

void beginReportBlock(OutputFile& report, int32_t marker) {
    report << "Position: " << marker << '\n';
    report.flush();
}

void endReportBlock(OutputFile& report) {
    report << '\n';
    report.flush();
}

void writeClusterHeading(OutputFile& report, int32_t clusterId) {
    report << "Cluster number " << clusterId << '\n';
}

void writeClusterMember(const AnalysisState& state, int32_t h, OutputFile& report,
                        int32_t windowStart, int32_t windowSize) {
    const HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
    report << record.identifier << '\t' << record.status << '\t' << record.trait << '('
           << (record.isCore ? '1' : '0') << "):\t";
    for (int32_t k = windowStart; k < windowStart + windowSize; ++k) {
        report << state.allele(h, k) << '\t';
    }
    report << '\n';
    report.flush();
}

void writeClusterMembers(const AnalysisState& state, const std::set<int32_t>& members,
                         OutputFile& report) {
    for (const int32_t h : members) {
        writeClusterMember(state, h, report, state.windowStart, state.windowSize);
    }
}

}  // namespace orvane
