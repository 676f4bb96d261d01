#include "phenotypes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "table_text.h"
#include "tool_error.h"

namespace orvane {

namespace {

bool isMissingWord(const std::string& lower) {
    return lower.empty() || lower == "na" || lower == "." || lower == "-9";
}

}  // namespace

std::optional<Phenotype> codeCaseControl(const std::string& token) {
    const std::string t = lowerCase(token);
    if (t == "2" || t == "case") return Phenotype{true, 0.0};
    if (t == "1" || t == "control") return Phenotype{false, 0.0};
    if (t == "0" || isMissingWord(t)) return std::nullopt;
    throw std::invalid_argument("'" + token +
                                "' is not a case/control code (2 or case, 1 or control, "
                                "0, -9 or NA for missing; use --mode q for a trait)");
}

std::optional<Phenotype> codeTrait(const std::string& token) {
    const std::string t = lowerCase(token);
    if (isMissingWord(t) || t == "nan") return std::nullopt;
    // strtod would also take hexadecimal and "inf", which orvane cannot read back.
    const bool decimal = t.find_first_not_of("0123456789+-.e") == std::string::npos;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(token.c_str(), &end);
    if (!decimal || *end != '\0' || end == token.c_str() || errno == ERANGE ||
        !std::isfinite(value))
        throw std::invalid_argument("'" + token + "' is not a trait value (a decimal number, "
                                    "or NA, -9 or empty for missing)");
    if (value == -9.0) return std::nullopt;
    return Phenotype{false, value};
}

bool isFamFormat(const std::string& path, PhenotypeFormat format) {
    if (format != PhenotypeFormat::Auto) return format == PhenotypeFormat::Fam;
    const std::string suffix = ".fam";
    return path.size() > suffix.size() &&
           lowerCase(path.substr(path.size() - suffix.size())) == suffix;
}

namespace {

// Counts the case/control codes as written, for the 0/1 hint.
void countCode(PhenotypeTable& table, const std::string& token) {
    const std::string t = lowerCase(token);
    if (t == "0") ++table.nZeroCodes;
    else if (t == "1") ++table.nOneCodes;
    else if (t == "2" || t == "case") ++table.nCaseCodes;
}

// One data line: codes the value and adds the sample to the table.
void addSample(PhenotypeTable& table, std::unordered_set<std::string>& seen, PhenotypeMode mode,
               const std::string& id, const std::string& token, long lineNo) {
    const std::string where = table.path + ":" + std::to_string(lineNo) + ": ";
    std::optional<Phenotype> value;
    try {
        value = mode == PhenotypeMode::Trait ? codeTrait(token) : codeCaseControl(token);
    } catch (const std::invalid_argument& e) {
        throw inputError(where + "sample " + id + ": " + e.what());
    }
    if (!seen.insert(id).second) throw inputError(where + "sample " + id + " appears twice");
    if (mode == PhenotypeMode::CaseControl) countCode(table, token);
    ++table.nRows;
    if (value) table.byId.emplace(id, *value);
    else {
        ++table.nMissing;
        table.missingIds.insert(id);
    }
}

// PLINK .fam: FID IID father mother sex phenotype, no header.
PhenotypeTable readFam(std::ifstream& in, PhenotypeTable table, PhenotypeMode mode) {
    table.columnName = "phenotype (column 6 of the .fam file)";
    std::unordered_set<std::string> seen;
    std::string line;
    long lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (trimmed(line).empty()) continue;
        const std::vector<std::string> fields = splitFields(line, false);
        if (fields.size() < 6)
            throw inputError(table.path + ":" + std::to_string(lineNo) + ": " +
                             std::to_string(fields.size()) +
                             " columns; a .fam line has six: FID IID father mother sex "
                             "phenotype (a table with a header: --pheno-format table)");
        addSample(table, seen, mode, fields[1], fields[5], lineNo);
    }
    if (in.bad()) throw inputError(table.path + ": read error");
    return table;
}

}  // namespace

PhenotypeTable readPhenotypes(const std::string& path, PhenotypeMode mode,
                              const std::string& column, PhenotypeFormat format) {
    std::ifstream in(path);
    if (!in) throw inputError(path + ": cannot open the phenotype file: " + std::strerror(errno));
    PhenotypeTable table;
    table.path = path;
    if (isFamFormat(path, format)) return readFam(in, std::move(table), mode);

    std::string line;
    if (!std::getline(in, line)) throw inputError(path + ": the phenotype file is empty");
    const bool byTab = line.find('\t') != std::string::npos;
    const std::vector<std::string> header = splitFields(line, byTab);

    if (header.size() < 2)
        throw inputError(path + ":1: the header needs a sample ID column and a phenotype column");
    size_t idCol = 0;
    for (size_t c = 0; c < header.size(); ++c)
        if (header[c] == "IID" || header[c] == "#IID") idCol = c;
    size_t valueCol = header.size() - 1;
    if (!column.empty()) {
        const auto it = std::find(header.begin(), header.end(), column);
        if (it == header.end())
            throw inputError(path + ":1: no column named '" + column + "' (--pheno-col)");
        valueCol = static_cast<size_t>(it - header.begin());
    }
    if (valueCol == idCol)
        throw inputError(path + ":1: the phenotype column is the sample ID column");

    table.columnName = header[valueCol];
    table.header = header;
    std::unordered_set<std::string> seen;
    long lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        if (trimmed(line).empty()) continue;
        const std::vector<std::string> fields = splitFields(line, byTab);
        if (fields.size() != header.size())
            throw inputError(path + ":" + std::to_string(lineNo) + ": " +
                             std::to_string(fields.size()) + " columns, the header has " +
                             std::to_string(header.size()));
        addSample(table, seen, mode, fields[idCol], fields[valueCol], lineNo);
    }
    if (in.bad()) throw inputError(path + ": read error");
    return table;
}

}  // namespace orvane
