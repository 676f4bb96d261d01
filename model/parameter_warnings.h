// What the parameter reader saw beyond the values, and the warnings made of it:
// a file whose reading stopped early, values taken from part of a token, and
// settings the format accepts but that make no analysis or surprise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "model/warnings.h"

namespace orvane {

struct ReadNotes {
    const char* stoppedAt = nullptr;  // setting whose label or value could not be read
    bool endedEarly = false;          // the text ended there (no token at all)
    std::string stopToken;
    long stopLine = 0;
    int32_t epsilonMode = 0;
    bool epsilonModeRead = false;
    long epsilonModeLine = 0;
    long epsilonLine = 0;
    long minPtsQuantileLine = 0;
    long windowSizeLine = 0;
    long distanceTypeLine = 0;
    long permutationsLine = 0;
    std::string firstLabel;     // the file's first token, read as the first label
    std::string equalsLabel;    // the first label holding '=' (key=value written)
    long equalsLabelLine = 0;
    bool complete = false;      // every setting was read
    std::string trailingToken;  // first token after the last setting
    long trailingLine = 0;
    struct Partial {
        long line;
        const char* setting;
        std::string token;
        std::string rest;
        bool wholeNumberExpected;
    };
    std::vector<Partial> partial;
    // The settings read, in the file's order, by the names `describeSettings` uses.
    std::vector<std::string> settingsRead;
};

// Adds a warning for each thing in `notes` a user should hear of. The values in
// `state` are those the run will use.
void warnAboutSettings(const AnalysisState& state, const ReadNotes& notes,
                       const std::string& fileName, Warnings& warnings);

// Every setting as the run will use it, in the file's order, its value as
// text; `read` when the file set it (else it keeps its default).
struct SettingValue {
    std::string name;
    std::string value;
    bool read = false;
};
std::vector<SettingValue> settingValues(const AnalysisState& state, const ReadNotes& notes);

// One line "NAME VALUE" per setting as the run will use it: those the file set
// in its order, then those left at their defaults, marked " (default)".
std::string describeSettings(const AnalysisState& state, const ReadNotes& notes);

}  // namespace orvane
