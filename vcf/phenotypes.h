// The phenotype table: one value per sample ID, coded for the chosen mode.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "options.h"

namespace orvane {

struct Phenotype {
    bool isCase = false;  // case/control mode
    double trait = 0.0;   // trait mode
};

// Samples with a missing value are absent from byId but counted.
struct PhenotypeTable {
    std::string path;
    std::unordered_map<std::string, Phenotype> byId;
    std::string columnName;
    // The fields of the first line, read as the header; empty for a .fam file.
    std::vector<std::string> header;
    long nRows = 0;
    long nMissing = 0;
    std::unordered_set<std::string> missingIds;  // the samples of those rows
    // Case/control codes as written, for the hint on 0/1-coded files.
    long nZeroCodes = 0;
    long nOneCodes = 0;
    long nCaseCodes = 0;  // 2 or case

    // Every value is 0 or 1 and both occur: the file is probably coded
    // 1 = case, 0 = control.
    bool looksZeroOneCoded() const { return nCaseCodes == 0 && nZeroCodes > 0 && nOneCodes > 0; }
};

// Case/control coding: 2 or "case" = case, 1 or "control" = control;
// 0, -9, NA, "." = missing (nullopt). Throws std::invalid_argument otherwise.
std::optional<Phenotype> codeCaseControl(const std::string& token);

// Trait coding: a finite decimal real; NA, nan, ".", -9 and the empty field
// are missing. Throws std::invalid_argument otherwise.
std::optional<Phenotype> codeTrait(const std::string& token);

// A table: header line first. The ID column is IID (or #IID), else the first
// column; the value column is `column`, else the last column. A header holding
// a tab makes every line tab-separated, so that empty fields keep their place;
// otherwise columns are separated by runs of blanks and tabs.
// A PLINK .fam file (format Fam, or Auto and a name ending in .fam): no
// header, IID in column 2, the phenotype in column 6.
// Throws ToolError (kExitInput) naming the file and line.
PhenotypeTable readPhenotypes(const std::string& path, PhenotypeMode mode,
                              const std::string& column,
                              PhenotypeFormat format = PhenotypeFormat::Auto);

// True when the file is read as a PLINK .fam file.
bool isFamFormat(const std::string& path, PhenotypeFormat format);

}  // namespace orvane
