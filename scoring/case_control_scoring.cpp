#include "scoring/case_control_scoring.h"

#include <cmath>

#include "scoring/cluster_report.h"
#include "stats/special_functions.h"

namespace orvane {

ClusterChiSquare clusterChiSquare(const AnalysisState& state, const std::set<int32_t>& members,
                                  bool withPValue) {
    int64_t aIn = 0;
    int64_t uIn = 0;
    int64_t nCore = 0;
    for (const int32_t h : members) {
        const HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
        if (record.status == 1) {
            ++aIn;
        } else {
            ++uIn;
        }
        if (record.isCore) ++nCore;
    }
    ClusterChiSquare result;
    result.size = aIn + uIn;
    result.nCore = nCore;

    const int64_t a = state.nAffected;
    const int64_t u = state.nUnaffected;
    const int64_t n = result.size;
    const int64_t aOut = a - aIn;
    const int64_t uOut = u - uIn;
    if (a == 0 || n == 0 || aOut + uOut == 0 || u == 0) return result;

    // D = aIn*U - uIn*A = aIn*uOut - uIn*aOut, exact in 64 bits.
    const double d = static_cast<double>(aIn * u - uIn * a);
    const double total = static_cast<double>(state.nHaplotypes);
    result.chiSquare = total / static_cast<double>(a) * d / static_cast<double>(n) * d /
                       static_cast<double>(aOut + uOut) / static_cast<double>(u);
    if (withPValue) result.minusLog10P = -std::log10(chisqtail(result.chiSquare, 1));
    result.z = std::sqrt(result.chiSquare);
    // A cluster with a smaller share of cases than the rest scores negative.
    if (aIn * uOut < uIn * aOut) {
        result.chiSquare = -result.chiSquare;
        result.z = -result.z;
    }
    return result;
}

double scoreClustersCaseControl(const AnalysisState& state, OutputFile& report, int32_t centre) {
    beginReportBlock(report, centre);
    const double threshold = static_cast<double>(state.reportThreshold);
    double bestChiSquare = 0.0;
    double score = 0.0;
    for (const auto& [id, members] : state.clusterMembers) {
        const ClusterChiSquare cluster = clusterChiSquare(state, members, true);
        if (std::fabs(cluster.chiSquare) > bestChiSquare) {
            bestChiSquare = std::fabs(cluster.chiSquare);
            score = cluster.z;
        }
        if (cluster.z > threshold) {
            writeClusterHeading(report, id);
            writeClusterMembers(state, members, report);
            report << "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n";
            report << cluster.chiSquare << '\t' << cluster.z << '\t' << cluster.size << '\t'
                   << cluster.nCore << '\t' << cluster.minusLog10P << '\n';
            report.flush();
        }
    }
    endReportBlock(report);
    return score;
}

double caseControlWindowScore(const AnalysisState& state) {
    double bestChiSquare = 0.0;
    double score = 0.0;
    for (const auto& entry : state.clusterMembers) {
        const ClusterChiSquare cluster = clusterChiSquare(state, entry.second, false);
        if (std::fabs(cluster.chiSquare) > bestChiSquare) {
            bestChiSquare = std::fabs(cluster.chiSquare);
            score = cluster.z;
        }
    }
    return score;
}

}  // namespace orvane
