#include "model/parameter_warnings.h"

#include <utility>

#include "model/text_output.h"

namespace orvane {

namespace {

// The settings in file order, from `first` on, with the values the run keeps.
std::string settingsFrom(const AnalysisState& state, const ReadNotes& notes, const char* first) {
    std::vector<std::pair<std::string, std::string>> settings;
    if (notes.epsilonModeRead && notes.epsilonMode == 2) {
        settings.emplace_back("epsilon", "fraction " + formatReal(state.epsilonFraction));
    } else {
        settings.emplace_back("epsilon", formatReal(state.epsilon));
    }
    settings.emplace_back("minPtsQuantile", formatReal(state.minPtsQuantile));
    settings.emplace_back("windowSize", std::to_string(state.windowSize));
    settings.emplace_back("distanceType", std::to_string(state.distanceType));
    // Only the parameters the type reads are settings of the file.
    for (int k = 0; k < distanceParameterCount(state.distanceType); ++k) {
        settings.emplace_back("distanceType p" + std::to_string(k + 1), formatReal(state.distanceParams[k]));
    }
    settings.emplace_back("permutations", std::to_string(state.nPermutations));
    settings.emplace_back("reportThreshold", formatReal(state.reportThreshold));

    // The mode and its value are one setting.
    if (std::string(first) == "epsilon mode") first = "epsilon";
    std::string text;
    bool on = false;
    for (const auto& [name, value] : settings) {
        on = on || name == first;
        if (!on) continue;
        if (!text.empty()) text += ", ";
        text += name + " " + value;
    }
    return text;
}

void warnAboutStop(const AnalysisState& state, const ReadNotes& notes, const std::string& fileName,
                   Warnings& warnings) {
    const std::string kept = settingsFrom(state, notes, notes.stoppedAt);
    if (notes.endedEarly) {
        warnings.add(fileName, 0,
                     std::string("the file ends before ") + notes.stoppedAt + ", so these keep their defaults: " +
                         kept + "; give every setting, one label and its value(s) each");
        return;
    }
    const bool equals = notes.stopToken.find('=') != std::string::npos;
    warnings.add(fileName, notes.stopLine,
                 "reading stopped at " + quoteToken(notes.stopToken) + ", where " + notes.stoppedAt +
                     " needs a number, so these keep their defaults: " + kept +
                     (equals ? "; labels and values are separated by blanks, not '='"
                             : "; the file takes no comments: keep only the labels and their values"));
}

void warnAboutPartialTokens(const ReadNotes& notes, const std::string& fileName,
                            Warnings& warnings) {
    for (const ReadNotes::Partial& partial : notes.partial) {
        const std::string used = partial.token.substr(0, partial.token.size() - partial.rest.size());
        warnings.add(fileName, partial.line,
                     std::string(partial.setting) + " is read as " + used + " from " +
                         quoteToken(partial.token) + (partial.wholeNumberExpected ? " (a whole number is expected)" : "") +
                         ", and the rest " + quoteToken(partial.rest) +
                         " is read as the next label; write the value alone, as " +
                         (partial.wholeNumberExpected ? "a whole number" : "a decimal number"));
    }
}

void warnAboutRanges(const AnalysisState& state, const ReadNotes& notes, const std::string& fileName,
                     Warnings& warnings) {
    if (notes.epsilonModeRead && notes.epsilonMode != 1 && notes.epsilonMode != 2) {
        warnings.add(fileName, notes.epsilonModeLine,
                     "epsilon mode " + std::to_string(notes.epsilonMode) +
                         " is neither 1 (a fixed radius) nor 2 (a fraction of pairs): no value is read "
                         "for it, so the value after it is taken as the next label and later settings "
                         "shift; use 1 or 2");
    }
    if (notes.epsilonModeRead && notes.epsilonMode == 2 && notes.epsilonLine > 0 &&
        !(state.epsilonFraction > 0.0 && state.epsilonFraction <= 1.0)) {
        warnings.add(fileName, notes.epsilonLine,
                     "the epsilon fraction " + formatReal(state.epsilonFraction) +
                         " is outside (0, 1]: it is the share of haplotype pairs closer than the "
                         "radius, so no radius is derived as meant; give a fraction such as 0.1");
    }
    if (notes.minPtsQuantileLine > 0 && !(state.minPtsQuantile >= 0.0 && state.minPtsQuantile <= 1.0)) {
        warnings.add(fileName, notes.minPtsQuantileLine,
                     "minPtsQuantile " + formatReal(state.minPtsQuantile) +
                         " is outside [0, 1]: the core threshold is taken from the smallest or "
                         "largest neighbour count instead; give a quantile between 0 and 1");
    }
    if (notes.distanceTypeLine > 0 && (state.distanceType < 0 || state.distanceType > 6)) {
        warnings.add(fileName, notes.distanceTypeLine,
                     "distanceType " + std::to_string(state.distanceType) +
                         " is not one of 0 to 6: it reads no parameter and weighs the markers by "
                         "their plain map distance from the centre; use 1 to 6 for a defined measure");
    }
    if (notes.permutationsLine > 0 && state.nPermutations < 0) {
        warnings.add(fileName, notes.permutationsLine,
                     "permutations " + std::to_string(state.nPermutations) +
                         " is negative: the permutation test is skipped and its p-values read 0, "
                         "which otherwise means beyond every replicate; give 0 to skip the test or "
                         "a positive count such as 1000");
    }
}

}  // namespace

std::vector<SettingValue> settingValues(const AnalysisState& state, const ReadNotes& notes) {
    std::vector<SettingValue> settings;
    const auto add = [&](const std::string& name, const std::string& value) {
        bool read = false;
        for (const std::string& name_ : notes.settingsRead) read = read || name_ == name;
        settings.push_back({name, value, read});
    };
    add("epsilonMode", std::to_string(notes.epsilonModeRead ? notes.epsilonMode : 0));
    if (notes.epsilonModeRead && notes.epsilonMode == 2) {
        add("epsilonFraction", formatReal(state.epsilonFraction));
    } else {
        add("epsilon", formatReal(state.epsilon));
    }
    add("minPtsQuantile", formatReal(state.minPtsQuantile));
    add("windowSize", std::to_string(state.windowSize));
    add("distanceType", std::to_string(state.distanceType));
    for (int k = 0; k < distanceParameterCount(state.distanceType); ++k) {
        add("distanceParam" + std::to_string(k + 1), formatReal(state.distanceParams[k]));
    }
    add("permutations", std::to_string(state.nPermutations));
    add("reportThreshold", formatReal(state.reportThreshold));
    return settings;
}

std::string describeSettings(const AnalysisState& state, const ReadNotes& notes) {
    const std::vector<SettingValue> settings = settingValues(state, notes);
    std::string text;
    for (const SettingValue& setting : settings) {
        if (setting.read) text += setting.name + " " + setting.value + "\n";
    }
    for (const SettingValue& setting : settings) {
        if (!setting.read) text += setting.name + " " + setting.value + " (default)\n";
    }
    return text;
}

void warnAboutSettings(const AnalysisState& state, const ReadNotes& notes,
                       const std::string& fileName, Warnings& warnings) {
    if (!notes.equalsLabel.empty()) {
        warnings.add(fileName, notes.equalsLabelLine,
                     "the label " + quoteToken(notes.equalsLabel) +
                         " holds '=', so what follows '=' is read as part of the label, not as a value, "
                         "and the values after it shift; separate labels and values by blanks, as in "
                         "'epsilon 2 0.3'");
    }
    warnAboutPartialTokens(notes, fileName, warnings);
    if (notes.stoppedAt != nullptr) warnAboutStop(state, notes, fileName, warnings);
    if (notes.complete && !notes.trailingToken.empty()) {
        warnings.add(fileName, notes.trailingLine,
                     "the text after the last setting (reportThreshold) is ignored, from " +
                         quoteToken(notes.trailingToken) +
                         "; if it was meant as a setting, an earlier label or value is missing or split");
    }
    warnAboutRanges(state, notes, fileName, warnings);
}

}  // namespace orvane
