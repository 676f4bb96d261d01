// The data-file reader on arbitrary text. The first byte picks the mode ('q'
// trait, anything else single-gene), the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "model/analysis_state.h"
#include "model/data_warnings.h"
#include "model/haplotype_file.h"
#include "model/warnings.h"
#include "model/input_error.h"

namespace {

// Whatever the reader accepts must be a consistent record: the later stages
// index the allele matrix by these counts without further checks.
void checkRecord(const orvane::AnalysisState& state) {
    const size_t rows = static_cast<size_t>(state.nHaplotypes);
    const size_t columns = static_cast<size_t>(state.nMarkers);
    if (state.nHaplotypes < 1 || state.nMarkers < 1) __builtin_trap();
    if (state.haplotypes.size() != rows || state.alleles.size() != rows * columns) __builtin_trap();
    if (state.qtlMode) {
        if (state.nAffected != 0 || state.nUnaffected != 0) __builtin_trap();
    } else {
        if (state.nAffected + state.nUnaffected != state.nHaplotypes) __builtin_trap();
        int32_t affected = 0;
        for (const auto& record : state.haplotypes) affected += record.status;
        if (affected != state.nAffected) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    orvane::AnalysisState state;
    state.qtlMode = data[0] == 'q' ? 1 : 0;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "r");
    if (file == nullptr) __builtin_trap();
    // Read once without and once with warnings: the same record either way.
    orvane::AnalysisState warned;
    warned.qtlMode = state.qtlMode;
    orvane::Warnings warnings;
    bool refused = false;
    try {
        orvane::readHaplotypeFile(state, file, "data.txt");
        checkRecord(state);
    } catch (const orvane::InputError& error) {
        if (error.file() != "data.txt") __builtin_trap();
        refused = true;
    }
    std::rewind(file);
    try {
        orvane::readHaplotypeFile(warned, file, "data.txt", &warnings);
        orvane::warnAboutMissingAlleles(warned, "data.txt", warnings);
        if (refused || warned.alleles != state.alleles || warned.nHaplotypes != state.nHaplotypes) {
            __builtin_trap();
        }
    } catch (const orvane::InputError&) {
        if (!refused) __builtin_trap();
    }
    for (const std::string& message : warnings.messages()) {
        if (message.empty() || message.find('\n') != std::string::npos) __builtin_trap();
    }
    std::fclose(file);
    return 0;
}
