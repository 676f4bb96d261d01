#include "sample_warnings.h"

#include <cstdio>
#include <set>

namespace orvane {

namespace {

std::string shortReal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

std::optional<std::string> twoValuedTraitWarning(const PhenotypeTable& phenotypes) {
    std::set<double> values;
    for (const auto& entry : phenotypes.byId) {
        values.insert(entry.second.trait);
        if (values.size() > 2) return std::nullopt;
    }
    if (values.size() != 2) return std::nullopt;
    return phenotypes.path + ": the trait column '" + phenotypes.columnName +
           "' holds only the values " + shortReal(*values.begin()) + " and " +
           shortReal(*values.rbegin()) +
           ": is it a case/control coding? then convert with --mode s";
}

std::optional<std::string> keptSamplesWarning(long kept, long inVcf) {
    if (kept >= kFewKeptSamples && 2 * kept >= inVcf) return std::nullopt;
    return "kept " + std::to_string(kept) + " of the VCF's " + std::to_string(inVcf) +
           " samples (" + (kept < kFewKeptSamples ? "fewer than " + std::to_string(kFewKeptSamples)
                                                  : std::string("fewer than half")) +
           "): check that the phenotype file's sample IDs match the VCF's and that its "
           "values are not mostly missing";
}

std::optional<std::string> leftOutWarning(const HaplotypeMatrix& m, const std::string& listPath) {
    if (m.leftOut.empty()) return std::nullopt;
    const size_t count = m.leftOut.size();
    std::string text = "left out " + std::to_string(count) + " sample" + (count == 1 ? "" : "s") + ": ";
    for (size_t k = 0; k < count && k < kLeftOutNamed; ++k) {
        if (k > 0) text += ", ";
        text += m.leftOut[k].name + " (" + m.leftOut[k].reason + ")";
    }
    if (count > kLeftOutNamed) text += " and " + std::to_string(count - kLeftOutNamed) + " more";
    return text + "; " + (count > kLeftOutNamed ? "all are" : "they are") + " listed in " + listPath;
}

}  // namespace orvane
