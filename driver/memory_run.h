// A run on haplotypes held in memory, for the Python package: the inputs come
// as arrays and parameter text instead of files, are checked with the command
// line's checks and messages, and the analysis takes the command line's steps,
// so that its numbers and its random stream are those of `orvane` on the same
// data. The result file, run record and cluster report are written into a
// folder the caller owns (nothing is written when an input check fails).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line.h"

namespace orvane {

struct MemoryInputs {
    bool traitMode = false;
    // Row-major, haplotypes x markers; 0 marks a missing allele.
    const int64_t* alleles = nullptr;
    int64_t haplotypes = 0;
    int64_t markers = 0;
    // One value per haplotype: 1 affected and 0 not, or the trait value.
    const double* phenotype = nullptr;
    int64_t phenotypeLength = 0;
    // The parameter file's text.
    std::string parameters;
    // Gaps between neighbouring markers in cM, as the distance file gives them;
    // none: 0.0001 Morgans each, as without a distance file.
    std::optional<std::vector<double>> distances;
    PermutationScheme permutation = PermutationScheme::Joint;
    // The generator's starting state; none: the command line's.
    std::optional<uint32_t> seed;
    // Threads, as ORVANE_THREADS would give them; none: as the command line chooses.
    std::optional<std::string> threads;
};

struct MemoryOutputs {
    std::string resultFile;     // the block the command line appends
    std::string recordLine;     // the run record's line
    std::string clusterReport;  // "output"; empty unless asked for
    std::vector<std::string> warnings;
};

// Throws InputError (file: "alleles", "phenotype", "parameters" or
// "distances") before anything is written; NumericalError and OutputError as
// the command line's run does. `folder` must exist and is written into.
MemoryOutputs runInMemory(const MemoryInputs& inputs, const std::string& folder, bool clusterReport);

}  // namespace orvane
