#include "model/scan_warnings.h"

#include "model/text_output.h"

namespace orvane {

Warnings warnAboutWindowSize(const AnalysisState& state, const std::string& parameterFile,
                             const std::string& dataFile) {
    Warnings warnings;
    if (state.windowSize > state.nMarkers) {
        warnings.add(parameterFile, 0,
                     "windowSize " + std::to_string(state.windowSize) + " is larger than the " +
                         std::to_string(state.nMarkers) + " markers of " + dataFile +
                         ": every window covers the whole map, so every marker has the same "
                         "clusters; give a window of at most " + std::to_string(state.nMarkers) +
                         " markers");
    }
    return warnings;
}

Warnings warnAboutScan(const AnalysisState& state, const ScanCounts& counts, NoClusterMeaning meaning) {
    Warnings warnings;
    if (counts.noClusterAnywhere()) {
        const std::string consequence =
            meaning == NoClusterMeaning::PredictedPosition
                ? "the predicted position and its permutation p-value are conventions that mean nothing"
                : "the cluster statistic has no peak and no interval (its rows say NA)";
        warnings.add("", 0,
                     "no window formed a cluster that could be scored, so every cluster score is " +
                         std::string(state.qtlMode ? "-1e+07" : "0") + ": " + consequence +
                         "; try a larger epsilon or a smaller minPtsQuantile");
    }
    if (counts.zeroRadius > 0) {
        warnings.add("", 0,
                     "the radius came out 0 in " + std::to_string(counts.zeroRadius) + " of " +
                         std::to_string(counts.windows) +
                         " windows: more than the epsilon fraction " + formatReal(state.epsilonFraction) +
                         " of their haplotype pairs are closer than 0.1 (identical, or differing only "
                         "at markers of little weight), so no two haplotypes are neighbours there; "
                         "give a fraction above the share of such pairs");
    }
    return warnings;
}

}  // namespace orvane
