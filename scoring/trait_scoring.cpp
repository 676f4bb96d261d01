#include "scoring/trait_scoring.h"

#include <cmath>

#include "scoring/cluster_report.h"
#include "stats/distribution_tails.h"

namespace orvane {

double traitScoreMinusLog10P(double score, int32_t nHaplotypes) {
    if (score == kNoClusterTraitScore) return -std::log10(1.0);
    return -std::log10(tdisttail(score, nHaplotypes - 2));
}

namespace {

void writeStatistics(TextBuffer& report, double t, int64_t n, int64_t nCore, double mean,
                     double variance) {
    report << "T_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n";
    report << t << '\t' << n << '\t' << nCore << '\t' << mean << '\t' << variance << '\n';
}

}  // namespace

void prepareTraitStatistics(AnalysisState& state) {
    state.traitMean = 0.0;
    state.traitSumOfSquares = 0.0;
    for (const HaplotypeRecord& record : state.haplotypes) {
        state.traitMean += record.trait;
        state.traitSumOfSquares += record.trait * record.trait;
    }
    state.traitMean /= static_cast<double>(state.haplotypes.size());
}

double traitTFromSums(const AnalysisState& state, int64_t n, double sum, double sumOfSquares,
                      double& mean, double& variance) {
    const double total = static_cast<double>(state.nHaplotypes);
    const double size = static_cast<double>(n);
    const double outside = total - size;
    const double meanOut = (total * state.traitMean - sum) / outside;
    const double inv = 1.0 / size;
    const double meanIn = sum * inv;
    const double ssIn = sumOfSquares - (size * meanIn) * meanIn;
    const double ssOut = (state.traitSumOfSquares - sumOfSquares) - (outside * meanOut) * meanOut;
    mean = meanIn;
    variance = inv * ssIn;
    return std::sqrt((total - 2.0) * size * outside / total) * (meanIn - meanOut) /
           std::sqrt(ssOut + ssIn);
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
    return traitTFromSums(state, static_cast<int64_t>(members.size()), sum, sumOfSquares, mean,
                          variance);
}

double scoreClustersTrait(const AnalysisState& state, TextBuffer& report, int32_t centre) {
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
            writeStatistics(report, t, static_cast<int64_t>(members.size()), nCore, mean, variance);
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

double windowClusterT(const AnalysisState& state, const WindowClusters& clusters, int32_t c,
                      double& mean, double& variance) {
    double sum = 0.0;
    double sumOfSquares = 0.0;
    for (int32_t k = clusters.begin(c); k < clusters.end(c); ++k) {
        const double x = state.haplotypes[static_cast<size_t>(clusters.members[static_cast<size_t>(k)])].trait;
        sum += x;
        sumOfSquares += x * x;
    }
    return traitTFromSums(state, clusters.end(c) - clusters.begin(c), sum, sumOfSquares, mean, variance);
}

double scoreWindowTrait(const AnalysisState& state, const WindowClusters& clusters, int32_t centre,
                        int32_t windowStart, TextBuffer& report) {
    beginReportBlock(report, centre);
    const double threshold = static_cast<double>(state.reportThreshold);
    double best = kNoClusterTraitScore;
    for (int32_t c = 0; c < clusters.count(); ++c) {
        const int64_t n = clusters.end(c) - clusters.begin(c);
        double mean = 0.0;
        double variance = 0.0;
        const double t = windowClusterT(state, clusters, c, mean, variance);
        if (t > best) best = t;
        if (t > threshold) {
            writeClusterHeading(report, c + 1);
            for (int32_t k = clusters.begin(c); k < clusters.end(c); ++k) {
                writeClusterMember(state, clusters.members[static_cast<size_t>(k)],
                                   clusters.memberCore[static_cast<size_t>(k)] != 0, report,
                                   windowStart, state.windowSize);
            }
            writeStatistics(report, t, n, clusters.nCore[static_cast<size_t>(c)], mean, variance);
        }
    }
    endReportBlock(report);
    return best;
}

}  // namespace orvane
