#include "driver/run.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "cluster/pattern_clustering.h"
#include "cluster/window_distances.h"
#include "driver/result_file.h"
#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/imputation.h"
#include "model/input_error.h"
#include "model/marker_statistics.h"
#include "model/parameter_file.h"
#include "model/text_output.h"
#include "scoring/case_control_scoring.h"
#include "scoring/permutation_test.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"
#include "stats/special_functions.h"

namespace orvane {

namespace {

// Reads every input and checks it; nothing has been written when this throws.
void loadInputs(AnalysisState& state, const CommandLine& commandLine) {
    loadHaplotypeFile(state, commandLine.dataFile);
    loadParameterFile(state, commandLine.parameterFile);
    readMarkerDistances(state, commandLine.distanceFile ? &*commandLine.distanceFile : nullptr);
    // A window wider than the map covers the whole map.
    state.windowSize = std::min(state.windowSize, state.nMarkers);
}

double minusLog10(double p) { return -std::log10(p); }

// The scan: every marker's window clustered and scored, its block appended to the
// report and its line to the result file, in marker order. The clusters are kept
// for the permutation test.
class Scan {
public:
    Scan(AnalysisState& state, OutputFile& report, ResultFile& results)
        : state_(state), report_(report), results_(results), rule_(radiusRuleFor(state)) {
        clusters_.resize(static_cast<size_t>(state.nMarkers));
    }

    void run(CaseControlSummary& summary) {
        for (int32_t i = 0; i < state_.nMarkers; ++i) {
            const int32_t windowStart = clusterMarker(i);
            const double score = scoreWindowCaseControl(state_, clusters_[static_cast<size_t>(i)], i,
                                                         windowStart, report_);
            endBlock();
            summary.score.offer(score, i);
            const double pScore = minusLog10(chisqtail(score * score, 1));
            const double snp = singleMarkerChiSquare(state_, i);
            const double pSnp = snp == 0.0 ? 0.0 : minusLog10(chisqtail(snp, 1));
            summary.chiSquare.offer(snp, i);
            results_.caseControlLine(i, score, pScore, snp, pSnp);
            endLine(i);
        }
    }

    void run(TraitSummary& summary) {
        prepareTraitStatistics(state_);
        for (int32_t i = 0; i < state_.nMarkers; ++i) {
            const int32_t windowStart = clusterMarker(i);
            const double score = scoreWindowTrait(state_, clusters_[static_cast<size_t>(i)], i,
                                                  windowStart, report_);
            endBlock();
            summary.score.offer(score, i);
            const double pScore = minusLog10(tdisttail(score, state_.nHaplotypes - 2));
            const TraitTests tests = singleMarkerTraitTests(state_, i);
            results_.traitLine(i, score, pScore, tests);
            summary.t.offer(tests.t, i);
            summary.z.offer(tests.z, i);
            endLine(i);
        }
    }

    const std::vector<WindowClusters>& clusters() const { return clusters_; }

private:
    int32_t clusterMarker(int32_t i) {
        clusterer_.cluster(state_, rule_, i, clusters_[static_cast<size_t>(i)]);
        return windowStartOf(i, state_.windowSize, state_.nMarkers);
    }
    void endBlock() { report_.flush(); }
    void endLine(int32_t i) {
        const bool last = i + 1 == state_.nMarkers;
        if (!last) cumulativeDistance_ += state_.markerDistances[static_cast<size_t>(i)];
        results_.endMarkerLine(!last, cumulativeDistance_);
    }

    AnalysisState& state_;
    OutputFile& report_;
    ResultFile& results_;
    const RadiusRule rule_;
    WindowClusterer clusterer_;
    std::vector<WindowClusters> clusters_;
    double cumulativeDistance_ = 0.0;
};

}  // namespace

int runAnalysis(const CommandLine& commandLine) {
    AnalysisState state;
    state.qtlMode = commandLine.traitMode ? 1 : 0;
    loadInputs(state, commandLine);

    OutputFile report("output", OutputFile::Mode::Truncate);
    ResultFile results(commandLine.dataFile + "-results", commandLine.traitMode);
    results.writeHeader();

    imputeMissingAlleles(state);
    computeMarkerStatistics(state);
    computeLdMatrix(state);

    Scan scan(state, report, results);
    if (state.qtlMode) {
        TraitSummary summary;
        scan.run(summary);
        if (state.nPermutations > 0) {
            PermutationPValues p;
            permutationTest(state, scan.clusters(), summary.score.value, summary.t.value,
                            summary.z.value, p);
            summary.permutationScore = p.score;
            summary.permutationT = p.t;
            summary.permutationZ = p.z;
        }
        results.traitSummary(summary, state.nHaplotypes);
    } else {
        CaseControlSummary summary;
        scan.run(summary);
        if (state.nPermutations > 0) {
            PermutationPValues p;
            permutationTest(state, scan.clusters(), summary.score.value, 0.0, 0.0, p);
            summary.permutationP = p.score;
        }
        results.caseControlSummary(summary);
    }
    results.close();
    report.close();
    return 0;
}

}  // namespace orvane
