// orvane --check PARAMFILE: the settings as a run would read them, and what the
// file holds that a user should hear of, without reading any data.
#pragma once

#include "driver/command_line.h"

namespace orvane {

// Prints the settings on standard output and the warnings on standard error;
// returns 0, or 2 under --strict when there is a warning. Throws InputError for
// a file the run would refuse.
int checkParameterFile(const CommandLine& commandLine);

}  // namespace orvane
