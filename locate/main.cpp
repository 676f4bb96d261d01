// orvane-locate: where the trait locus lies, and how sure. Exit status 0 success
// or --help/--version, 1 wrong command line, 2 input error (nothing written),
// 3 output or resource error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "driver/thread_count.h"
#include "locate/locate_command_line.h"
#include "locate/localisation.h"
#include "model/analysis_state.h"
#include "model/data_warnings.h"
#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "model/parameter_file.h"
#include "model/scan_warnings.h"
#include "model/text_output.h"
#include "model/warnings.h"

namespace {

int run(const orvane::LocateOptions& options) {
    orvane::AnalysisState state;
    state.qtlMode = options.traitMode ? 1 : 0;
    // The same readers and input warnings as orvane's, printed once every input
    // has been read and checked.
    orvane::Warnings warnings;
    orvane::loadHaplotypeFile(state, options.dataFile, &warnings);
    orvane::loadParameterFile(state, options.parameterFile, &warnings);
    orvane::readMarkerDistances(state, options.distanceFile ? &*options.distanceFile : nullptr,
                                &warnings);
    warnings.append(orvane::warnAboutWindowSize(state, options.parameterFile, options.dataFile));
    if (state.qtlMode) orvane::warnAboutTraits(state, options.dataFile, warnings);
    orvane::warnAboutMissingAlleles(state, options.dataFile, warnings);
    state.windowSize = std::min(state.windowSize, state.nMarkers);

    const orvane::ThreadCount threads =
        orvane::chooseThreadCount(orvane::affinityProcessors(),
                                  options.threads ? options.threads->c_str() : std::getenv("ORVANE_THREADS"));
    if (threads.warning) warnings.add("", 0, *threads.warning);
    warnings.print(stderr, "orvane-locate");
    const orvane::Localisation result = orvane::locate(state, options, threads.threads);
    orvane::warnAboutScan(state, result.counts, orvane::NoClusterMeaning::ClusterInterval)
        .print(stderr, "orvane-locate");

    orvane::OutputFile location(options.prefix + ".location.tsv", orvane::OutputFile::Mode::Truncate);
    location << orvane::locationTable(result);
    location.close();
    orvane::OutputFile interval(options.prefix + ".interval.tsv", orvane::OutputFile::Mode::Truncate);
    interval << orvane::intervalTable(result, options.level);
    interval.close();
    std::fputs(orvane::summaryLines(result, options.traitMode, options.level).c_str(), stderr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    const auto options = orvane::parseLocateCommandLine(argc, argv, stdout, stderr, status);
    if (!options) return status;
    try {
        return run(*options);
    } catch (const orvane::InputError& error) {
        std::fprintf(stderr, "orvane-locate: error: %s\n", error.describe().c_str());
        return 2;
    } catch (const orvane::OutputError& error) {
        std::fprintf(stderr, "orvane-locate: error: %s\n", error.what());
        return 3;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "orvane-locate: error: out of memory\n");
        return 3;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvane-locate: error: %s\n", error.what());
        return 3;
    }
}
