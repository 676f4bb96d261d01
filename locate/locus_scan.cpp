#include "locate/locus_scan.h"

#include <cmath>
#include <limits>
#include <memory>

#include "cluster/pattern_clustering.h"
#include "locate/parallel_for.h"
#include "model/marker_statistics.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The window score as scoreWindowCaseControl computes it, without the report
// and the clusters' p-values.
double caseControlScore(const AnalysisState& state, const WindowClusters& clusters) {
    CaseControlBest best;
    for (int32_t c = 0; c < clusters.count(); ++c) best.offer(windowClusterChiSquare(state, clusters, c, false));
    return best.score;
}

// The window score as scoreWindowTrait computes it, without the report.
double traitScore(const AnalysisState& state, const WindowClusters& clusters) {
    double best = kNoClusterTraitScore;
    for (int32_t c = 0; c < clusters.count(); ++c) {
        double mean = 0.0;
        double variance = 0.0;
        const double t = windowClusterT(state, clusters, c, mean, variance);
        if (t > best) best = t;
    }
    return best;
}

// Woolf's variance of the log odds ratio of allele 1 between cases and controls,
// with a half added to every cell when one is empty.
double logOddsVariance(const AnalysisState& state, int32_t m) {
    double cell[4] = {0.0, 0.0, 0.0, 0.0};  // case carrier, case other, control carrier, control other
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        const int status = state.haplotypes[static_cast<size_t>(h)].status == 1 ? 0 : 2;
        cell[status + (state.allele(h, m) == 1 ? 0 : 1)] += 1.0;
    }
    if (cell[0] + cell[2] == 0.0 || cell[1] + cell[3] == 0.0) return kInfinity;
    const bool empty = cell[0] == 0.0 || cell[1] == 0.0 || cell[2] == 0.0 || cell[3] == 0.0;
    double v = 0.0;
    for (const double c : cell) v += 1.0 / (c + (empty ? 0.5 : 0.0));
    return v;
}

double meanDifferenceVariance(int64_t carriers, int64_t total) {
    if (carriers == 0 || carriers == total) return kInfinity;
    return 1.0 / static_cast<double>(carriers) + 1.0 / static_cast<double>(total - carriers);
}

}  // namespace

const char* statisticName(Statistic statistic) {
    switch (statistic) {
        case Statistic::Cluster: return "cluster";
        case Statistic::ChiSquare: return "chisq";
        case Statistic::T: return "T";
        case Statistic::Z: return "Z";
    }
    return "";
}

std::vector<Statistic> statisticsOf(bool traitMode) {
    if (traitMode) return {Statistic::Cluster, Statistic::T, Statistic::Z};
    return {Statistic::Cluster, Statistic::ChiSquare};
}

bool isSingleMarker(Statistic statistic) { return statistic != Statistic::Cluster; }

const std::vector<double>& LocusScores::values(Statistic statistic) const {
    switch (statistic) {
        case Statistic::Cluster: return cluster;
        case Statistic::ChiSquare: return chiSquare;
        case Statistic::T: return t;
        case Statistic::Z: break;
    }
    return z;
}

std::vector<double> evidenceOf(const LocusScores& scores, Statistic statistic) {
    const std::vector<double>& values = scores.values(statistic);
    std::vector<double> evidence(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        const double v = values[k];
        switch (statistic) {
            case Statistic::Cluster:
                // A trait window without any cluster says nothing either way, like
                // a case/control window whose score is 0.
                evidence[k] = v == kNoClusterTraitScore ? 0.0 : v < 0.0 ? -v * v : v * v;
                break;
            case Statistic::ChiSquare: evidence[k] = v; break;
            case Statistic::T:
            case Statistic::Z: evidence[k] = v * v; break;
        }
        if (std::isnan(evidence[k])) evidence[k] = -kInfinity;
    }
    return evidence;
}

int32_t peakOf(const std::vector<double>& evidence) {
    int32_t peak = 0;
    double best = -kInfinity;
    for (size_t k = 0; k < evidence.size(); ++k) {
        if (evidence[k] >= best && evidence[k] > -kInfinity) {
            best = evidence[k];
            peak = static_cast<int32_t>(k);
        }
    }
    return peak;
}

void prepareMarkerStatistics(AnalysisState& state) {
    computeMarkerStatistics(state);
    computeLdMatrix(state);
}

LocusScores scanLocus(AnalysisState& state, int threads, bool withEffectVariance) {
    const size_t markers = static_cast<size_t>(state.nMarkers);
    LocusScores scores;
    scores.cluster.assign(markers, 0.0);
    scores.effectVariance.assign(markers, kInfinity);
    const bool trait = state.qtlMode != 0;
    std::vector<uint32_t> index;
    std::unique_ptr<TraitRanks> ranks;
    if (trait) {
        scores.t.assign(markers, 0.0);
        scores.z.assign(markers, 0.0);
        prepareTraitStatistics(state);
        ranks = std::make_unique<TraitRanks>(state, index);
    } else {
        scores.chiSquare.assign(markers, 0.0);
    }
    const RadiusRule rule = radiusRuleFor(state);
    struct Scratch {
        WindowClusterer clusterer;
        WindowClusters clusters;
        std::vector<int32_t> carriers;
        std::vector<int64_t> ranked;
    };
    std::vector<Scratch> scratch(static_cast<size_t>(threads < 1 ? 1 : threads));
    // Per marker, so that the workers share nothing they write.
    std::vector<char> zeroRadius(markers, 0);
    const AnalysisState& scanned = state;
    parallelFor(threads, state.nMarkers, [&](int32_t m, int worker) {
        Scratch& own = scratch[static_cast<size_t>(worker)];
        const size_t k = static_cast<size_t>(m);
        own.clusterer.cluster(scanned, rule, m, own.clusters);
        zeroRadius[k] = rule.derived && own.clusterer.epsilon() == 0.0;
        if (trait) {
            scores.cluster[k] = traitScore(scanned, own.clusters);
            carriersOf(scanned, m, own.carriers);
            // Zero on entry and on return of every use, so sized once.
            if (own.ranked.size() != static_cast<size_t>(scanned.nHaplotypes)) {
                own.ranked.assign(static_cast<size_t>(scanned.nHaplotypes), 0);
            }
            const TraitTests tests = rankedTraitTests(scanned, *ranks, index.data(), own.carriers, own.ranked);
            scores.t[k] = tests.t;
            scores.z[k] = tests.z;
            if (withEffectVariance) {
                scores.effectVariance[k] =
                    meanDifferenceVariance(static_cast<int64_t>(own.carriers.size()), scanned.nHaplotypes);
            }
        } else {
            scores.cluster[k] = caseControlScore(scanned, own.clusters);
            scores.chiSquare[k] = singleMarkerChiSquare(scanned, m);
            // A pass over every haplotype at the marker: skipped where unused.
            if (withEffectVariance) scores.effectVariance[k] = logOddsVariance(scanned, m);
        }
    });
    // As orvane counts them: a window scored without any cluster scores the
    // no-cluster score.
    const double noCluster = trait ? kNoClusterTraitScore : 0.0;
    scores.counts.windows = state.nMarkers;
    for (size_t k = 0; k < markers; ++k) {
        scores.counts.withoutCluster += scores.cluster[k] == noCluster;
        scores.counts.zeroRadius += zeroRadius[k];
    }
    return scores;
}

}  // namespace orvane
