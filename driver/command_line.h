// The command line: orvane -option datafile parameterfile [interDistFile].
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct CommandLine {
    bool traitMode = false;  // option q; option s is single-gene mode
    std::string dataFile;
    std::string parameterFile;
    std::optional<std::string> distanceFile;  // only with exactly four arguments
    // With more than four arguments the distance file is not read: the
    // arguments from the fourth on, which the run warns about.
    std::vector<std::string> ignoredArguments;
};

// The run's files and mode, or nothing after the usage text went to `usageOut`.
std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv, std::FILE* usageOut);

}  // namespace orvane
