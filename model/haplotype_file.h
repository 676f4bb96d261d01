// The haplotype data file (identifier, status or trait, alleles per line) and the
// optional file of distances between neighbouring markers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {

// Splits a line at runs of blanks, commas and tabs.
void splitFields(std::string_view line, std::vector<std::string_view>& fields);

// Reads the data file (line 1 is a header and skipped; the data end at the first
// empty line). Fills haplotypes, alleles, nHaplotypes, nMarkers and the status
// counts; `qtlMode` selects status or trait tokens. InputError on a bad line.
void readHaplotypeFile(AnalysisState& state, std::FILE* data, const std::string& fileName);
void loadHaplotypeFile(AnalysisState& state, const std::string& path);

// Fills markerDistances from the first line of the distance file (values in cM,
// stored x 0.01), or with 0.0001 per gap when no file is named (nullptr).
void readMarkerDistances(AnalysisState& state, const std::string* path);

}  // namespace orvane
