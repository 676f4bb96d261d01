#include "driver/run.h"

#include "driver/analysis_steps.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "cluster/pattern_clustering.h"
#include "driver/interrupts.h"
#include "driver/result_file.h"
#include "driver/run_record.h"
#include "driver/scan.h"
#include "driver/thread_count.h"
#include "model/analysis_state.h"
#include "model/data_warnings.h"
#include "model/haplotype_file.h"
#include "model/imputation.h"
#include "model/input_error.h"
#include "model/marker_statistics.h"
#include "model/parameter_file.h"
#include "model/parameter_warnings.h"
#include "model/progress.h"
#include "model/scan_warnings.h"
#include "model/text_output.h"
#include "model/warnings.h"
#include "permutation/joint_permutation.h"
#include "permutation/permutation_test.h"
#include "permutation/sequential_stop.h"
#include "scoring/trait_scoring.h"
#include "stats/log_tails.h"

namespace orvane {

namespace {

// Reads every input and checks it; nothing has been written when this throws.
// Returns what the inputs hold that the user should hear of.
Warnings loadInputs(AnalysisState& state, const CommandLine& commandLine,
                    std::vector<SettingValue>& settings) {
    Warnings warnings;
    loadHaplotypeFile(state, commandLine.dataFile, &warnings);
    ReadNotes notes;
    loadParameterFile(state, commandLine.parameterFile, &warnings, &notes);
    settings = settingValues(state, notes);
    readMarkerDistances(state, commandLine.distanceFile ? &*commandLine.distanceFile : nullptr,
                        &warnings);
    if (!commandLine.ignoredArguments.empty()) {
        std::string extra;
        for (const std::string& argument : commandLine.ignoredArguments) extra += " " + argument;
        warnings.add("", 0,
                     std::to_string(3 + commandLine.ignoredArguments.size()) +
                         " arguments: the distance file is read only when it is "
                         "the fourth and last, so none is read (ignored:" + extra +
                         ") and every gap is 0.0001; give exactly four arguments");
    }
    warnings.append(warnAboutWindowSize(state, commandLine.parameterFile, commandLine.dataFile));
    if (state.qtlMode) warnAboutTraits(state, commandLine.dataFile, warnings);
    warnAboutMissingAlleles(state, commandLine.dataFile, warnings);
    // A window wider than the map covers the whole map.
    state.windowSize = std::min(state.windowSize, state.nMarkers);
    return warnings;
}

// The blocks an earlier run left in the result file: one header line each.
int64_t countBlocks(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return 0;
    int64_t blocks = 0;
    char line[32];
    bool atLineStart = true;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (atLineStart && std::strncmp(line, "GeneticDistance\t", 16) == 0) ++blocks;
        atLineStart = std::strchr(line, '\n') != nullptr;
    }
    std::fclose(file);
    return blocks;
}

// What the scan's windows say about the result: no cluster anywhere, or radii
// of 0 derived from windows with too many identical pairs.
void warnAboutClusters(const AnalysisState& state, const ScanCounts& counts, ProgressLine& progress,
                       std::vector<std::string>& printed) {
    const Warnings warnings = warnAboutScan(state, counts);
    if (warnings.messages().empty()) return;
    progress.finish();
    warnings.print(stderr);
    printed.insert(printed.end(), warnings.messages().begin(), warnings.messages().end());
}

// A statistic's maximum over the scan for the run record.
RecordedStatistic recorded(const char* name, const ScanMaximum& maximum, double minusLog10P) {
    RecordedStatistic statistic;
    statistic.name = name;
    statistic.peak = maximum.marker;
    statistic.value = maximum.value;
    statistic.minusLog10P = minusLog10P;
    return statistic;
}

// The permutation p-values of the mode's statistics, in the joint test's order
// (the cluster score first; none where a scheme does not test a statistic),
// the omnibus p of the joint scheme, and the replicates drawn.
struct PermutationOutcome {
    std::vector<std::optional<double>> p;
    std::optional<double> omnibus;
    int32_t drawn = 0;
};

PermutationOutcome runPermutationTest(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                                      const std::vector<std::vector<int32_t>>* carriers,
                                      const std::vector<const ScanMaximum*>& observed, PermutationScheme scheme,
                                      int threads, const ProgressCallback& progress) {
    PermutationOutcome outcome;
    outcome.p.resize(observed.size());
    outcome.drawn = state.nPermutations;
    if (scheme != PermutationScheme::Chained) {
        std::vector<double> regional;
        for (const ScanMaximum* maximum : observed) regional.push_back(maximum->regional);
        const bool adaptive = scheme == PermutationScheme::Adaptive;
        const JointMaxima maxima =
            jointPermutationMaxima(state, clusters, threads, progress, carriers, adaptive ? &regional : nullptr);
        outcome.drawn = static_cast<int32_t>(maxima.byStatistic[0].size());
        // Stopped early: Besag and Clifford's hits over replicates drawn. Else
        // the fixed run's p-values: an adaptive run that draws every replicate
        // is the joint run.
        for (size_t s = 0; s < observed.size(); ++s) {
            outcome.p[s] = maxima.stoppedEarly ? stoppedPValue(maxima.hits[s], outcome.drawn)
                                               : jointPValue(maxima.byStatistic[s], regional[s]);
        }
        outcome.omnibus = omnibusPValue(maxima, regional);
        return outcome;
    }
    // The chained scheme tests the trait's T and Z beside the cluster score,
    // and no single-marker chi-square.
    const bool trait = state.qtlMode != 0;
    PermutationPValues p;
    permutationTest(state, clusters, observed[0]->value, trait ? observed[1]->value : 0.0,
                    trait ? observed[2]->value : 0.0, p, threads, progress);
    outcome.p[0] = p.score;
    if (trait) {
        outcome.p[1] = p.t;
        outcome.p[2] = p.z;
    }
    return outcome;
}

// The line that ends a run on a terminal. The number to report comes first: the
// omnibus p of the joint scheme, the region's p over every statistic; the
// chained scheme has none and gives the cluster score's permutation p.
std::string closingLine(int64_t block, const std::string& resultPath, double predicted, double score,
                        double permutationP, const std::optional<double>& omnibus, int32_t permutations,
                        int32_t drawn, PermutationScheme scheme) {
    std::string line = "wrote block " + std::to_string(block) + " of " + resultPath + ": ";
    if (omnibus) {
        line += "the region's p (omnibus, the one to report) " + formatReal(*omnibus);
        if (drawn < permutations) {
            line += " (" + std::string(schemeName(scheme)) + ", stopped after " + std::to_string(drawn) + " of " +
                    std::to_string(permutations) + " replicates)";
        }
        line += "; ";
    } else if (permutations > 0) {
        line += std::string("cluster score permutation p ") +
                (permutationP > 0.0 ? formatReal(permutationP) : "< 1/" + std::to_string(permutations)) + " (" +
                schemeName(scheme) + ", no region's p); ";
    }
    return line + "predicted position marker " + formatReal(predicted) + ", score " + formatReal(score);
}

}  // namespace

