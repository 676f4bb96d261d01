// Command line of orvane-vcf.
#pragma once

#include <string>
#include <vector>

namespace orvane {

enum class PhenotypeMode { CaseControl, Trait };

// Auto: a PLINK .fam file when the name ends in ".fam", else a table with a header.
enum class PhenotypeFormat { Auto, Table, Fam };

struct ConverterOptions {
    std::string vcfPath;
    std::string phenoPath;
    std::string outPrefix;
    PhenotypeMode mode = PhenotypeMode::CaseControl;
    std::string phenoColumn;  // empty: the last column
    PhenotypeFormat phenoFormat = PhenotypeFormat::Auto;
    std::string covarPath;                // empty: no covariates
    std::vector<std::string> covarColumns;  // empty: every covariate column
    std::string region;       // empty: the whole file
    std::string mapPath;      // empty: constant rate cmPerMb
    double cmPerMb = 1.0;
    double minMaf = 0.0;
    bool unphasedAsMissing = false;
    bool help = false;
    bool version = false;
};

// Throws ToolError (kExitUsage) on an unknown option, a missing value or
// required option, or a value out of range.
ConverterOptions parseOptions(int argc, const char* const* argv);

const char* usageText();

}  // namespace orvane
