// The scale of the support interval's weights, per statistic and mode, set by
// bench/locate_calibrate.py on simulated studies of two population histories
// (README.md, "Where is the locus"): the largest scale whose intervals held the
// locus in at least 95 % of the calibration studies of every setting with a
// detectable signal. Set at the level 0.95; other levels use the same scales,
// unmeasured.
#pragma once

#include "locate/locus_scan.h"

namespace orvane {

inline double supportScale(Statistic statistic, bool traitMode) {
    switch (statistic) {
        case Statistic::Cluster: return traitMode ? 9.0 : 5.0;
        case Statistic::ChiSquare: return 13.0;
        case Statistic::T: return 13.0;
        case Statistic::Z: return 13.0;
    }
    return 5.0;
}

// Prior variances of the single-marker effect in the Wakefield factors: a log
// odds ratio with standard deviation 0.2, a mean shift of 0.15 trait standard
// deviations.
constexpr double kCaseControlPriorVariance = 0.04;
constexpr double kTraitPriorVariance = 0.0225;

}  // namespace orvane
