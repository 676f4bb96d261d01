// A whole run on small inputs, in both modes. The input holds the data file, the
// parameter file and, optionally, the distance file, separated by lines "%%".
// Input, output and numerical errors are the tool's orderly stops; a crash, a
// sanitizer report, a leak or any other exception is a bug.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "driver/command_line.h"
#include "driver/run.h"
#include "model/analysis_state.h"
#include "model/input_error.h"
#include "model/parameter_file.h"
#include "stats/distribution_tails.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/parameter_text.h"

namespace {

// A replicate costs about haplotypes^2 x markers x windowSize: these bounds keep
// one execution well under a second under the sanitizers.
constexpr size_t kMaxDataBytes = 2048;
constexpr int32_t kMaxPermutations = 20;
constexpr int32_t kMaxWindowSize = 32;

constexpr std::string_view kSeparator = "\n%%\n";

struct Inputs {
    std::string_view data, parameters, distances;
    bool hasDistances = false;
};

Inputs split(std::string_view text) {
    Inputs in;
    size_t cut = text.find(kSeparator);
    in.data = text.substr(0, cut);
    if (cut == std::string_view::npos) return in;
    text.remove_prefix(cut + kSeparator.size());
    cut = text.find(kSeparator);
    in.parameters = text.substr(0, cut);
    if (cut == std::string_view::npos) return in;
    in.distances = text.substr(cut + kSeparator.size());
    in.hasDistances = true;
    return in;
}

// The parameter text as given, unless it asks for more replicates or a wider
// window than the bounds (a file that stops early asks for the default 1000
// replicates): then a file that sets every value the reader took from it,
// exactly, with those two clamped.
std::string boundedParameters(std::string_view text) {
    orvane::AnalysisState state;
    try {
        orvane::readParameterFile(state, text, "params.txt");
    } catch (const orvane::InputError&) {
        return std::string(text);  // the run stops at the same check
    }
    if (state.nPermutations <= kMaxPermutations && state.windowSize <= kMaxWindowSize) {
        return std::string(text);
    }
    state.nPermutations = std::min(state.nPermutations, kMaxPermutations);
    state.windowSize = std::min(state.windowSize, kMaxWindowSize);
    return orvane::fuzz::parameterText(state);
}

// The run writes "output" into the working directory: it runs inside the
// scratch directory, and the fuzzer's own directory is restored afterwards.
class InScratchDirectory {
public:
    InScratchDirectory() : home_(::open(".", O_RDONLY | O_DIRECTORY)) {
        if (home_ < 0 || ::chdir(orvane::fuzz::scratch().path().c_str()) != 0) __builtin_trap();
    }
    ~InScratchDirectory() {
        if (::fchdir(home_) != 0) __builtin_trap();
        ::close(home_);
    }

private:
    int home_;
};

bool exists(const char* path) { return ::access(path, F_OK) == 0; }

void runOnce(bool traitMode, bool hasDistances) {
    std::remove("output");
    std::remove("data.txt-results");
    orvane::CommandLine commandLine;
    commandLine.traitMode = traitMode;
    commandLine.dataFile = "data.txt";
    commandLine.parameterFile = "params.txt";
    if (hasDistances) commandLine.distanceFile = "dist.txt";
    try {
        if (orvane::runAnalysis(commandLine) != 0) __builtin_trap();
    } catch (const orvane::InputError&) {
        // An input error is found before any output file is touched.
        if (exists("output") || exists("data.txt-results")) __builtin_trap();
    } catch (const orvane::OutputError&) {
    } catch (const orvane::NumericalError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const Inputs in = split(std::string_view(reinterpret_cast<const char*>(bytes), size));
    if (in.data.size() > kMaxDataBytes) return -1;  // too slow to be worth a run

    const auto& scratch = orvane::fuzz::scratch();
    orvane::fuzz::writeFile(scratch.file("data.txt"), std::string(in.data));
    orvane::fuzz::writeFile(scratch.file("params.txt"), boundedParameters(in.parameters));
    if (in.hasDistances) orvane::fuzz::writeFile(scratch.file("dist.txt"), std::string(in.distances));

    InScratchDirectory here;
    runOnce(false, in.hasDistances);
    runOnce(true, in.hasDistances);
    return 0;
}
