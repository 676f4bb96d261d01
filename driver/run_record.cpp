#include "driver/run_record.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/input_error.h"
#include "model/text_output.h"
#include "orvane_version.h"

namespace orvane {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string number(double value) { return std::isfinite(value) ? formatReal(value) : "null"; }

std::string number(const std::optional<double>& value) { return value ? number(*value) : "null"; }

// A setting's value is a number unless it failed to read as one.
std::string settingValue(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') return quoted(text);
    return number(value);
}

std::string list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t k = 0; k < items.size(); ++k) out += (k ? ", " : "") + quoted(items[k]);
    return out + "]";
}

}  // namespace

std::string recordLine(const RunRecord& record) {
    std::string line = "{\"version\": " + quoted(ORVANE_VERSION);
    line += ", \"command\": " + list(record.command);
    line += std::string(", \"mode\": ") + (record.traitMode ? "\"q\"" : "\"s\"");
    line += ", \"permutation\": {\"scheme\": " + quoted(record.scheme) +
            ", \"count\": " + std::to_string(record.permutations) +
            ", \"replicates\": " + std::to_string(record.replicates) + "}";
    line += ", \"parameters\": {";
    for (size_t k = 0; k < record.parameters.size(); ++k) {
        line += (k ? ", " : "") + quoted(record.parameters[k].name) + ": " +
                settingValue(record.parameters[k].value);
    }
    line += "}, \"haplotypes\": " + std::to_string(record.haplotypes);
    line += ", \"markers\": " + std::to_string(record.markers);
    line += ", \"statistics\": {";
    for (size_t k = 0; k < record.statistics.size(); ++k) {
        const RecordedStatistic& statistic = record.statistics[k];
        line += (k ? ", " : "") + quoted(statistic.name) + ": {\"peak\": " + number(statistic.peak) +
                ", \"value\": " + number(statistic.value) +
                ", \"minus_log10_p\": " + number(statistic.minusLog10P) +
                ", \"permutation_p\": " + number(statistic.permutationP) + "}";
    }
    line += "}, \"omnibus_p\": " + number(record.omnibusP);
    line += ", \"warnings\": " + list(record.warnings) + "}\n";
    return line;
}

void appendRecord(const std::string& path, const std::string& line) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        throw OutputError("cannot write " + path + " (" + std::strerror(errno) + ")");
    }
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
                         std::fflush(file) == 0;
    const int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        throw OutputError("cannot write " + path + " (" + std::strerror(written ? errno : savedErrno) + ")");
    }
}

}  // namespace orvane
