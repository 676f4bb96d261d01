#include "driver/memory_run.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "driver/analysis_steps.h"
#include "driver/result_file.h"
#include "driver/run_record.h"
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
    state.alleles.assign(static_cast<size_t>(in.haplotypes * in.markers), 0);
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
            state.alleles.set(static_cast<size_t>(h * in.markers + k), static_cast<int32_t>(code));
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

    // The inputs are checked: from here on the command line's steps write the
    // outputs into `folder`; without a cluster report, "output" goes nowhere.
    CommandLine commandLine;
    commandLine.traitMode = in.traitMode;
    commandLine.permutation = in.permutation;
    commandLine.dataFile = kAlleles;
    commandLine.outPrefix = folder + "/scan";
    const std::string resultPath = resultFilePath(commandLine);
    const std::string reportPath = clusterReportPath(commandLine);
    if (!clusterReport && symlink("/dev/null", reportPath.c_str()) != 0) {
        throw OutputError(reportPath + ": cannot be created");
    }
    const char* step = "scanning";
    analyse(state, commandLine, threads.threads, record, step);

    MemoryOutputs out;
    out.resultFile = readBack(resultPath);
    std::remove(resultPath.c_str());
    if (clusterReport) out.clusterReport = readBack(reportPath);
    std::remove(reportPath.c_str());
    std::string recordFile = readBack(resultPath + ".jsonl");
    std::remove((resultPath + ".jsonl").c_str());
    while (!recordFile.empty() && recordFile.back() == '\n') recordFile.pop_back();
    out.recordLine = recordFile;
    out.warnings = record.warnings;
    return out;
}

}  // namespace orvane
