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

}  // namespace orvane
