// The phenotype table: one value per sample ID, coded for the chosen mode.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "options.h"

namespace orvane {

struct Phenotype {
    bool isCase = false;  // case/control mode
    double trait = 0.0;   // trait mode
};

// Samples with a missing value are absent from byId but counted.
struct PhenotypeTable {
    std::unordered_map<std::string, Phenotype> byId;
    std::string columnName;
    long nRows = 0;
    long nMissing = 0;
};

// Case/control coding: 2 or "case" = case, 1 or "control" = control;
// 0, -9, NA, "." = missing (nullopt). Throws std::invalid_argument otherwise.
std::optional<Phenotype> codeCaseControl(const std::string& token);

// Trait coding: a finite decimal real; NA, nan, ".", -9 and the empty field
// are missing. Throws std::invalid_argument otherwise.
std::optional<Phenotype> codeTrait(const std::string& token);

// Header line first. The ID column is IID (or #IID), else the first column;
// the value column is `column`, else the last column. A header holding a tab
// makes every line tab-separated, so that empty fields keep their place;
// otherwise columns are separated by runs of blanks and tabs.
// Throws ToolError (kExitInput) naming the file and line.
PhenotypeTable readPhenotypes(const std::string& path, PhenotypeMode mode,
                              const std::string& column);

}  // namespace orvane
