#include "driver/run.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "cluster/cluster_window.h"
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

void allocateWindowDistances(AnalysisState& state) {
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    const size_t pairs = n * (n - 1) / 2;
    try {
        state.haplotypeDistances.assign(pairs, 0.0);
    } catch (const std::exception&) {  // bad_alloc, or length_error beyond the address space
        throw OutputError("cannot allocate " + std::to_string(pairs * sizeof(double)) +
                          " bytes for the distances of " + std::to_string(n) + " haplotypes");
    }
}

double minusLog10(double p) { return -std::log10(p); }

void scanCaseControl(AnalysisState& state, OutputFile& report, ResultFile& results,
                     CaseControlSummary& summary) {
    double cumulativeDistance = 0.0;
    for (int32_t i = 0; i < state.nMarkers; ++i) {
        clusterWindow(state, i);
        const double score = scoreClustersCaseControl(state, report, i);
        summary.score.offer(score, i);
        const double pScore = minusLog10(chisqtail(score * score, 1));
        const double snp = singleMarkerChiSquare(state, i);
        const double pSnp = snp == 0.0 ? 0.0 : minusLog10(chisqtail(snp, 1));
        summary.chiSquare.offer(snp, i);
        results.caseControlLine(i, score, pScore, snp, pSnp);
        const bool last = i + 1 == state.nMarkers;
        if (!last) cumulativeDistance += state.markerDistances[static_cast<size_t>(i)];
        results.endMarkerLine(!last, cumulativeDistance);
    }
}

void scanTrait(AnalysisState& state, OutputFile& report, ResultFile& results,
               TraitSummary& summary) {
    double cumulativeDistance = 0.0;
    for (int32_t i = 0; i < state.nMarkers; ++i) {
        clusterWindow(state, i);
        prepareTraitStatistics(state);
        const double score = scoreClustersTrait(state, report, i);
        summary.score.offer(score, i);
        const double pScore = minusLog10(tdisttail(score, state.nHaplotypes - 2));
        const TraitTests tests = singleMarkerTraitTests(state, i);
        results.traitLine(i, score, pScore, tests);
        summary.t.offer(tests.t, i);
        summary.z.offer(tests.z, i);
        const bool last = i + 1 == state.nMarkers;
        if (!last) cumulativeDistance += state.markerDistances[static_cast<size_t>(i)];
        results.endMarkerLine(!last, cumulativeDistance);
    }
}

}  // namespace

int runAnalysis(const CommandLine& commandLine) {
    AnalysisState state;
    state.qtlMode = commandLine.traitMode ? 1 : 0;
    loadInputs(state, commandLine);
    allocateWindowDistances(state);

    OutputFile report("output", OutputFile::Mode::Truncate);
    ResultFile results(commandLine.dataFile + "-results", commandLine.traitMode);
    results.writeHeader();

    imputeMissingAlleles(state);
    computeMarkerStatistics(state);
    computeLdMatrix(state);

    if (state.qtlMode) {
        TraitSummary summary;
        scanTrait(state, report, results, summary);
        if (state.nPermutations > 0) {
            PermutationPValues p;
            permutationTest(state, summary.score.value, summary.t.value, summary.z.value, p);
            summary.permutationScore = p.score;
            summary.permutationT = p.t;
            summary.permutationZ = p.z;
        }
        results.traitSummary(summary, state.nHaplotypes);
    } else {
        CaseControlSummary summary;
        scanCaseControl(state, report, results, summary);
        if (state.nPermutations > 0) {
            PermutationPValues p;
            permutationTest(state, summary.score.value, 0.0, 0.0, p);
            summary.permutationP = p.score;
        }
        results.caseControlSummary(summary);
    }
    results.close();
    report.close();
    return 0;
}

}  // namespace orvane
