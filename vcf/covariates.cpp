#include "covariates.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <unordered_set>

#include "phenotypes.h"
#include "table_text.h"
#include "tool_error.h"

namespace orvane {

namespace {

bool isIdColumn(const std::string& name) {
    return name == "IID" || name == "#IID" || name == "FID" || name == "#FID";
}

// The covariate reader shares the trait's missing words and number syntax.
std::optional<double> covariateValue(const std::string& token) {
    const std::optional<Phenotype> p = codeTrait(token);
    if (!p) return std::nullopt;
    return p->trait;
}

std::string joined(const std::vector<std::string>& names, size_t count) {
    std::string text;
    for (size_t k = 0; k < count; ++k) text += (k ? ", " : "") + names[k];
    return text;
}

}  // namespace

CovariateTable readCovariates(const std::string& path, const std::vector<std::string>& columns) {
    std::ifstream in(path);
    if (!in) throw inputError(path + ": cannot open the covariate file: " + std::strerror(errno));
    std::string line;
    if (!std::getline(in, line)) throw inputError(path + ": the covariate file is empty");
    const bool byTab = line.find('\t') != std::string::npos;
    const std::vector<std::string> header = splitFields(line, byTab);

    size_t idCol = 0;
    for (size_t c = 0; c < header.size(); ++c)
        if (header[c] == "IID" || header[c] == "#IID") idCol = c;
    std::vector<size_t> picked;
    CovariateTable table;
    table.path = path;
    if (columns.empty()) {
        for (size_t c = 0; c < header.size(); ++c)
            if (c != idCol && !isIdColumn(header[c])) picked.push_back(c);
    } else {
        for (const std::string& name : columns) {
            const auto it = std::find(header.begin(), header.end(), name);
            if (it == header.end())
                throw inputError(path + ":1: no column named '" + name + "' (--covar-cols)");
            const size_t c = static_cast<size_t>(it - header.begin());
            if (c == idCol || isIdColumn(name))
                throw inputError(path + ":1: '" + name + "' is a sample ID column, not a covariate");
            if (std::find(picked.begin(), picked.end(), c) != picked.end())
                throw inputError(path + ":1: covariate '" + name + "' is named twice in --covar-cols");
            picked.push_back(c);
        }
    }
    if (picked.empty())
        throw inputError(path + ":1: no covariate column beside the sample IDs (a header line "
                         "such as 'FID IID AGE SEX' is needed)");
    for (size_t c : picked) table.names.push_back(header[c]);

    std::unordered_set<std::string> seen;
    long lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        if (trimmed(line).empty()) continue;
        const std::string where = path + ":" + std::to_string(lineNo) + ": ";
        const std::vector<std::string> fields = splitFields(line, byTab);
        if (fields.size() != header.size())
            throw inputError(where + std::to_string(fields.size()) + " columns, the header has " +
                             std::to_string(header.size()));
        const std::string& id = fields[idCol];
        if (!seen.insert(id).second) throw inputError(where + "sample " + id + " appears twice");
        ++table.nRows;
        std::vector<double> values;
        bool complete = true;
        for (size_t c : picked) {
            std::optional<double> value;
            try {
                value = covariateValue(fields[c]);
            } catch (const std::invalid_argument&) {
                throw inputError(where + "sample " + id + ": covariate " + header[c] + ": '" +
                                 fields[c] + "' is not a number (NA, -9 or empty for missing)");
            }
            if (!value) complete = false;
            else values.push_back(*value);
        }
        if (complete) table.byId.emplace(id, std::move(values));
        else ++table.nIncomplete;
    }
    if (in.bad()) throw inputError(path + ": read error");
    return table;
}

std::vector<double> covariateResiduals(const std::vector<double>& trait,
                                       const std::vector<std::vector<double>>& covariates,
                                       const std::vector<std::string>& names,
                                       const std::string& path) {
    const Eigen::Index n = static_cast<Eigen::Index>(trait.size());
    const Eigen::Index p = static_cast<Eigen::Index>(names.size());
    if (n < p + 2)
        throw inputError(path + ": " + std::to_string(n) + " samples are too few to fit " +
                         std::to_string(p) + " covariate(s) and an intercept");

    // Centred covariates scaled to unit length span the same space as the raw
    // ones with the intercept, so the residuals are the same, and the rank
    // decisions do not depend on the covariates' units.
    Eigen::MatrixXd design(n, p + 1);
    design.col(0).setConstant(1.0 / std::sqrt(static_cast<double>(n)));
    for (Eigen::Index j = 0; j < p; ++j) {
        Eigen::VectorXd column(n);
        for (Eigen::Index i = 0; i < n; ++i) column(i) = covariates[static_cast<size_t>(i)][static_cast<size_t>(j)];
        // Constant up to rounding: centring leaves only rounding noise of the values' size.
        const double size = column.cwiseAbs().maxCoeff();
        column.array() -= column.mean();
        const double length = column.norm();
        if (length == 0.0 || length <= 1e-12 * size * std::sqrt(static_cast<double>(n)))
            throw inputError(path + ": covariate " + names[static_cast<size_t>(j)] +
                             " is constant over the " + std::to_string(n) +
                             " kept samples; leave it out (--covar-cols)");
        design.col(j + 1) = column / length;
    }
    // The first covariate that adds nothing to those before it is named.
    constexpr double kRankThreshold = 1e-9;
    for (Eigen::Index j = 2; j <= p; ++j) {
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design.leftCols(j + 1));
        qr.setThreshold(kRankThreshold);
        if (qr.rank() < j + 1)
            throw inputError(path + ": covariate " + names[static_cast<size_t>(j - 1)] +
                             " is collinear with the intercept and " +
                             joined(names, static_cast<size_t>(j - 1)) +
                             " over the kept samples; leave it out (--covar-cols)");
    }
    const Eigen::Map<const Eigen::VectorXd> y(trait.data(), n);
    const Eigen::VectorXd coefficients = design.colPivHouseholderQr().solve(y);
    const Eigen::VectorXd residuals = y - design * coefficients;
    return std::vector<double>(residuals.data(), residuals.data() + n);
}

}  // namespace orvane
