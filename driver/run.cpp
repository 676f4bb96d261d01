#include "driver/run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "cluster/pattern_clustering.h"
#include "driver/progress.h"
#include "driver/result_file.h"
#include "driver/scan.h"
#include "driver/thread_count.h"
#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/imputation.h"
#include "model/input_error.h"
#include "model/marker_statistics.h"
#include "model/parameter_file.h"
#include "model/text_output.h"
#include "scoring/permutation_test.h"

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

// The run's steps after the inputs are checked; `step` names the one under way,
// so that memory the run cannot get is reported with what it was needed for.
int analyse(AnalysisState& state, const CommandLine& commandLine, const char*& step) {
    step = "opening the outputs";
    OutputFile report("output", OutputFile::Mode::Truncate);
    ResultFile results(commandLine.dataFile + "-results", commandLine.traitMode);
    results.writeHeader();

    step = "filling missing alleles and computing marker statistics";
    imputeMissingAlleles(state);
    computeMarkerStatistics(state);
    computeLdMatrix(state);

    const ThreadCount threadCount =
        chooseThreadCount(affinityProcessors(), std::getenv("ORVANE_THREADS"));
    if (threadCount.warning) std::fprintf(stderr, "orvane: warning: %s\n", threadCount.warning->c_str());
    const int threads = threadCount.threads;
    ProgressLine progress;
    const PermutationProgress permutationProgress = [&](int64_t done, int64_t total) {
        progress.update("permutation test, shuffles", done, total);
    };
    if (state.qtlMode) {
        TraitSummary summary;
        step = "scanning the markers";
        const std::vector<WindowClusters> clusters =
            scanTrait(state, threads, report, results, summary, progress);
        if (state.nPermutations > 0) {
            step = "running the permutation test";
            PermutationPValues p;
            permutationTest(state, clusters, summary.score.value, summary.t.value,
                            summary.z.value, p, threads, permutationProgress);
            summary.permutationScore = p.score;
            summary.permutationT = p.t;
            summary.permutationZ = p.z;
        }
        results.traitSummary(summary, state.nHaplotypes);
    } else {
        CaseControlSummary summary;
        step = "scanning the markers";
        const std::vector<WindowClusters> clusters =
            scanCaseControl(state, threads, report, results, summary, progress);
        if (state.nPermutations > 0) {
            step = "running the permutation test";
            PermutationPValues p;
            permutationTest(state, clusters, summary.score.value, 0.0, 0.0, p, threads,
                            permutationProgress);
            summary.permutationP = p.score;
        }
        results.caseControlSummary(summary);
    }
    progress.finish();
    results.close();
    report.close();
    return 0;
}

}  // namespace

int runAnalysis(const CommandLine& commandLine) {
    const char* step = "reading the input files";
    try {
        AnalysisState state;
        state.qtlMode = commandLine.traitMode ? 1 : 0;
        loadInputs(state, commandLine);
        return analyse(state, commandLine, step);
    } catch (const std::bad_alloc&) {
        throw ResourceError(std::string("out of memory while ") + step);
    }
}

}  // namespace orvane
