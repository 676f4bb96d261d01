// The run record: one JSON line per run appended to DATAFILE-results.jsonl, so
// that pipelines read a run's numbers by name instead of parsing the result
// file's text, whose columns depend on the mode.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/parameter_warnings.h"

namespace orvane {

// One statistic's maximum over the scan, as the summary line writes it.
struct RecordedStatistic {
    std::string name;  // "cluster", "chisq", "T", "Z"
    double peak = 0.0;
    double value = 0.0;
    double minusLog10P = 0.0;
    std::optional<double> permutationP;  // none when not computed
};

struct RunRecord {
    std::vector<std::string> command;
    bool traitMode = false;
    std::string scheme;
    int32_t permutations = 0;  // the count, or the adaptive scheme's bound
    int32_t replicates = 0;    // drawn: fewer than the count when the adaptive scheme stopped early
    std::vector<SettingValue> parameters;
    int32_t haplotypes = 0;
    int32_t markers = 0;
    std::vector<RecordedStatistic> statistics;
    std::optional<double> omnibusP;
    std::vector<std::string> warnings;
};

// The record as one line of JSON, newline included. Numbers are written as the
// result file writes them (six significant digits); a value that is not a
// finite number is null.
std::string recordLine(const RunRecord& record);

// Appends the line to `path`; OutputError when it cannot be written.
void appendRecord(const std::string& path, const std::string& line);

}  // namespace orvane
