// The parameter-file reader on arbitrary text. InputError is the reader's way of
// refusing a file; anything else escaping, a sanitizer report, a setting the
// reader let through that its own checks forbid, or settings that do not survive
// being written out and read back, is a bug. So are warnings that change a
// setting or that are not one line each.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/analysis_state.h"
#include "model/input_error.h"
#include "model/parameter_file.h"
#include "model/warnings.h"
#include "tests/fuzz/parameter_text.h"

namespace {

bool sameSettings(const orvane::AnalysisState& a, const orvane::AnalysisState& b) {
    for (int k = 0; k < 4; ++k) {
        if (a.distanceParams[k] != b.distanceParams[k]) return false;
    }
    return a.epsilon == b.epsilon && a.epsilonFraction == b.epsilonFraction &&
           a.minPtsQuantile == b.minPtsQuantile && a.windowSize == b.windowSize &&
           a.distanceType == b.distanceType && a.nPermutations == b.nPermutations &&
           a.reportThreshold == b.reportThreshold;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvane::AnalysisState state;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        orvane::readParameterFile(state, text, "params.txt");
    } catch (const orvane::InputError& error) {
        if (error.file() != "params.txt" || error.describe().empty()) __builtin_trap();
        return 0;
    }
    if (state.windowSize < 1) __builtin_trap();

    orvane::AnalysisState warned;
    orvane::Warnings warnings;
    orvane::readParameterFile(warned, text, "params.txt", &warnings);
    if (!sameSettings(state, warned)) __builtin_trap();
    for (const std::string& message : warnings.messages()) {
        if (message.empty() || message.find('\n') != std::string::npos) __builtin_trap();
    }

    orvane::AnalysisState again;
    orvane::readParameterFile(again, orvane::fuzz::parameterText(state), "params.txt");
    if (!sameSettings(state, again)) __builtin_trap();
    return 0;
}
