// The command line of orvane-locate.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace orvane {

struct LocateOptions {
    bool traitMode = false;
    std::string dataFile;
    std::string parameterFile;
    std::optional<std::string> distanceFile;
    int32_t replicates = 200;
    double level = 0.95;
    uint64_t seed = 1;
    std::string prefix;  // default: the data file's name
    bool support = true;
    bool bootstrap = false;
    // --threads N: as ORVANE_THREADS, and in its place when both are given.
    std::optional<std::string> threads;
};

// The options, or nothing with `status` set: 0 after --help or --version went
// to `out`, 1 after a one-line error on `err`.
std::optional<LocateOptions> parseLocateCommandLine(int argc, const char* const* argv,
                                                    std::FILE* out, std::FILE* err, int& status);

}  // namespace orvane
