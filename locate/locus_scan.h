// The statistics of one scan, kept per marker rather than written: the cluster
// score of every window and the single-marker tests, computed exactly as the
// main analysis computes them, so that the observed scan here and orvane's
// result file agree, and a bootstrap replicate costs one scan.
#pragma once

#include <cstdint>
#include <vector>

#include "model/analysis_state.h"
#include "model/scan_warnings.h"

namespace orvane {

enum class Statistic { Cluster, ChiSquare, T, Z };

// Names used in the output files: cluster, chisq, T, Z.
const char* statisticName(Statistic statistic);
// The statistics of a mode: cluster and chisq; or cluster, T and Z.
std::vector<Statistic> statisticsOf(bool traitMode);
bool isSingleMarker(Statistic statistic);

struct LocusScores {
    std::vector<double> cluster;    // the marker's cluster score (Z or Q-score)
    std::vector<double> chiSquare;  // single-gene mode
    std::vector<double> t;          // trait mode: pooled t of allele-1 carriers
    std::vector<double> z;          // trait mode: Mann-Whitney normal score
    // Variance of the single-marker effect estimate: of the log odds ratio of
    // allele 1 (single-gene mode), or of the carriers' mean difference in units
    // of the trait's standard deviation; infinite at a marker without both alleles.
    std::vector<double> effectVariance;
    // What the windows were like, for the same scan warnings as orvane's.
    ScanCounts counts;

    const std::vector<double>& values(Statistic statistic) const;
};

// The evidence of each marker for ranking: the signed square of the cluster
// score (a negative score points away; a trait window without any cluster
// counts 0, as a case/control window without a scoring cluster does), the
// chi-square, the square of T or Z (which allele is coded 1 is arbitrary, so
// either direction counts).
std::vector<double> evidenceOf(const LocusScores& scores, Statistic statistic);

// The predicted position: the marker of the largest evidence, ties to the later
// marker as in the result file's summary; marker 0 when none is a number.
int32_t peakOf(const std::vector<double>& evidence);

// Marker frequencies, pair frequencies and |D'| of the state's current
// haplotypes (after imputation); needed before every scan.
void prepareMarkerStatistics(AnalysisState& state);

// Clusters and scores every window, markers spread over `threads` threads. The
// state must have its marker statistics prepared; trait totals are set here.
// effectVariance is filled only `withEffectVariance` (the credible sets need
// it, a bootstrap replicate's peaks do not; left infinite otherwise).
LocusScores scanLocus(AnalysisState& state, int threads, bool withEffectVariance = true);

}  // namespace orvane
