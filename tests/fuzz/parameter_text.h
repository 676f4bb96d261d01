// A parameter file that sets every value of a state's settings exactly: reading it
// back gives the same settings. The whole-run target uses it to clamp settings,
// and the parameter target checks the round trip.
#pragma once

#include <cstdio>
#include <string>

#include "model/analysis_state.h"

namespace orvane::fuzz {

inline std::string exactReal(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline std::string parameterText(const AnalysisState& state) {
    // Epsilon mode 1 with the default radius leaves the same state as any other
    // mode that sets no radius.
    std::string out = "epsilon ";
    out += state.epsilonFraction != 0.0 ? "2 " + exactReal("%.17g", state.epsilonFraction)
                                        : "1 " + exactReal("%.17g", state.epsilon);
    out += "\nminPtsQuantile " + exactReal("%.17g", state.minPtsQuantile);
    out += "\nwindowSize " + std::to_string(state.windowSize);
    out += "\ndistanceType " + std::to_string(state.distanceType);
    int params = 0;
    switch (state.distanceType) {
        case 1: case 2: case 6: params = 2; break;
        case 3: params = 1; break;
        case 4: case 5: params = 4; break;
        default: break;
    }
    for (int k = 0; k < params; ++k) out += " " + exactReal("%.17g", state.distanceParams[k]);
    out += "\npermutations " + std::to_string(state.nPermutations);
    out += "\nreportThreshold " + exactReal("%.9g", static_cast<double>(state.reportThreshold)) + "\n";
    return out;
}

}  // namespace orvane::fuzz
