// Warnings about the data and distance files: data the format reads but the
// user probably did not mean, or data that make the analysis mislead.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "model/warnings.h"

namespace orvane {

// A marker with a larger share of missing alleles than this gets a warning in
// single-gene mode, where each missing allele is filled from its own group.
constexpr double kMissingShareWarning = 0.05;

// Non-empty lines after the empty line that ends the data.
void warnAboutUnreadLines(const std::string& fileName, long emptyLine, long firstUnread, long unread,
                          Warnings& warnings);

// Single-gene mode without affected or without unaffected haplotypes, with a
// hint when `statuses` (the first distinct status tokens) look like another coding.
void warnAboutStatuses(const AnalysisState& state, const std::vector<std::string>& statuses,
                       const std::string& fileName, Warnings& warnings);

// Trait mode with every trait value equal.
void warnAboutTraits(const AnalysisState& state, const std::string& fileName, Warnings& warnings);

// Single-gene mode with more than kMissingShareWarning of some marker's alleles
// missing; call before the missing alleles are filled.
void warnAboutMissingAlleles(const AnalysisState& state, const std::string& fileName,
                             Warnings& warnings);

// A distance line with `values` values for `gaps` gaps.
void warnAboutDistanceCount(const std::string& fileName, size_t values, size_t gaps,
                            Warnings& warnings);

}  // namespace orvane
