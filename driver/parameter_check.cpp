#include "driver/parameter_check.h"

#include <cstdio>

#include "model/analysis_state.h"
#include "model/parameter_file.h"
#include "model/warnings.h"

namespace orvane {

int checkParameterFile(const CommandLine& commandLine) {
    AnalysisState state;
    Warnings warnings;
    ReadNotes notes;
    loadParameterFile(state, commandLine.parameterFile, &warnings, &notes);
    std::fputs(describeSettings(state, notes).c_str(), stdout);
    std::fflush(stdout);
    const bool refused = commandLine.strict && !warnings.messages().empty();
    warnings.print(stderr, "orvane", refused ? "error" : "warning");
    return refused ? 2 : 0;
}

}  // namespace orvane
