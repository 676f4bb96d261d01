// The command line: orvane [OPTIONS] -option datafile parameterfile [interDistFile],
// the long options anywhere after the program name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// How the permutation test draws its replicates. `Joint`: one shuffle per
// replicate, scored at every marker (family-wise over the region). `Chained`:
// every marker's replicates under shuffles of their own, as result files made
// before the joint scheme were. `Adaptive`: the joint scheme's replicates in
// the same order, stopped early by a sequential rule (permutation/sequential_stop.h).
enum class PermutationScheme { Joint, Chained, Adaptive };

const char* schemeName(PermutationScheme scheme);

struct CommandLine {
    bool traitMode = false;  // option q; option s is single-gene mode
    std::string dataFile;
    std::string parameterFile;
    std::optional<std::string> distanceFile;  // only with exactly four arguments
    // With more than four arguments the distance file is not read: the
    // arguments from the fourth on, which the run warns about.
    std::vector<std::string> ignoredArguments;
    PermutationScheme permutation = PermutationScheme::Joint;
    // Adaptive scheme: the most replicates drawn, in place of the parameter file's count.
    std::optional<int32_t> maxPermutations;
    bool strict = false;  // input warnings are input errors
    bool check = false;   // only read the parameter file and say what it sets
    // --threads N: as ORVANE_THREADS, and in its place when both are given.
    std::optional<std::string> threads;
    // --seed S: the random stream's starting state (without it, 1).
    std::optional<uint32_t> seed;
    // --out PREFIX: the outputs are PREFIX-results, PREFIX-results.jsonl and
    // PREFIX.output instead of DATAFILE-results, DATAFILE-results.jsonl and output.
    std::optional<std::string> outPrefix;
    // Every argument as given, the program name first (for the run record).
    std::vector<std::string> arguments;
};

// What the command line asks for: a run (or a check), or an exit with this
// status after the usage text, the version or an error went out.
struct ParsedCommandLine {
    std::optional<CommandLine> run;
    int exitStatus = 0;
};

// The result file (the run record is its name with ".jsonl" appended) and the
// cluster report of a run.
std::string resultFilePath(const CommandLine& commandLine);
std::string clusterReportPath(const CommandLine& commandLine);

// Usage text and version go to `out`; what is wrong with a command line, to `err`.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace orvane
