// The parameter file: a fixed sequence of labels and values, read token by token.
#pragma once

#include <string>
#include <string_view>

#include "model/analysis_state.h"

namespace orvane {

// Reads the settings from the text of a parameter file into `state`. Reading
// stops at the first token that is not the number expected there; that setting
// and all later ones keep their values. Then checks the settings that would make
// the analysis meaningless and throws InputError naming `fileName` and the line.
void readParameterFile(AnalysisState& state, std::string_view text, const std::string& fileName);

// Opens and reads the parameter file; InputError when it cannot be read.
void loadParameterFile(AnalysisState& state, const std::string& path);

// Reads a whole file into `text`; false (with errno set) when it cannot be read.
bool readWholeFile(const std::string& path, std::string& text);

}  // namespace orvane
