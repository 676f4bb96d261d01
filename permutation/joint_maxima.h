// What a joint permutation run gives: per statistic, the regional maximum of
// every replicate drawn. The scorers fill it and the test reads its p-values
// from it, so it sits below both.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// The statistics of a mode, in the order of `JointMaxima::byStatistic`.
enum CaseControlStatistic { kCaseControlCluster = 0, kCaseControlChiSquare = 1, kCaseControlStatistics = 2 };
enum TraitStatistic { kTraitCluster = 0, kTraitT = 1, kTraitZ = 2, kTraitStatistics = 3 };

// Per statistic, the regional maximum of every replicate: the largest of its
// markers' values that are numbers, -inf when none is.
struct JointMaxima {
    std::vector<std::vector<double>> byStatistic;
    // An adaptive run that stopped early: byStatistic holds the replicates
    // drawn, and `hits` each statistic's count of them at least its observed maximum.
    bool stoppedEarly = false;
    std::vector<int64_t> hits;
};

}  // namespace orvane
