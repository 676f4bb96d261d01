#include "driver/memory_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cluster/pattern_clustering.h"
#include "driver/result_file.h"
#include "driver/run_record.h"
#include "driver/scan.h"
#include "driver/thread_count.h"
#include "model/analysis_state.h"
#include "model/data_warnings.h"
#include "model/imputation.h"
#include "model/input_error.h"
#include "model/marker_statistics.h"
#include "model/parameter_file.h"
#include "model/parameter_warnings.h"
#include "model/progress.h"
#include "model/scan_warnings.h"
#include "model/text_output.h"
#include "model/warnings.h"
#include "scoring/joint_permutation.h"
#include "scoring/permutation_test.h"

namespace orvane {

namespace {

// The names input errors and warnings give the arrays, where the command line
// names its files.
const char* const kAlleles = "alleles";
const char* const kPhenotype = "phenotype";
const char* const kParameters = "parameters";
const char* const kDistances = "distances";

std::string quotedValue(double value) { return "'" + formatReal(value) + "'"; }

// The data file reader's state and checks, from the arrays.
void loadArrays(AnalysisState& state, const MemoryInputs& in, Warnings& warnings) {
    if (in.haplotypes == 0) throw InputError(kAlleles, 0, "no haplotype line after the header");
    if (in.markers == 0) throw InputError(kAlleles, 0, "the first haplotype line has no allele");
    if (in.phenotypeLength != in.haplotypes) {
        throw InputError(kPhenotype, 0,
                         std::to_string(in.phenotypeLength) + " values for " + std::to_string(in.haplotypes) +
                             " haplotypes (rows of the alleles): one value per haplotype");
    }
    if (in.haplotypes > std::numeric_limits<int32_t>::max() || in.markers > std::numeric_limits<int32_t>::max()) {
        throw InputError(kAlleles, 0, "more haplotypes or markers than a 32-bit count holds");
    }
    state.haplotypes.assign(static_cast<size_t>(in.haplotypes), HaplotypeRecord());
    state.alleles.resize(static_cast<size_t>(in.haplotypes * in.markers));
    state.nAffected = 0;
    state.nUnaffected = 0;
    for (int64_t h = 0; h < in.haplotypes; ++h) {
        HaplotypeRecord& record = state.haplotypes[static_cast<size_t>(h)];
        record.identifier = static_cast<int32_t>(h + 1);  // as orvane-vcf numbers them
        const double value = in.phenotype[h];
        if (state.qtlMode) {
            // The data file's trait is read as a float.
            const float trait = static_cast<float>(value);
            if (!std::isfinite(trait)) {
                throw InputError(kPhenotype, 0, "value " + std::to_string(h) + ": trait value " +
                                                    quotedValue(value) + " is not a finite decimal number");
            }
            record.trait = static_cast<double>(trait);
        } else if (value != 0.0) {
            record.status = 1;
            ++state.nAffected;
        } else {
            ++state.nUnaffected;
        }
        for (int64_t k = 0; k < in.markers; ++k) {
            const int64_t code = in.alleles[h * in.markers + k];
            if (code < std::numeric_limits<int32_t>::min() || code > std::numeric_limits<int32_t>::max()) {
                throw InputError(kAlleles, 0, "row " + std::to_string(h) + ": allele '" + std::to_string(code) +
                                                  "' of marker " + std::to_string(k + 1) +
                                                  " is not a 32-bit integer");
            }
            state.alleles[static_cast<size_t>(h * in.markers + k)] = static_cast<int32_t>(code);
        }
    }
    state.nHaplotypes = static_cast<int32_t>(in.haplotypes);
    state.nMarkers = static_cast<int32_t>(in.markers);
    if (!state.qtlMode) warnAboutStatuses(state, {}, kPhenotype, warnings);
}

// The distance file reader's checks, from the gaps in cM.
void loadDistances(AnalysisState& state, const MemoryInputs& in, Warnings& warnings) {
    const size_t gaps = static_cast<size_t>(state.nMarkers - 1);
    if (!in.distances) {
        state.markerDistances.assign(gaps, 0.0001);
        return;
    }
    const std::vector<double>& given = *in.distances;
    state.markerDistances.assign(gaps, 0.0);
    warnAboutDistanceCount(kDistances, given.size(), gaps, warnings);
    for (size_t k = 0; k < gaps && k < given.size(); ++k) {
        const float value = static_cast<float>(given[k]);
        if (!std::isfinite(value)) {
            throw InputError(kDistances, 0, "distance " + std::to_string(k + 1) + " " + quotedValue(given[k]) +
                                                " is not a finite decimal number");
        }
        if (value < 0.0f) {
            throw InputError(kDistances, 0, "distance " + std::to_string(k + 1) + " " + quotedValue(given[k]) +
                                                " is negative");
        }
        state.markerDistances[k] = static_cast<double>(value) * 0.01;
    }
}

RecordedStatistic recorded(const char* name, const ScanMaximum& maximum, double minusLog10P) {
    RecordedStatistic statistic;
    statistic.name = name;
    statistic.peak = maximum.marker;
    statistic.value = maximum.value;
    statistic.minusLog10P = minusLog10P;
    return statistic;
}

// The permutation p-values of the mode's statistics (cluster score first) and
// the joint scheme's omnibus p, as the command line's run computes them.
void permutationPValues(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                        const std::vector<std::vector<int32_t>>* carriers,
                        const std::vector<const ScanMaximum*>& observed, bool joint, int threads,
                        RunRecord& record) {
    const ProgressCallback quiet = [](int64_t, int64_t) {};
    if (joint) {
        const JointMaxima maxima = jointPermutationMaxima(state, clusters, threads, quiet, carriers);
        std::vector<double> regional;
        for (size_t s = 0; s < observed.size(); ++s) {
            regional.push_back(observed[s]->regional);
            record.statistics[s].permutationP = jointPValue(maxima.byStatistic[s], observed[s]->regional);
        }
        record.omnibusP = omnibusPValue(maxima, regional);
        return;
    }
    const bool trait = state.qtlMode != 0;
    PermutationPValues p;
    permutationTest(state, clusters, observed[0]->value, trait ? observed[1]->value : 0.0,
                    trait ? observed[2]->value : 0.0, p, threads, quiet);
    record.statistics[0].permutationP = p.score;
    if (trait) {
        record.statistics[1].permutationP = p.t;
        record.statistics[2].permutationP = p.z;
    }
}

std::string readBack(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) throw OutputError(path + ": cannot be read back");
    return text;
}

}  // namespace

