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

#include "tool_error.h"

namespace orvane {

namespace {

std::string lowerCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \r\t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \r\t") - first + 1);
}

std::vector<std::string> splitFields(const std::string& line, bool byTab) {
    std::vector<std::string> fields;
    if (byTab) {
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(trimmed(line.substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
    } else {
        size_t pos = 0;
        while ((pos = line.find_first_not_of(" \t\r", pos)) != std::string::npos) {
            const size_t end = line.find_first_of(" \t\r", pos);
            fields.push_back(line.substr(pos, end - pos));
            pos = end;
        }
    }
    return fields;
}

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

PhenotypeTable readPhenotypes(const std::string& path, PhenotypeMode mode,
                              const std::string& column) {
    std::ifstream in(path);
    if (!in) throw inputError(path + ": cannot open the phenotype file: " + std::strerror(errno));
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

    PhenotypeTable table;
    table.columnName = header[valueCol];
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
        const std::string& id = fields[idCol];
        std::optional<Phenotype> value;
        try {
            value = mode == PhenotypeMode::Trait ? codeTrait(fields[valueCol])
                                                 : codeCaseControl(fields[valueCol]);
        } catch (const std::invalid_argument& e) {
            throw inputError(path + ":" + std::to_string(lineNo) + ": sample " + id + ": " +
                             e.what());
        }
        if (!seen.insert(id).second)
            throw inputError(path + ":" + std::to_string(lineNo) + ": sample " + id +
                             " appears twice");
        ++table.nRows;
        if (value) table.byId.emplace(id, *value);
        else ++table.nMissing;
    }
    if (in.bad()) throw inputError(path + ": read error");
    return table;
}

}  // namespace orvane
