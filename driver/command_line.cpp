#include "driver/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "driver/thread_count.h"
#include "orvane_version.h"

namespace orvane {

namespace {

// The program name in the usage text is the one users of the tool have always seen.
void writeUsage(std::FILE* out, bool optionNotRecognised) {
    std::fputs("USAGE: Orvane.exe -option datafile parameterfile [interDistFile]\n\n", out);
    std::fputs("options:\n", out);
    std::fputs(optionNotRecognised ? "s:\tsingle gene\n" : "s:\tsingle gene model\n", out);
    std::fputs("q:\tQTL mapping\n", out);
    std::fflush(out);
}

// --help: the usage text, then what the usage text does not say.
void writeHelp(std::FILE* out) {
    writeUsage(out, false);
    std::fputs(
        "\n"
        "Long options, anywhere after the program name:\n"
        "  --permutation joint|chained|adaptive  how the permutation test shuffles (default joint;\n"
        "                     adaptive stops a clearly null region early)\n"
        "  --max-permutations N  with adaptive: the most replicates (default: the file's permutations)\n"
        "  --strict           input warnings are errors: exit 2, no file touched\n"
        "  --check PARAMFILE  print the settings a run would read from PARAMFILE, and stop\n"
        "  --threads N        at most N threads (default: the processors the run may use)\n"
        "  --seed S           start the random stream at S, 0 to 4294967295 (default 1)\n"
        "  --out PREFIX       write PREFIX-results, PREFIX-results.jsonl and PREFIX.output\n"
        "  --help, -h         this text\n"
        "  --version          the version\n"
        "Environment: ORVANE_THREADS=N as --threads N (--threads wins when both are set).\n"
        "A run writes (with --out PREFIX: PREFIX.output, PREFIX-results and PREFIX-results.jsonl):\n"
        "  output                  the cluster report, in the working directory, emptied first\n"
        "  DATAFILE-results        the result file, one block appended per run\n"
        "  DATAFILE-results.jsonl  the run record, one line appended per run\n"
        "The data and distance files may be gzip- or bgzip-compressed.\n"
        "Exit status: 0 success, 1 wrong command line, 2 input error (nothing written),\n"
        "3 output or resource error.\n",
        out);
    std::fflush(out);
}

// A wrong command line: what is wrong on standard error, the usage text on
// standard output, status 1 (a pipeline must not read it as success).
ParsedCommandLine wrong(std::FILE* out, std::FILE* err, bool optionNotRecognised, const std::string& what) {
    std::fprintf(err, "orvane: error: %s; see orvane --help\n", what.c_str());
    std::fflush(err);
    writeUsage(out, optionNotRecognised);
    return {std::nullopt, 1};
}

// The value of a long option NAME given as "NAME=VALUE" or "NAME VALUE";
// false when the argument is another option or the value is missing.
bool optionValue(const std::string& argument, const char* name, int& k, int argc, const char* const* argv,
                 std::string& value, bool& missing) {
    const size_t length = std::strlen(name);
    if (argument.compare(0, length, name) != 0) return false;
    if (argument.size() > length) {
        if (argument[length] != '=') return false;
        value = argument.substr(length + 1);
    } else if (k + 1 < argc) {
        value = argv[++k];
    } else {
        missing = true;
    }
    return true;
}

bool parseSeed(const std::string& text, uint32_t& seed) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value > 4294967295ull) return false;
    seed = static_cast<uint32_t>(value);
    return true;
}

bool parseScheme(const std::string& name, PermutationScheme& scheme) {
    if (name == "joint") scheme = PermutationScheme::Joint;
    else if (name == "chained") scheme = PermutationScheme::Chained;
    else if (name == "adaptive") scheme = PermutationScheme::Adaptive;
    else return false;
    return true;
}

// A count of 1 to 2^31 - 1 written in decimal digits only.
bool parseCount(const std::string& text, int32_t& count) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long value = std::stoll(text);
    if (value < 1 || value > INT32_MAX) return false;
    count = static_cast<int32_t>(value);
    return true;
}

}  // namespace

const char* schemeName(PermutationScheme scheme) {
    switch (scheme) {
        case PermutationScheme::Joint: return "joint";
        case PermutationScheme::Chained: return "chained";
        case PermutationScheme::Adaptive: return "adaptive";
    }
    return "joint";
}