MemoryOutputs runInMemory(const MemoryInputs& in, const std::string& folder, bool clusterReport) {
    AnalysisState state;
    state.qtlMode = in.traitMode ? 1 : 0;
    Warnings warnings;
    loadArrays(state, in, warnings);
    ReadNotes notes;
    readParameterFile(state, in.parameters, kParameters, &warnings, &notes);
    RunRecord record;
    record.parameters = settingValues(state, notes);
    loadDistances(state, in, warnings);
    warnings.append(warnAboutWindowSize(state, kParameters, kAlleles));
    if (state.qtlMode) warnAboutTraits(state, kPhenotype, warnings);
    warnAboutMissingAlleles(state, kAlleles, warnings);
    state.windowSize = std::min(state.windowSize, state.nMarkers);
    if (in.seed) state.random.resume(*in.seed);
    const ThreadCount threads =
        chooseThreadCount(affinityProcessors(), in.threads ? in.threads->c_str() : std::getenv("ORVANE_THREADS"));
    if (threads.warning) warnings.add("", 0, *threads.warning);
    record.warnings = warnings.messages();
    record.command = {"orvane.scan"};
    record.traitMode = in.traitMode;

    // The inputs are checked: from here on the outputs are written.
    const std::string resultPath = folder + "/scan-results";
    const std::string reportPath = clusterReport ? folder + "/output" : std::string("/dev/null");
    ProgressLine progress(false);
    OutputFile report(reportPath, OutputFile::Mode::Truncate);
    ResultFile results(resultPath, in.traitMode);
    results.writeHeader();
    imputeMissingAlleles(state);
    computeMarkerStatistics(state);
    computeLdMatrix(state);
    ScanCounts counts;
    const bool joint = in.permutation == PermutationScheme::Joint;
    if (state.qtlMode) {
        TraitSummary summary;
        std::vector<std::vector<int32_t>> carriers;
        std::vector<std::vector<int32_t>>* kept = joint && state.nPermutations > 0 ? &carriers : nullptr;
        const std::vector<WindowClusters> clusters =
            scanTrait(state, threads.threads, report, results, summary, counts, progress, kept);
        const Warnings scan = warnAboutScan(state, counts);
        record.warnings.insert(record.warnings.end(), scan.messages().begin(), scan.messages().end());
        record.statistics = {recorded("cluster", summary.score, 0.0), recorded("T", summary.t, 0.0),
                             recorded("Z", summary.z, 0.0)};
        if (state.nPermutations > 0) {
            permutationPValues(state, clusters, kept, {&summary.score, &summary.t, &summary.z}, joint,
                               threads.threads, record);
            summary.permutationScore = *record.statistics[kTraitCluster].permutationP;
            summary.permutationT = *record.statistics[kTraitT].permutationP;
            summary.permutationZ = *record.statistics[kTraitZ].permutationP;
        }
        const SummaryTails tails = results.traitSummary(summary, state.nHaplotypes);
        record.statistics[0].minusLog10P = tails.score;
        record.statistics[1].minusLog10P = tails.second;
        record.statistics[2].minusLog10P = tails.z;
    } else {
        CaseControlSummary summary;
        const std::vector<WindowClusters> clusters =
            scanCaseControl(state, threads.threads, report, results, summary, counts, progress);
        const Warnings scan = warnAboutScan(state, counts);
        record.warnings.insert(record.warnings.end(), scan.messages().begin(), scan.messages().end());
        record.statistics = {recorded("cluster", summary.score, 0.0), recorded("chisq", summary.chiSquare, 0.0)};
        if (state.nPermutations > 0) {
            permutationPValues(state, clusters, nullptr, {&summary.score, &summary.chiSquare}, joint,
                               threads.threads, record);
            summary.permutationP = *record.statistics[kCaseControlCluster].permutationP;
        }
        const SummaryTails tails = results.caseControlSummary(summary);
        record.statistics[0].minusLog10P = tails.score;
        record.statistics[1].minusLog10P = tails.second;
    }
    results.close();
    report.close();
    record.scheme = schemeName(in.permutation);
    record.permutations = state.nPermutations;
    record.haplotypes = state.nHaplotypes;
    record.markers = state.nMarkers;

    MemoryOutputs out;
    out.resultFile = readBack(resultPath);
    std::remove(resultPath.c_str());
    if (clusterReport) {
        out.clusterReport = readBack(reportPath);
        std::remove(reportPath.c_str());
    }
    out.recordLine = recordLine(record);
    out.warnings = record.warnings;
    return out;
}

}  // namespace orvane
