// The command line: orvane -option datafile parameterfile [interDistFile].
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace orvane {

struct CommandLine {
    bool traitMode = false;  // option q; option s is single-gene mode
    std::string dataFile;
    std::string parameterFile;
    std::optional<std::string> distanceFile;  // only with exactly four arguments
};

// The run's files and mode, or nothing after the usage text went to `usageOut`.
std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv, std::FILE* usageOut);

}  // namespace orvane
