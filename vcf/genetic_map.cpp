#include "genetic_map.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tool_error.h"

namespace orvane {

GeneticMap GeneticMap::constantRate(double cmPerMb) {
    GeneticMap map;
    map.cmPerMb_ = cmPerMb;
    return map;
}

namespace {

// Three numbers and nothing else; false when the line does not parse so.
bool parsePoint(const std::string& line, double& position, double& rate, double& cm) {
    std::istringstream in(line);
    std::string extra;
    return static_cast<bool>(in >> position >> rate >> cm) && !(in >> extra);
}

}  // namespace

GeneticMap GeneticMap::read(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw inputError(path + ": cannot open the genetic map: " + std::strerror(errno));
    std::vector<long> positions;
    std::vector<double> cm;
    std::string line;
    long lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        double position = 0, rate = 0, cumulative = 0;
        if (!parsePoint(line, position, rate, cumulative)) {
            if (lineNo == 1) continue;  // the header
            throw inputError(path + ":" + std::to_string(lineNo) +
                             ": expected three numbers: position, rate (cM/Mb), cumulative cM "
                             "(a map with a chromosome column: drop that column)");
        }
        if (position < 0 || position != std::floor(position) || !std::isfinite(cumulative) ||
            !std::isfinite(rate))
            throw inputError(path + ":" + std::to_string(lineNo) +
                             ": the position must be a whole number of base pairs and the "
                             "rate and cM finite");
        positions.push_back(static_cast<long>(position));
        cm.push_back(cumulative);
    }
    return fromPoints(std::move(positions), std::move(cm), path);
}

GeneticMap GeneticMap::fromPoints(std::vector<long> positions, std::vector<double> cm,
                                  const std::string& path) {
    if (positions.size() < 2 || positions.size() != cm.size())
        throw inputError(path + ": a genetic map needs at least two points");
    for (size_t i = 1; i < positions.size(); ++i) {
        if (positions[i] <= positions[i - 1])
            throw inputError(path + ": positions must increase (" +
                             std::to_string(positions[i]) + " follows " +
                             std::to_string(positions[i - 1]) + ")");
        if (cm[i] < cm[i - 1])
            throw inputError(path + ": cumulative cM decreases at position " +
                             std::to_string(positions[i]));
    }
    GeneticMap map;
    map.positions_ = std::move(positions);
    map.cm_ = std::move(cm);
    return map;
}

double GeneticMap::cmAt(long position) const {
    if (positions_.empty()) return static_cast<double>(position) * cmPerMb_ / 1e6;
    // The interval [lo, lo + 1] that holds the position, or the end interval
    // nearest to it.
    const auto upper = std::upper_bound(positions_.begin(), positions_.end(), position);
    size_t lo = static_cast<size_t>(upper - positions_.begin());
    lo = lo == 0 ? 0 : std::min(lo - 1, positions_.size() - 2);
    if (position == positions_[lo]) return cm_[lo];
    if (position == positions_[lo + 1]) return cm_[lo + 1];
    const double span = static_cast<double>(positions_[lo + 1] - positions_[lo]);
    const double slope = (cm_[lo + 1] - cm_[lo]) / span;
    return cm_[lo] + slope * static_cast<double>(position - positions_[lo]);
}

}  // namespace orvane
