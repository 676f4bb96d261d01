// The steps of a run after its inputs are read and checked, shared by the
// command line and the Python package's in-memory run, so that both compute
// and write exactly the same things.
#pragma once

#include "driver/command_line.h"
#include "driver/run_record.h"
#include "model/analysis_state.h"

namespace orvane {

// Fills missing alleles, scans every marker, runs the permutation test of
// commandLine.permutation and writes the result file (resultFilePath), the
// cluster report (clusterReportPath) and the run record line beside the result
// file. `record` comes with its command, parameters and input warnings and is
// completed here. `step` names the step under way, so that memory the run
// cannot get is reported with what it was needed for. Returns the exit status.
int analyse(AnalysisState& state, const CommandLine& commandLine, int threads, RunRecord& record,
            const char*& step);

}  // namespace orvane
