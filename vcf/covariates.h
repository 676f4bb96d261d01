// Covariates of a quantitative trait: a PLINK-style table read per sample,
// and the trait's residuals after a least-squares fit on them.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace orvane {

// Samples with any selected covariate missing are absent from byId.
struct CovariateTable {
    std::string path;
    std::vector<std::string> names;  // the selected columns, in the order asked
    std::unordered_map<std::string, std::vector<double>> byId;
    long nRows = 0;
    long nIncomplete = 0;  // rows with a missing covariate
};

// Header line first; the sample ID is the column IID (or #IID), else the
// first column; a FID (or #FID) column is never a covariate. `columns` picks
// the covariates by name; empty takes every other column. Values are decimal
// numbers; NA, nan, ".", -9 and the empty field are missing. Separators as in
// the phenotype table (a header holding a tab makes the file tab-separated).
// Throws ToolError (kExitInput) naming the file and line.
CovariateTable readCovariates(const std::string& path, const std::vector<std::string>& columns);

// The residuals of the least-squares fit of `trait` on an intercept and the
// covariates (covariates[i] holds sample i's values, in the order of `names`).
// A covariate that is constant, or a linear combination of the intercept and
// the covariates before it, is an error (ToolError, kExitInput) naming it, as
// are fewer samples than the fit has coefficients plus one.
std::vector<double> covariateResiduals(const std::vector<double>& trait,
                                       const std::vector<std::vector<double>>& covariates,
                                       const std::vector<std::string>& names,
                                       const std::string& path);

}  // namespace orvane
