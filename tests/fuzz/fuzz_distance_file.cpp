// The distance-file reader on arbitrary text, for a map of 0 to 15 markers: the
// first byte modulo 16 (so the digits '0' to '9' name themselves), the rest is
// the file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "tests/fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string path = orvane::fuzz::scratch().file("dist.txt");
    orvane::fuzz::writeFile(path, data + 1, size - 1);
    orvane::AnalysisState state;
    state.nMarkers = data[0] % 16;
    try {
        orvane::readMarkerDistances(state, &path);
    } catch (const orvane::InputError& error) {
        if (error.file() != path) __builtin_trap();
        return 0;
    }
    // One finite, non-negative gap between every two neighbouring markers.
    const size_t gaps = state.nMarkers > 0 ? static_cast<size_t>(state.nMarkers - 1) : 0;
    if (state.markerDistances.size() != gaps) __builtin_trap();
    for (const double gap : state.markerDistances) {
        if (!std::isfinite(gap) || gap < 0.0) __builtin_trap();
    }
    return 0;
}
