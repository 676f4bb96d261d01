#include "driver/command_line.h"

#include <cstring>

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

}  // namespace

std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv, std::FILE* usageOut) {
    if (argc < 4) {
        writeUsage(usageOut, false);
        return std::nullopt;
    }
    // Only the option's second character counts; the first is conventionally '-'.
    const char* option = argv[1];
    const char mode = std::strlen(option) >= 2 ? option[1] : '\0';
    if (mode != 'q' && mode != 's') {
        writeUsage(usageOut, true);
        return std::nullopt;
    }
    CommandLine line;
    line.traitMode = mode == 'q';
    line.dataFile = argv[2];
    line.parameterFile = argv[3];
    if (argc == 5) line.distanceFile = argv[4];
    for (int k = 4; argc > 5 && k < argc; ++k) line.ignoredArguments.emplace_back(argv[k]);
    return line;
}

}  // namespace orvane
