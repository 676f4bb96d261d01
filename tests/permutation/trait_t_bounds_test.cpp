#include "permutation/trait_t_bounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "model/analysis_state.h"
#include "scoring/trait_scoring.h"

namespace orvane {
namespace {

struct Values {
    std::string name;
    std::vector<double> values;
};

// Values of several kinds: standardised, skewed with an outlier, of widely
// different sizes, nearly constant, and in the tens of thousands.
std::vector<Values> valueKinds(int32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<Values> kinds = {{"normal", {}}, {"outlier", {}}, {"wide", {}}, {"nearly constant", {}}, {"large", {}}};
    for (int32_t h = 0; h < n; ++h) {
        const double z = normal(rng);
        kinds[0].values.push_back(static_cast<float>(z));
        kinds[1].values.push_back(h == 7 ? 1e6 : static_cast<float>(std::exp(z)));
        kinds[2].values.push_back(std::ldexp(z, static_cast<int>(rng() % 40) - 20));
        kinds[3].values.push_back(h % 97 == 0 ? 1.0 + 1e-9 : 1.0);
        kinds[4].values.push_back(std::round(40000.0 + 3000.0 * z));
    }
    return kinds;
}

AnalysisState stateOf(const std::vector<double>& values) {
    AnalysisState state;
    state.qtlMode = 1;
    state.nHaplotypes = static_cast<int32_t>(values.size());
    state.haplotypes.resize(values.size());
    for (size_t h = 0; h < values.size(); ++h) state.haplotypes[h].trait = values[h];
    prepareTraitStatistics(state);
    return state;
}

TEST(TraitTBounds, TheScansTLiesInTheIntervalOfAnyOtherSum) {
    // Sets of every size, summed by the scan (ascending members) and, as a
    // fast pass would, backwards in long double: the scan's t must lie in
    // the interval, and a well-posed t's interval must be narrow.
    const int32_t n = 3000;
    for (const Values& kind : valueKinds(n, 5)) {
        SCOPED_TRACE(kind.name);
        const AnalysisState state = stateOf(kind.values);
        const SumErrorBounds bounds(kind.values);
        const TraitTotals totals{n, static_cast<double>(n) * state.traitMean, state.traitSumOfSquares};
        std::mt19937 rng(9);
        int bounded = 0;
        for (int trial = 0; trial < 400; ++trial) {
            const uint32_t keep = 1 + rng() % 999;  // per 1000
            std::vector<int32_t> members;
            for (int32_t h = 0; h < n; ++h) {
                if (rng() % 1000 < keep) members.push_back(h);
            }
            // Sometimes the records of the largest values: t near its extreme.
            if (trial % 10 == 0) {
                members.clear();
                for (int32_t h = 0; h < n; ++h) {
                    if (kind.values[static_cast<size_t>(h)] > 1.5 * std::fabs(state.traitMean)) members.push_back(h);
                }
            }
            double mean = 0.0, variance = 0.0;
            int32_t nCore = 0;
            const double t =
                clusterTStatistic(state, std::set<int32_t>(members.begin(), members.end()), nCore, mean, variance);
            long double other = 0.0L;
            for (size_t k = members.size(); k-- > 0;) other += kind.values[static_cast<size_t>(members[k])];
            const int64_t size = static_cast<int64_t>(members.size());
            const TInterval interval =
                traitTInterval(totals, size, static_cast<double>(other), bounds.sequential(size) + bounds.rounding());
            if (size == 0 || size == n) {
                EXPECT_TRUE(interval.never);
                EXPECT_TRUE(std::isnan(t));
                continue;
            }
            ASSERT_FALSE(interval.never);
            if (std::isinf(interval.lo)) continue;  // undecided: the caller sums it exactly
            ++bounded;
            EXPECT_LE(interval.lo, t) << "trial " << trial << ", " << size << " members";
            EXPECT_GE(interval.hi, t) << "trial " << trial << ", " << size << " members";
            // Narrow unless the set holds nearly all the variance (a lone
            // outlier), where the scan's own t is ill-conditioned.
            const long double within = state.traitSumOfSquares - other * other / size -
                                       (totals.total - other) * (totals.total - other) / (n - size);
            if (within > 1e-3L * state.traitSumOfSquares) {
                EXPECT_LT(interval.hi - interval.lo, 1e-6 * (1.0 + std::fabs(t))) << "trial " << trial;
            }
        }
        // The bound decides nearly every set, or every set would be summed twice.
        if (kind.name != "nearly constant") {
            EXPECT_GT(bounded, 300);
        }
    }
}

TEST(TraitTBounds, SumErrorBoundsFromTheLargestMagnitudes) {
    const SumErrorBounds bounds({-4.0, 1.0, 0.5, 3.0});
    EXPECT_EQ(bounds.largestMagnitudes(0), 0.0);
    EXPECT_GE(bounds.largestMagnitudes(2), 7.0);
    EXPECT_LT(bounds.largestMagnitudes(2), 7.0 + 1e-6);
    EXPECT_GE(bounds.largestMagnitudes(9), 8.5);  // no more than every value
    EXPECT_EQ(bounds.sequential(0), 0.0);
    // Four values: at most 4 u of the four magnitudes, u = 2^-53.
    EXPECT_GE(bounds.sequential(4), 4 * 8.5 * std::ldexp(1.0, -53));
    EXPECT_LT(bounds.sequential(4), 1e-14);
}

TEST(TraitTBounds, AConstantTraitLeavesEveryIntervalUndecided) {
    const std::vector<double> values(50, 2.5);
    const AnalysisState state = stateOf(values);
    const TraitTotals totals{50, 50 * state.traitMean, state.traitSumOfSquares};
    const TInterval interval = traitTInterval(totals, 10, 25.0, 1e-12);
    EXPECT_FALSE(interval.never);
    EXPECT_EQ(interval.lo, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(interval.hi, std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace orvane
