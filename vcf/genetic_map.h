// Genetic positions (cM) of base-pair positions: a recombination map
// interpolated linearly, or a constant rate.
#pragma once

#include <string>
#include <vector>

namespace orvane {

class GeneticMap {
public:
    // A constant rate: cM = position x cmPerMb / 1e6.
    static GeneticMap constantRate(double cmPerMb);

    // Three columns per line: position (bp), rate (cM/Mb), cumulative cM. The
    // first line is taken as a header unless it is three numbers. Positions
    // must increase strictly and cM must not decrease; at least two points.
    // The rate column is checked to be a number but not used: the cumulative
    // column alone defines the map, so the two can never disagree.
    // Throws ToolError (kExitInput) naming the file and line.
    static GeneticMap read(const std::string& path);

    // Built from points directly (same checks as read, path used in messages).
    static GeneticMap fromPoints(std::vector<long> positions, std::vector<double> cm,
                                 const std::string& path);

    // Linear interpolation between the two map points around `position`; at
    // a map point, exactly its cM. Outside the map the line through the
    // nearest two map points is extended, so sites beyond the ends keep
    // gaps proportional to their physical distance at the local rate.
    double cmAt(long position) const;

private:
    double cmPerMb_ = 1.0;
    std::vector<long> positions_;  // empty: constant rate
    std::vector<double> cm_;
};

}  // namespace orvane
