#include "stats/log_tails.h"

#include <cmath>

#include <gtest/gtest.h>

#include "stats/distribution_tails.h"

namespace orvane {
namespace {

enum class Tail { ChiSquare, Normal, StudentT };

struct Reference {
    Tail tail;
    double statistic;
    int df;
    double minusLog10P;
};

const Reference kReferences[] = {
#include "log_tails_table.inc"
};

double minusLog10P(const Reference& r) {
    switch (r.tail) {
        case Tail::ChiSquare: return chiSquareMinusLog10P(r.statistic);
        case Tail::Normal: return normalMinusLog10P(r.statistic);
        case Tail::StudentT: return tTwoSidedMinusLog10P(r.statistic, r.df);
    }
    return 0;
}

// Today's arithmetic: -log10 of the tail itself.
double plainMinusLog10P(const Reference& r) {
    switch (r.tail) {
        case Tail::ChiSquare: return -std::log10(chisqtail(r.statistic, 1));
        case Tail::Normal: return -std::log10(normaltail(r.statistic));
        case Tail::StudentT: return -std::log10(tdisttail(r.statistic, r.df));
    }
    return 0;
}

double tailOf(const Reference& r) {
    switch (r.tail) {
        case Tail::ChiSquare: return chisqtail(r.statistic, 1);
        case Tail::Normal: return normaltail(r.statistic);
        case Tail::StudentT: return tdisttail(r.statistic, r.df);
    }
    return 0;
}

// Within 1e-9 of the reference, relative (absolute below 1, where -log10 p
// nears 0 and a relative error means nothing).
TEST(LogTails, AgreeWithScipyTable) {
    int logSpace = 0;
    for (const Reference& r : kReferences) {
        SCOPED_TRACE(::testing::Message() << "kind " << static_cast<int>(r.tail) << ", statistic "
                                          << r.statistic << ", df " << r.df);
        const double value = minusLog10P(r);
        ASSERT_TRUE(std::isfinite(value));
        EXPECT_LE(std::fabs(value - r.minusLog10P), 1e-9 * std::fmax(1.0, r.minusLog10P));
        logSpace += tailOf(r) < kLogSpaceBelow;
    }
    // The table reaches well past the switch to log space in every tail.
    EXPECT_GE(logSpace, 30);
}

// Where the tail is representable the value is the result file's, to the bit.
TEST(LogTails, EqualTodaysValueAboveTheSwitch) {
    for (const Reference& r : kReferences) {
        if (tailOf(r) < kLogSpaceBelow) continue;
        EXPECT_EQ(minusLog10P(r), plainMinusLog10P(r)) << r.statistic << ", df " << r.df;
    }
    EXPECT_EQ(chiSquareMinusLog10P(0), -std::log10(1.0));
    EXPECT_EQ(tTwoSidedMinusLog10P(0, 10), -std::log10(1.0));
}

// Across the switch the value climbs with the statistic, with no jump: the
// two evaluations agree where both hold.
TEST(LogTails, ContinuousAndIncreasingAcrossTheSwitch) {
    struct Sweep {
        const char* what;
        double from, to, step;
        double (*value)(double);
    };
    const Sweep sweeps[] = {
        {"chi-square", 1300, 1450, 0.5, [](double x) { return chiSquareMinusLog10P(x); }},
        {"normal", 36, 38.5, 0.01, [](double z) { return normalMinusLog10P(z); }},
        {"t, 1000 df", 40, 60, 0.05, [](double t) { return tTwoSidedMinusLog10P(t, 1000); }},
    };
    for (const Sweep& s : sweeps) {
        double previous = s.value(s.from);
        for (double x = s.from + s.step; x <= s.to; x += s.step) {
            const double value = s.value(x);
            EXPECT_GT(value, previous) << s.what << " at " << x;
            EXPECT_LT(value - previous, 1.0) << s.what << " at " << x;
            previous = value;
        }
    }
    EXPECT_NEAR(logGammaQ(0.5, 600), std::log(gammq(0.5, 600)), 1e-11 * 600);
    EXPECT_NEAR(logBetaI(50, 0.5, 0.01), std::log(betai(50, 0.5, 0.01)), 1e-11 * 230);
}

// Statistics far beyond any study's stay finite.
TEST(LogTails, FiniteForExtremeStatistics) {
    // -log10 p ~ x / (2 ln 10) for a chi-square x far out in the tail.
    EXPECT_NEAR(chiSquareMinusLog10P(1e300) / (1e300 / (2 * std::log(10.0))), 1, 1e-12);
    EXPECT_NEAR(normalMinusLog10P(1e100) / (1e200 / (2 * std::log(10.0))), 1, 1e-12);
    // Far out, p falls as t^-df: a t whose square overflows (1e200) continues
    // the tail of one whose square does not (1e100).
    const double overflowing = tTwoSidedMinusLog10P(1e200, 100);
    ASSERT_TRUE(std::isfinite(overflowing));
    EXPECT_NEAR(overflowing - tTwoSidedMinusLog10P(1e100, 100), 100 * 100, 1e-9 * overflowing);
}

}  // namespace
}  // namespace orvane
