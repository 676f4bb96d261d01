// Command line of orvane-vcf.
#pragma once

#include <string>

namespace orvane {

enum class PhenotypeMode { CaseControl, Trait };

struct ConverterOptions {
    std::string vcfPath;
    std::string phenoPath;
    std::string outPrefix;
    PhenotypeMode mode = PhenotypeMode::CaseControl;
    std::string phenoColumn;  // empty: the last column
    std::string region;       // empty: the whole file
    std::string mapPath;      // empty: constant rate cmPerMb
    double cmPerMb = 1.0;
    double minMaf = 0.0;
    bool unphasedAsMissing = false;
    bool help = false;
};

// Throws ToolError (kExitUsage) on an unknown option, a missing value or
// required option, or a value out of range.
ConverterOptions parseOptions(int argc, const char* const* argv);

const char* usageText();

}  // namespace orvane
