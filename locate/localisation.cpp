#include "locate/localisation.h"

#include "locate/bootstrap.h"
#include "locate/support_calibration.h"
#include "model/imputation.h"
#include "model/text_output.h"

namespace orvane {

namespace {

std::vector<double> cumulativeCm(const AnalysisState& state) {
    // Summed in Morgans in marker order, as the result file's GeneticDistance.
    std::vector<double> cm(static_cast<size_t>(state.nMarkers), 0.0);
    double morgans = 0.0;
    for (int32_t m = 1; m < state.nMarkers; ++m) {
        morgans += state.markerDistances[static_cast<size_t>(m - 1)];
        cm[static_cast<size_t>(m)] = morgans * 100.0;
    }
    return cm;
}

IntervalRow rowFromWeights(Statistic statistic, const char* construction,
                           std::vector<double> weights, double level, int32_t holding = -1) {
    IntervalRow row;
    row.statistic = statistic;
    row.construction = construction;
    row.run = shortestRunHolding(weights, level, holding);
    row.weights = std::move(weights);
    return row;
}

IntervalRow credibleRow(Statistic statistic, const LocusScores& scores, bool traitMode,
                        double level) {
    const std::vector<double>& values = scores.values(statistic);
    const double prior = traitMode ? kTraitPriorVariance : kCaseControlPriorVariance;
    std::vector<double> logFactors(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        // The chi-square is already a squared normal score.
        const double z2 = statistic == Statistic::ChiSquare ? values[k] : values[k] * values[k];
        logFactors[k] = logWakefieldFactor(z2, scores.effectVariance[k], prior);
    }
    IntervalRow row;
    row.statistic = statistic;
    row.construction = "credible";
    row.weights = posteriorFromLogFactors(logFactors);
    row.run = credibleSpan(row.weights, level);
    return row;
}

}  // namespace

Localisation locate(AnalysisState& state, const LocateOptions& options, int threads) {
    const bool trait = state.qtlMode != 0;
    imputeMissingAlleles(state);
    prepareMarkerStatistics(state);
    const LocusScores scores = scanLocus(state, threads);
    const std::vector<Statistic> statistics = statisticsOf(trait);
    std::vector<std::vector<int32_t>> replicatePeaks;
    if (options.bootstrap) replicatePeaks = bootstrapPeaks(state, options.replicates, options.seed, threads);

    Localisation result;
    result.cm = cumulativeCm(state);
    result.counts = scores.counts;
    for (size_t s = 0; s < statistics.size(); ++s) {
        const Statistic statistic = statistics[s];
        const std::vector<double> evidence = evidenceOf(scores, statistic);
        // Without any cluster every cluster score is the same convention: no
        // peak, and an interval over it would only look like one.
        const bool defined = statistic != Statistic::Cluster || !scores.counts.noClusterAnywhere();
        const int32_t peak = peakOf(evidence);
        result.peaks.push_back(defined ? peak : -1);
        if (options.support) {
            result.rows.push_back(rowFromWeights(statistic, "support",
                                                 supportWeights(evidence, supportScale(statistic, trait)),
                                                 options.level, peak));
            result.rows.back().defined = defined;
        }
        if (options.bootstrap) {
            result.rows.push_back(rowFromWeights(statistic, "bootstrap",
                                                 peakShares(replicatePeaks[s], state.nMarkers),
                                                 options.level));
            result.rows.back().defined = defined;
        }
        if (isSingleMarker(statistic)) result.rows.push_back(credibleRow(statistic, scores, trait, options.level));
    }
    return result;
}

std::string locationTable(const Localisation& result) {
    TextBuffer text;
    text << "marker\tcm";
    for (const IntervalRow& row : result.rows) text << '\t' << statisticName(row.statistic) << '_' << row.construction;
    text << '\n';
    for (size_t m = 0; m < result.cm.size(); ++m) {
        text << static_cast<int32_t>(m) << '\t' << result.cm[m];
        for (const IntervalRow& row : result.rows) {
            if (row.defined) {
                text << '\t' << row.weights[m];
            } else {
                text << "\tNA";
            }
        }
        text << '\n';
    }
    return text.text();
}

std::string intervalTable(const Localisation& result, double level) {
    TextBuffer text;
    text << "statistic\tconstruction\tlevel\tfirst_marker\tlast_marker\tfirst_cm\tlast_cm\tmarkers\twidth_cm\n";
    for (const IntervalRow& row : result.rows) {
        if (!row.defined) {
            text << statisticName(row.statistic) << '\t' << row.construction << '\t' << level
                 << "\tNA\tNA\tNA\tNA\tNA\tNA\n";
            continue;
        }
        const double first = result.cm[static_cast<size_t>(row.run.first)];
        const double last = result.cm[static_cast<size_t>(row.run.last)];
        text << statisticName(row.statistic) << '\t' << row.construction << '\t' << level << '\t'
             << row.run.first << '\t' << row.run.last << '\t' << first << '\t' << last << '\t'
             << row.run.markers() << '\t' << last - first << '\n';
    }
    return text.text();
}

std::string summaryLines(const Localisation& result, bool traitMode, double level) {
    TextBuffer text;
    const std::vector<Statistic> statistics = statisticsOf(traitMode);
    for (size_t s = 0; s < statistics.size(); ++s) {
        text << "orvane-locate: " << statisticName(statistics[s]);
        if (result.peaks[s] < 0) {
            text << ": no peak and no interval (no window formed a cluster)\n";
            continue;
        }
        text << ": peak at marker " << result.peaks[s];
        for (const IntervalRow& row : result.rows) {
            if (row.statistic != statistics[s]) continue;
            const double width = result.cm[static_cast<size_t>(row.run.last)] -
                                 result.cm[static_cast<size_t>(row.run.first)];
            text << "; " << row.construction << ' ' << level << ": markers " << row.run.first << '-'
                 << row.run.last << " (" << row.run.markers()
                 << (row.run.markers() == 1 ? " marker, " : " markers, ") << width << " cM)";
        }
        text << '\n';
    }
    return text.text();
}

}  // namespace orvane
