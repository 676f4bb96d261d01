// The intervals of one study: the observed scan, the weights of every
// construction asked for, and the runs they give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "locate/intervals.h"
#include "locate/locate_command_line.h"
#include "locate/locus_scan.h"
#include "model/analysis_state.h"

namespace orvane {

struct IntervalRow {
    Statistic statistic = Statistic::Cluster;
    std::string construction;  // support, bootstrap or credible
    MarkerRun run;
    std::vector<double> weights;  // per marker, summing to 1
    // False where the statistic means nothing (no window formed a cluster): the
    // tables say NA instead of a run and weights.
    bool defined = true;
};

struct Localisation {
    std::vector<double> cm;  // cumulative map position of every marker, in cM
    std::vector<int32_t> peaks;  // per statistic of the mode; -1 where it has none
    ScanCounts counts;  // of the observed scan
    std::vector<IntervalRow> rows;  // per statistic: its constructions, then credible
};

// `state` holds the checked inputs; it is imputed and scanned here.
Localisation locate(AnalysisState& state, const LocateOptions& options, int threads);

// "marker cm" and a weight column per row, named STATISTIC_CONSTRUCTION.
std::string locationTable(const Localisation& result);
// The header and one line per row.
std::string intervalTable(const Localisation& result, double level);
// One line per statistic for standard error.
std::string summaryLines(const Localisation& result, bool traitMode, double level);

}  // namespace orvane
