// Splitting the lines of the plain-text tables the converter reads
// (phenotypes, covariates).
#pragma once

#include <string>
#include <vector>

namespace orvane {

// The text without leading and trailing blanks, tabs and carriage returns.
std::string trimmed(const std::string& s);

// Tab-separated (byTab: every tab starts a field, so empty fields keep their
// place) or separated by runs of blanks and tabs.
std::vector<std::string> splitFields(const std::string& line, bool byTab);

std::string lowerCase(std::string s);

}  // namespace orvane
