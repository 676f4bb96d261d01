// The haplotype data file (identifier, status or trait, alleles per line) and the
// optional file of distances between neighbouring markers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "model/analysis_state.h"
#include "model/warnings.h"

namespace orvane {

// Splits a line at runs of blanks, commas and tabs.
void splitFields(std::string_view line, std::vector<std::string_view>& fields);

// Reads the data file (line 1 is a header and skipped; the data end at the first
// empty line). Fills haplotypes, alleles, nHaplotypes, nMarkers and the status
// counts; `qtlMode` selects status or trait tokens. InputError on a bad line.
// With `warnings`, also notes lines left unread after an empty line and a
// single-gene file without affected or without unaffected haplotypes.
void readHaplotypeFile(AnalysisState& state, std::FILE* data, const std::string& fileName,
                       Warnings* warnings = nullptr);
void loadHaplotypeFile(AnalysisState& state, const std::string& path,
                       Warnings* warnings = nullptr);

// Fills markerDistances from the first line of the distance file (values in cM,
// stored x 0.01), or with 0.0001 per gap when no file is named (nullptr).
// With `warnings`, also notes a line with fewer or more values than gaps.
void readMarkerDistances(AnalysisState& state, const std::string* path,
                         Warnings* warnings = nullptr);

}  // namespace orvane