int analyse(AnalysisState& state, const CommandLine& commandLine, int threads, RunRecord& record,
            const char*& step) {
    ProgressLine progress;
    // Only a terminal hears which block of the result file this run writes.
    const std::string resultPath = resultFilePath(commandLine);
    const int64_t block = progress.enabled() ? countBlocks(resultPath) + 1 : 0;
    step = "opening the outputs";
    OutputFile report(clusterReportPath(commandLine), OutputFile::Mode::Truncate);
    std::optional<ResultFile> opened;
    {
        // An interrupt from here on puts the result file back as it was.
        std::lock_guard<std::mutex> held(interrupts::outputLock());
        const std::string& path = resultPath;
        interrupts::watchResultFile(path);
        interrupts::watchFile(path + ".jsonl");
        opened.emplace(path, commandLine.traitMode);
    }
    ResultFile& results = *opened;
    results.guardWrites(interrupts::outputLock());
    results.writeHeader();

    step = "filling missing alleles and computing marker statistics";
    imputeMissingAlleles(state);
    computeMarkerStatistics(state);
    computeLdMatrix(state);

    ScanCounts counts;
    double predicted = 0.0;
    double predictedScore = 0.0;
    double permutationP = 0.0;
    const ProgressCallback permutationProgress = [&](int64_t done, int64_t total) {
        progress.update("permutation test, shuffles", done, total);
    };
    const bool joint = commandLine.permutation != PermutationScheme::Chained;
    PermutationOutcome outcome;
    if (state.qtlMode) {
        TraitSummary summary;
        step = "scanning the markers";
        // The joint test scores every marker's carriers under each replicate: the scan keeps them.
        std::vector<std::vector<int32_t>> carriers;
        std::vector<std::vector<int32_t>>* kept = joint && state.nPermutations > 0 ? &carriers : nullptr;
        const std::vector<WindowClusters> clusters =
            scanTrait(state, threads, report, results, summary, counts, progress, kept);
        warnAboutClusters(state, counts, progress, record.warnings);
        if (state.nPermutations > 0) {
            step = "running the permutation test";
            outcome = runPermutationTest(state, clusters, kept, {&summary.score, &summary.t, &summary.z},
                                         commandLine.permutation,
                                         threads, permutationProgress);
            summary.permutationScore = *outcome.p[kTraitCluster];
            summary.permutationT = *outcome.p[kTraitT];
            summary.permutationZ = *outcome.p[kTraitZ];
        }
        results.traitSummary(summary, state.nHaplotypes);
        // The record's -log10 p are the summary line's, except that they stay
        // finite where its tails underflow (log space).
        const int df = state.nHaplotypes - 2;
        const double scoreLogP = summary.score.value == kNoClusterTraitScore
                                     ? traitScoreMinusLog10P(summary.score.value, state.nHaplotypes)
                                     : tTwoSidedMinusLog10P(summary.score.value, df);
        record.statistics = {recorded("cluster", summary.score, scoreLogP),
                             recorded("T", summary.t, tTwoSidedMinusLog10P(summary.t.value, df)),
                             recorded("Z", summary.z, normalMinusLog10P(summary.z.value))};
        predicted = summary.score.marker;
        predictedScore = summary.score.value;
        permutationP = summary.permutationScore;
    } else {
        CaseControlSummary summary;
        step = "scanning the markers";
        const std::vector<WindowClusters> clusters =
            scanCaseControl(state, threads, report, results, summary, counts, progress);
        warnAboutClusters(state, counts, progress, record.warnings);
        if (state.nPermutations > 0) {
            step = "running the permutation test";
            outcome = runPermutationTest(state, clusters, nullptr, {&summary.score, &summary.chiSquare},
                                         commandLine.permutation,
                                         threads, permutationProgress);
            summary.permutationP = *outcome.p[kCaseControlCluster];
        }
        results.caseControlSummary(summary);
        record.statistics = {
            recorded("cluster", summary.score, chiSquareMinusLog10P(summary.score.value * summary.score.value)),
            recorded("chisq", summary.chiSquare, chiSquareMinusLog10P(summary.chiSquare.value))};
        predicted = summary.score.marker;
        predictedScore = summary.score.value;
        permutationP = summary.permutationP;
    }
    for (size_t s = 0; s < outcome.p.size(); ++s) record.statistics[s].permutationP = outcome.p[s];
    record.omnibusP = outcome.omnibus;
    results.close();
    report.close();
    record.scheme = schemeName(commandLine.permutation);
    record.permutations = state.nPermutations;
    record.replicates = outcome.drawn;
    record.haplotypes = state.nHaplotypes;
    record.markers = state.nMarkers;
    {
        std::lock_guard<std::mutex> held(interrupts::outputLock());
        appendRecord(resultPath + ".jsonl", recordLine(record));
    }
    interrupts::finish();
    progress.conclude(closingLine(block, resultPath, predicted, predictedScore, permutationP, outcome.omnibus,
                                  state.nPermutations, outcome.drawn, commandLine.permutation));
    return 0;
}