std::string resultFilePath(const CommandLine& commandLine) {
    return commandLine.outPrefix.value_or(commandLine.dataFile) + "-results";
}

std::string clusterReportPath(const CommandLine& commandLine) {
    return commandLine.outPrefix ? *commandLine.outPrefix + ".output" : std::string("output");
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc < 2) {
        writeUsage(out, false);
        return {std::nullopt, 0};
    }
    CommandLine line;
    for (int k = 0; k < argc; ++k) line.arguments.emplace_back(argv[k]);
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        const std::string argument = argv[k];
        if (argument == "--help" || argument == "-h") {
            writeHelp(out);
            return {std::nullopt, 0};
        }
        if (argument == "--version") {
            std::fprintf(out, "orvane %s\n", ORVANE_VERSION);
            std::fflush(out);
            return {std::nullopt, 0};
        }
        if (argument.compare(0, 2, "--") != 0) {
            positional.push_back(argument);
            continue;
        }
        std::string value;
        bool missing = false;
        if (optionValue(argument, "--threads", k, argc, argv, value, missing)) {
            if (missing) return wrong(out, err, true, "--threads needs a number of threads");
            if (!isThreadCount(value.c_str())) {
                return wrong(out, err, true, "--threads is '" + value + "', not a positive whole number");
            }
            line.threads = value;
        } else if (optionValue(argument, "--seed", k, argc, argv, value, missing)) {
            if (missing) return wrong(out, err, true, "--seed needs a number");
            uint32_t seed = 0;
            if (!parseSeed(value, seed)) {
                return wrong(out, err, true, "--seed is '" + value + "', not a whole number from 0 to 4294967295");
            }
            line.seed = seed;
        } else if (optionValue(argument, "--out", k, argc, argv, value, missing)) {
            if (missing || value.empty() || value.compare(0, 2, "--") == 0) {
                return wrong(out, err, true, "--out needs a prefix for the output files");
            }
            line.outPrefix = value;
        } else if (argument == "--strict") {
            line.strict = true;
        } else if (argument == "--check") {
            line.check = true;
        } else if (optionValue(argument, "--permutation", k, argc, argv, value, missing)) {
            if (missing) return wrong(out, err, true, "--permutation needs a scheme, joint, chained or adaptive");
            if (!parseScheme(value, line.permutation)) {
                return wrong(out, err, true,
                             "unknown permutation scheme '" + value + "': give joint, chained or adaptive");
            }
        } else if (optionValue(argument, "--max-permutations", k, argc, argv, value, missing)) {
            if (missing) return wrong(out, err, true, "--max-permutations needs a count");
            int32_t parsed = 0;
            if (!parseCount(value, parsed)) {
                return wrong(out, err, true,
                             "--max-permutations '" + value + "': give a whole number from 1 to 2147483647");
            }
            line.maxPermutations = parsed;
        } else {
            return wrong(out, err, true, "unknown option '" + argument + "'");
        }
    }
    if (line.maxPermutations && line.permutation != PermutationScheme::Adaptive) {
        return wrong(out, err, true,
                     "--max-permutations bounds the adaptive scheme only; add --permutation adaptive");
    }
    if (line.check) {
        if (positional.size() != 1) {
            return wrong(out, err, false, "--check takes one parameter file and nothing else");
        }
        line.parameterFile = positional[0];
        return {line, 0};
    }
    if (positional.size() < 3) {
        return wrong(out, err, false,
                     std::to_string(positional.size()) +
                         (positional.size() == 1 ? " argument" : " arguments") +
                         ": give the mode (-s or -q), the data file and the parameter file");
    }
    // Only the option's second character counts; the first is conventionally '-'.
    const std::string& option = positional[0];
    const char mode = option.size() >= 2 ? option[1] : '\0';
    if (mode != 'q' && mode != 's') {
        return wrong(out, err, true,
                     "unknown mode '" + option + "': give -s (case/control) or -q (trait)");
    }
    line.traitMode = mode == 'q';
    line.dataFile = positional[1];
    line.parameterFile = positional[2];
    if (positional.size() == 4) line.distanceFile = positional[3];
    for (size_t k = 3; positional.size() > 4 && k < positional.size(); ++k) {
        line.ignoredArguments.push_back(positional[k]);
    }
    return {line, 0};
}

}  // namespace orvane
