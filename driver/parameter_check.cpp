#include "driver/parameter_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/analysis_state.h"
#include "model/input_error.h"
#include "model/parameter_file.h"
#include "model/warnings.h"

namespace orvane {

int checkParameterFile(const CommandLine& commandLine) {
    AnalysisState state;
    Warnings warnings;
    ReadNotes notes;
    std::string text;
    if (!readWholeFile(commandLine.parameterFile, text)) {
        throw InputError(commandLine.parameterFile, 0,
                         std::string("cannot read the parameter file (") + std::strerror(errno) + ")");
    }
    // A data file may read as a parameter file with warnings; checked, it is an error.
    if (looksLikeDataFile(text)) {
        throw InputError(commandLine.parameterFile, 0,
                         "this is a data file (a header, then lines of an identifier, a status or trait and "
                         "allele codes), not a parameter file; give the parameter file: orvane --check PARAMFILE");
    }
    readParameterFile(state, text, commandLine.parameterFile, &warnings, &notes);
    std::fputs(describeSettings(state, notes).c_str(), stdout);
    std::fflush(stdout);
    const bool refused = commandLine.strict && !warnings.messages().empty();
    warnings.print(stderr, "orvane", refused ? "error" : "warning");
    return refused ? 2 : 0;
}

}  // namespace orvane
