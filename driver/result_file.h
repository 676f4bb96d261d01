// The result file: per run a column header, one line per marker and a summary.
// Runs append, so the file keeps every earlier run's block.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "model/text_output.h"
#include "scoring/single_marker_tests.h"

namespace orvane {

// The predicted position and value of one statistic's maximum over the scan.
struct ScanMaximum {
    double value = 0.0;
    double marker = 0.0;  // held as a real, written by the real rule
    // The largest value that is a number, -inf when none is: what the joint
    // permutation test compares its replicates with (the written value starts
    // from 0 and so says 0 for a scan whose every value is below it).
    double regional = -std::numeric_limits<double>::infinity();
    // Ties go to the later marker; a value that is not a number never wins.
    void offer(double candidate, int32_t index) {
        if (value <= candidate) {
            value = candidate;
            marker = index;
        }
        if (candidate > regional) regional = candidate;
    }
};

struct CaseControlSummary {
    ScanMaximum score;
    ScanMaximum chiSquare;
    double permutationP = 0.0;
};

struct TraitSummary {
    ScanMaximum score;
    ScanMaximum t;
    ScanMaximum z;
    double permutationScore = 0.0;
    double permutationT = 0.0;
    double permutationZ = 0.0;
};

// The summary line's -log10 p-values: of the best score, of the best
// chi-square or T, and of the best Z (trait mode).
struct SummaryTails {
    double score = 0.0;
    double second = 0.0;
    double z = 0.0;
};

class ResultFile {
public:
    ResultFile(const std::string& path, bool traitMode);
    // Writes to the disk hold `lock` (see OutputFile::guardWrites).
    void guardWrites(std::mutex& lock) { file_.guardWrites(lock); }

    // Header line, and the first marker's distance (the integer 0).
    void writeHeader();
    void caseControlLine(int32_t marker, double score, double minusLogP, double chiSquare,
                         double chiSquareMinusLogP);
    void traitLine(int32_t marker, double score, double minusLogP, const TraitTests& tests);
    // Ends the current marker's line; unless it was the last marker, begins the
    // next one with its cumulative distance. Then the text goes to disk.
    void endMarkerLine(bool beginNext, double nextDistance);
    SummaryTails caseControlSummary(const CaseControlSummary& summary);
    SummaryTails traitSummary(const TraitSummary& summary, int32_t nHaplotypes);
    void close();

private:
    OutputFile file_;
    bool traitMode_;
};

}  // namespace orvane
