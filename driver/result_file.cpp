#include "driver/result_file.h"

#include <cmath>

#include "scoring/trait_scoring.h"
#include "stats/distribution_tails.h"

namespace orvane {

ResultFile::ResultFile(const std::string& path, bool traitMode)
    : file_(path, OutputFile::Mode::Append), traitMode_(traitMode) {}

void ResultFile::writeHeader() {
    file_ << (traitMode_ ? "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
                         : "GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n");
    file_.flush();
    // Not flushed: a run that stops during the first marker leaves the header only.
    file_ << int32_t{0} << '\t';
}

void ResultFile::caseControlLine(int32_t marker, double score, double minusLogP, double chiSquare,
                                 double chiSquareMinusLogP) {
    file_ << marker << '\t' << score << '\t' << minusLogP << '\t' << chiSquare << '\t'
          << chiSquareMinusLogP;
}

void ResultFile::traitLine(int32_t marker, double score, double minusLogP, const TraitTests& tests) {
    file_ << marker << '\t' << score << '\t' << minusLogP << '\t' << tests.t << '\t' << tests.welchT
          << '\t';
    // The degrees of freedom are written truncated toward zero; an undefined ratio as nan.
    if (std::isfinite(tests.dof)) {
        file_ << static_cast<int64_t>(tests.dof);
    } else {
        file_ << "nan";
    }
    file_ << '\t' << tests.u << '\t' << tests.z;
}

void ResultFile::endMarkerLine(bool beginNext, double nextDistance) {
    file_ << '\n';
    if (beginNext) file_ << nextDistance << '\t';
    file_.flush();
}

SummaryTails ResultFile::caseControlSummary(const CaseControlSummary& s) {
    // Both p-values first: a fatal error in the tails leaves no half summary.
    const double scoreLogP = -std::log10(chisqtail(s.score.value * s.score.value, 1));
    const double chiLogP = -std::log10(chisqtail(s.chiSquare.value, 1));
    file_ << "Orvane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
             "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n";
    file_.flush();
    file_ << s.score.marker << '\t' << s.score.value << '\t' << scoreLogP << '\t' << s.permutationP
          << '\t' << s.chiSquare.marker << '\t' << s.chiSquare.value << '\t' << chiLogP << '\n';
    file_.flush();
    return {scoreLogP, chiLogP, 0.0};
}

SummaryTails ResultFile::traitSummary(const TraitSummary& s, int32_t nHaplotypes) {
    const int df = nHaplotypes - 2;
    const double scoreLogP = traitScoreMinusLog10P(s.score.value, nHaplotypes);
    const double tLogP = -std::log10(tdisttail(s.t.value, df));
    const double zLogP = -std::log10(normaltail(s.z.value));
    file_ << "Orvane:predicted_Pos\tpredicted_QScore\t-log(p)\tpermutation_p-Value\t"
             "SingleSNP_predicted_Pos\tT statistic\t-log(p)\tpermutation_p-Value\t"
             "MWU_predicted_Pos\tpredict_ZScore\t-log(p)\tpermutation_p-Value\t\n";
    file_.flush();
    file_ << s.score.marker << '\t' << s.score.value << '\t' << scoreLogP << '\t'
          << s.permutationScore << '\t' << s.t.marker << '\t' << s.t.value << '\t' << tLogP << '\t'
          << s.permutationT << '\t' << s.z.marker << '\t' << s.z.value << '\t' << zLogP << '\t'
          << s.permutationZ << "\t\n";
    file_.flush();
    return {scoreLogP, tLogP, zLogP};
}

void ResultFile::close() { file_.close(); }

}  // namespace orvane