int runAnalysis(const CommandLine& commandLine) {
    const char* step = "reading the input files";
    try {
        AnalysisState state;
        state.qtlMode = commandLine.traitMode ? 1 : 0;
        interrupts::nameResultFile(resultFilePath(commandLine));
        if (commandLine.seed) state.random.resume(*commandLine.seed);
        RunRecord record;
        record.command = commandLine.arguments;
        // The program as users call it, not the path this copy was run from.
        if (!record.command.empty()) {
            const size_t slash = record.command[0].rfind('/');
            if (slash != std::string::npos) record.command[0].erase(0, slash + 1);
        }
        record.traitMode = commandLine.traitMode;
        Warnings warnings = loadInputs(state, commandLine, record.parameters);
        // The adaptive scheme's bound replaces the parameter file's count.
        if (commandLine.maxPermutations) state.nPermutations = *commandLine.maxPermutations;
        if (commandLine.strict && !warnings.messages().empty()) {
            // Under --strict what the inputs hold that was probably not meant
            // stops the run before any output is touched.
            warnings.print(stderr, "orvane", "error");
            return 2;
        }
        const ThreadCount threads = chooseThreadCount(
            affinityProcessors(), commandLine.threads ? commandLine.threads->c_str() : std::getenv("ORVANE_THREADS"));
        if (threads.warning) warnings.add("", 0, *threads.warning);
        warnings.print(stderr);
        record.warnings = warnings.messages();
        return analyse(state, commandLine, threads.threads, record, step);
    } catch (const std::bad_alloc&) {
        throw ResourceError(std::string("out of memory while ") + step);
    }
}

}  // namespace orvane
