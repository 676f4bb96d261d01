#include "scoring/case_control_scoring.h"

#include <cmath>

#include "scoring/cluster_report.h"
#include "stats/distribution_tails.h"

namespace orvane {

namespace {

void writeStatistics(TextBuffer& report, const ClusterChiSquare& cluster) {
    report << "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n";
    report << cluster.chiSquare << '\t' << cluster.z << '\t' << cluster.size << '\t'
           << cluster.nCore << '\t' << cluster.minusLog10P << '\n';
}

}  // namespace

ClusterChiSquare chiSquareFromCounts(const AnalysisState& state, int64_t aIn, int64_t uIn,
                                     bool withPValue) {
    ClusterChiSquare result;
    result.size = aIn + uIn;
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

void CaseControlBest::offer(const ClusterChiSquare& cluster) {
    // Strictly greater: on equal chi-squares the earlier cluster stays.
    if (std::fabs(cluster.chiSquare) > chiSquare) {
        chiSquare = std::fabs(cluster.chiSquare);
        score = cluster.z;
    }
}

ClusterChiSquare clusterChiSquare(const AnalysisState& state, const std::set<int32_t>& members,
                                  bool withPValue) {
    int64_t aIn = 0;
    int64_t nCore = 0;
    for (const int32_t h : members) {
        const HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
        aIn += record.status == 1;
        nCore += record.isCore;
    }
    ClusterChiSquare result =
        chiSquareFromCounts(state, aIn, static_cast<int64_t>(members.size()) - aIn, withPValue);
    result.nCore = nCore;
    return result;
}

double scoreClustersCaseControl(const AnalysisState& state, TextBuffer& report, int32_t centre) {
    beginReportBlock(report, centre);
    const double threshold = static_cast<double>(state.reportThreshold);
    CaseControlBest best;
    for (const auto& [id, members] : state.clusterMembers) {
        const ClusterChiSquare cluster = clusterChiSquare(state, members, true);
        best.offer(cluster);
        if (cluster.z > threshold) {
            writeClusterHeading(report, id);
            writeClusterMembers(state, members, report);
            writeStatistics(report, cluster);
        }
    }
    endReportBlock(report);
    return best.score;
}

double caseControlWindowScore(const AnalysisState& state) {
    CaseControlBest best;
    for (const auto& entry : state.clusterMembers) best.offer(clusterChiSquare(state, entry.second, false));
    return best.score;
}

ClusterChiSquare windowClusterChiSquare(const AnalysisState& state, const WindowClusters& clusters,
                                        int32_t c, bool withPValue) {
    int64_t aIn = 0;
    for (int32_t k = clusters.begin(c); k < clusters.end(c); ++k) {
        aIn += state.haplotypes[static_cast<size_t>(clusters.members[static_cast<size_t>(k)])].status == 1;
    }
    return chiSquareFromCounts(state, aIn, clusters.end(c) - clusters.begin(c) - aIn, withPValue);
}

double scoreWindowCaseControl(const AnalysisState& state, const WindowClusters& clusters,
                              int32_t centre, int32_t windowStart, TextBuffer& report) {
    beginReportBlock(report, centre);
    const double threshold = static_cast<double>(state.reportThreshold);
    CaseControlBest best;
    for (int32_t c = 0; c < clusters.count(); ++c) {
        ClusterChiSquare cluster = windowClusterChiSquare(state, clusters, c, true);
        cluster.nCore = clusters.nCore[static_cast<size_t>(c)];
        best.offer(cluster);
        if (cluster.z > threshold) {
            writeClusterHeading(report, c + 1);
            for (int32_t k = clusters.begin(c); k < clusters.end(c); ++k) {
                writeClusterMember(state, clusters.members[static_cast<size_t>(k)],
                                   clusters.memberCore[static_cast<size_t>(k)] != 0, report,
                                   windowStart, state.windowSize);
            }
            writeStatistics(report, cluster);
        }
    }
    endReportBlock(report);
    return best.score;
}

}  // namespace orvane
