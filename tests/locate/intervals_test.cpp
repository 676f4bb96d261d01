#include "locate/intervals.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace orvane {
namespace {

struct RunCase {
    const char* name;
    std::vector<double> weights;
    double level;
    int32_t first;
    int32_t last;
    double share;
};

TEST(ShortestRunHolding, HandWorkedCases) {
    const std::vector<RunCase> cases = {
        {"one marker holds it", {0.0, 0.0, 1.0, 0.0, 0.0}, 0.95, 2, 2, 1.0},
        // Runs of two holding half: [1,2] with 0.5 and [2,3] with 0.7; the fuller wins.
        {"fuller of equal length", {0.1, 0.2, 0.3, 0.4}, 0.5, 2, 3, 0.7},
        {"equal length and share: earlier", {0.5, 0.0, 0.5}, 0.5, 0, 0, 0.5},
        {"far apart: the whole span", {1.0, 0.0, 0.0, 1.0}, 0.95, 0, 3, 1.0},
        {"no weight: the whole map", {0.0, 0.0, 0.0}, 0.95, 0, 2, 1.0},
        // Ten shares of 0.1 do not add up to 0.7 exactly; seven still hold it.
        {"rounding", std::vector<double>(10, 0.1), 0.7, 0, 6, 0.7},
        {"counts need not be normalised", {3, 1, 5, 1, 0}, 0.8, 0, 2, 0.9},
    };
    for (const RunCase& c : cases) {
        const MarkerRun run = shortestRunHolding(c.weights, c.level);
        EXPECT_EQ(run.first, c.first) << c.name;
        EXPECT_EQ(run.last, c.last) << c.name;
        EXPECT_NEAR(run.share, c.share, 1e-12) << c.name;
    }
}

TEST(ShortestRunHolding, NoShorterRunHoldsTheLevel) {
    // Every shorter run, checked by brute force, holds less than the level.
    const std::vector<double> w = {0.02, 0.1, 0.03, 0.25, 0.05, 0.3, 0.01, 0.2, 0.04};
    const MarkerRun run = shortestRunHolding(w, 0.8);
    for (int32_t a = 0; a < static_cast<int32_t>(w.size()); ++a) {
        double sum = 0.0;
        for (int32_t b = a; b < static_cast<int32_t>(w.size()) && b - a + 1 < run.markers(); ++b) {
            sum += w[static_cast<size_t>(b)];
            EXPECT_LT(sum, 0.8) << a << ".." << b;
        }
    }
    EXPECT_GE(run.share, 0.8);
}

struct HoldingCase {
    const char* name;
    std::vector<double> weights;
    double level;
    int32_t holding;
    int32_t first;
    int32_t last;
};

TEST(ShortestRunHolding, HoldsTheGivenMarker) {
    // A narrow peak at marker 0, a gap, and a broad shoulder of nearly its
    // height: ten markers of the shoulder hold the level, the peak must still be
    // inside (0.06 + 0 + 9 x 0.05 of 0.96).
    std::vector<double> shoulder(20, 0.05);
    shoulder[0] = 0.06;
    shoulder[1] = 0.0;
    const std::vector<HoldingCase> cases = {
        {"peak at the start", shoulder, 0.5, 0, 0, 10},
        {"peak at the end", {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 0.3, 9, 7, 9},
        {"already inside", {0.0, 0.2, 0.6, 0.2, 0.0}, 0.9, 2, 1, 3},
        {"held alone", {0.3, 0.0, 0.0, 0.0, 0.7}, 0.5, 4, 4, 4},
        {"beyond the map: the last marker", {0.5, 0.5}, 0.5, 7, 1, 1},
    };
    for (const HoldingCase& c : cases) {
        const MarkerRun run = shortestRunHolding(c.weights, c.level, c.holding);
        EXPECT_EQ(run.first, c.first) << c.name;
        EXPECT_EQ(run.last, c.last) << c.name;
    }
    // Without the marker, the shoulder alone.
    EXPECT_EQ(shortestRunHolding(shoulder, 0.5).first, 2);
}

TEST(ShortestRunHolding, NoShorterRunThroughTheMarkerHoldsTheLevel) {
    const std::vector<double> w = {0.02, 0.1, 0.03, 0.25, 0.05, 0.3, 0.01, 0.2, 0.04};
    const int32_t n = static_cast<int32_t>(w.size());
    for (int32_t holding = 0; holding < n; ++holding) {
        const MarkerRun run = shortestRunHolding(w, 0.6, holding);
        EXPECT_LE(run.first, holding);
        EXPECT_GE(run.last, holding);
        EXPECT_GE(run.share, 0.6 - 1e-12);
        for (int32_t a = 0; a <= holding; ++a) {
            double sum = 0.0;
            for (int32_t b = a; b < n && b - a + 1 < run.markers(); ++b) {
                sum += w[static_cast<size_t>(b)];
                if (b >= holding) {
                    EXPECT_LT(sum, 0.6) << holding << ": " << a << ".." << b;
                }
            }
        }
    }
}

TEST(SupportWeights, ExponentialInTheRelativeDrop) {
    // Best evidence 4, scale 4: exp(-(4 - e) / 2).
    const std::vector<double> w = supportWeights({0.0, 2.0, 4.0}, 4.0);
    const double total = std::exp(-2.0) + std::exp(-1.0) + 1.0;
    EXPECT_NEAR(w[0], std::exp(-2.0) / total, 1e-15);
    EXPECT_NEAR(w[1], std::exp(-1.0) / total, 1e-15);
    EXPECT_NEAR(w[2], 1.0 / total, 1e-15);
    // Half the scale: half the exponent.
    const std::vector<double> flat = supportWeights({0.0, 2.0, 4.0}, 2.0);
    EXPECT_NEAR(flat[0] / flat[2], std::exp(-1.0), 1e-15);
    // Ten times the evidence, same shares of the best: the same weights.
    const std::vector<double> strong = supportWeights({0.0, 20.0, 40.0}, 4.0);
    for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(strong[k], w[k], 1e-15);
    // Best evidence below 1 counts as 1: exp(-scale / 2 x drop).
    const std::vector<double> weak = supportWeights({0.0, 0.5}, 2.0);
    EXPECT_NEAR(weak[0] / weak[1], std::exp(-0.5), 1e-15);
}

TEST(SupportWeights, EvidenceThatIsNoNumber) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> w = supportWeights({-inf, 3.0, 3.0}, 2.0);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_DOUBLE_EQ(w[1], 0.5);
    const std::vector<double> none = supportWeights({-inf, -inf}, 1.0);
    EXPECT_DOUBLE_EQ(none[0], 0.5);
    EXPECT_DOUBLE_EQ(none[1], 0.5);
}

TEST(WakefieldFactor, HandComputed) {
    // V = W: r = 1/2, log ABF = 1/2 log(1/2) + z^2/4.
    EXPECT_NEAR(logWakefieldFactor(4.0, 0.04, 0.04), 0.5 * std::log(0.5) + 1.0, 1e-15);
    // V = 3W: r = 1/4, log ABF = 1/2 log(3/4) + z^2/8.
    EXPECT_NEAR(logWakefieldFactor(9.0, 0.12, 0.04), 0.5 * std::log(0.75) + 9.0 / 8.0, 1e-15);
    EXPECT_EQ(logWakefieldFactor(25.0, std::numeric_limits<double>::infinity(), 0.04), 0.0);
}

TEST(WakefieldFactor, PosteriorAndCredibleSet) {
    const std::vector<double> p = posteriorFromLogFactors({0.0, std::log(3.0)});
    EXPECT_NEAR(p[0], 0.25, 1e-15);
    EXPECT_NEAR(p[1], 0.75, 1e-15);
    // Taken by decreasing posterior: 0.5, then 0.4 (0.9), then 0.05 (0.95).
    const std::vector<double> post = {0.5, 0.05, 0.05, 0.4};
    MarkerRun run = credibleSpan(post, 0.9);
    EXPECT_EQ(run.first, 0);
    EXPECT_EQ(run.last, 3);
    EXPECT_NEAR(run.share, 0.9, 1e-12);
    run = credibleSpan(post, 0.5);
    EXPECT_EQ(run.first, 0);
    EXPECT_EQ(run.last, 0);
    // Equal posteriors: the earlier marker comes first.
    run = credibleSpan({0.1, 0.3, 0.3, 0.3}, 0.3);
    EXPECT_EQ(run.first, 1);
    EXPECT_EQ(run.last, 1);
}

}  // namespace
}  // namespace orvane
