// The parameter file: a fixed sequence of labels and values, read token by token.
#pragma once

#include <string>
#include <string_view>

#include "model/analysis_state.h"
#include "model/parameter_warnings.h"
#include "model/warnings.h"

namespace orvane {

// Reads the settings from the text of a parameter file into `state`. Reading
// stops at the first token that is not the number expected there; that setting
// and all later ones keep their values. Then checks the settings that would make
// the analysis meaningless and throws InputError naming `fileName` and the line.
// With `warnings`, also notes what was read but probably not meant: where
// reading stopped, values taken from part of a token, settings out of range;
// with `notes`, what was read where. A file of numbers only that fails the
// checks is probably the distance file: the error says so. A file with content
// from which not even the epsilon mode can be read is an InputError as well (an
// empty or blank file gives every default).
void readParameterFile(AnalysisState& state, std::string_view text, const std::string& fileName,
                       Warnings* warnings = nullptr, ReadNotes* notes = nullptr);

// True when the text has the shape of a data file: a first line, then lines of
// an identifier, a second field and integer allele codes, as many on each.
bool looksLikeDataFile(std::string_view text);

// Opens and reads the parameter file; InputError when it cannot be read.
void loadParameterFile(AnalysisState& state, const std::string& path,
                       Warnings* warnings = nullptr, ReadNotes* notes = nullptr);

// Reads a whole file into `text`; false (with errno set) when it cannot be read.
bool readWholeFile(const std::string& path, std::string& text);

}  // namespace orvane
