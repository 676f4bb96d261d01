// Interval constructions over the markers of a scan: the shortest run holding a
// share of some weights, weights from the scores (a support interval), and the
// credible set of single-marker approximate Bayes factors.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// Markers first .. last (from 0, inclusive) and the share of the weight they hold.
struct MarkerRun {
    int32_t first = 0;
    int32_t last = 0;
    double share = 0.0;
    int32_t markers() const { return last - first + 1; }
};

// The shortest run of consecutive markers whose weights (non-negative) add up to
// at least `level` of their total; among runs of that length the one holding
// most, then the earliest. All weights zero: the whole map. With `holding` (a
// marker, from 0) only runs that contain that marker count: the shortest run
// alone may leave out a narrow peak beside a broad shoulder of nearly equal
// weights, and an interval around a statistic must hold its own peak.
MarkerRun shortestRunHolding(const std::vector<double>& weights, double level,
                             int32_t holding = -1);

// Weights exp(-scale / 2 x (max e - e) / max e) of the evidences e (chi-square
// like; max e taken as at least 1), normalised to sum to 1: each marker weighs by
// how far its evidence falls short of the best as a share of the best. The
// share, not the absolute drop, because the scores' excursions away from the
// locus grow with the signal: on simulated studies an absolute drop that held
// the level for weak effects fell far short for strong ones, while a relative
// one held it at every effect size. A smaller scale flattens the weights (a
// wider interval). Evidence that is not finite weighs 0; no finite evidence at
// all gives equal weights.
std::vector<double> supportWeights(const std::vector<double>& evidence, double scale);

// Wakefield's approximate Bayes factor of an effect with squared normal score
// z2, estimate variance `variance` and prior variance `prior`, as its logarithm.
// An infinite variance (no information) gives log 1 = 0.
double logWakefieldFactor(double z2, double variance, double prior);

// Posterior probabilities of "this marker is the causal one" under a single
// causal marker and equal prior odds: the factors normalised to sum to 1.
std::vector<double> posteriorFromLogFactors(const std::vector<double>& logFactors);

// The credible set: markers taken by decreasing posterior (ties: earlier marker
// first) until they hold `level`; returned as the run from its first to its last
// marker, with the share the set itself holds.
MarkerRun credibleSpan(const std::vector<double>& posterior, double level);

}  // namespace orvane
