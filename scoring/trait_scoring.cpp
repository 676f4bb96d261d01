#include "scoring/trait_scoring.h"

#include <cmath>

#include "scoring/cluster_report.h"

namespace orvane {

void prepareTraitStatistics(AnalysisState& state) {
    state.traitMean = 0.0;
    state.traitSumOfSquares = 0.0;
    for (const HaplotypeRecord& record : state.haplotypes) {
        state.traitMean += record.trait;
        state.traitSumOfSquares += record.trait * record.trait;
    }
    state.traitMean /= static_cast<double>(state.haplotypes.size());
}

double clusterTStatistic(const AnalysisState& state, const std::set<int32_t>& members,
                         int32_t& nCore, double& mean, double& variance) {
    double sum = 0.0;
    double sumOfSquares = 0.0;
    for (const int32_t h : members) {
        const HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
        sum += record.trait;
        sumOfSquares += record.trait * record.trait;
        if (record.isCore) ++nCore;
    }
    const double total = static_cast<double>(state.nHaplotypes);
    const double n = static_cast<double>(members.size());
    const double outside = total - n;
    const double meanOut = (total * state.traitMean - sum) / outside;
    const double inv = 1.0 / n;
    const double meanIn = sum * inv;
    const double ssIn = sumOfSquares - (n * meanIn) * meanIn;
    const double ssOut = (state.traitSumOfSquares - sumOfSquares) - (outside * meanOut) * meanOut;
    mean = meanIn;
    variance = inv * ssIn;
    return std::sqrt((total - 2.0) * n * outside / total) * (meanIn - meanOut) /
           std::sqrt(ssOut + ssIn);
}

double scoreClustersTrait(const AnalysisState& state, OutputFile& report, int32_t centre) {
    beginReportBlock(report, centre);
    const double threshold = static_cast<double>(state.reportThreshold);
    double best = kNoClusterTraitScore;
    for (const auto& [id, members] : state.clusterMembers) {
        int32_t nCore = 0;
        double mean = 0.0;
        double variance = 0.0;
        const double t = clusterTStatistic(state, members, nCore, mean, variance);
        if (t > best) best = t;
        if (t > threshold) {
            writeClusterHeading(report, id);
            writeClusterMembers(state, members, report);
            report << "T_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n";
            report << t << '\t' << static_cast<int64_t>(members.size()) << '\t' << nCore << '\t'
                   << mean << '\t' << variance << '\n';
            report.flush();
        }
    }
    endReportBlock(report);
    return best;
}

double traitWindowScore(const AnalysisState& state) {
    double best = kNoClusterTraitScore;
    for (const auto& entry : state.clusterMembers) {
        int32_t nCore = 0;
        double mean = 0.0;
        double variance = 0.0;
        const double t = clusterTStatistic(state, entry.second, nCore, mean, variance);
        if (t > best) best = t;
    }
    return best;
}

}  // namespace orvane
