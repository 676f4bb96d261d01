// One run of the analysis: read and check the inputs, scan the markers, run the
// permutation test and write the result file and the cluster report.
#pragma once

#include "driver/command_line.h"

namespace orvane {

// Returns the exit status; throws InputError before any output file is touched,
// OutputError when an output cannot be written.
int runAnalysis(const CommandLine& commandLine);

}  // namespace orvane
