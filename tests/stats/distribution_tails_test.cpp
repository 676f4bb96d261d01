#include "stats/distribution_tails.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace orvane {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

double relativeError(double value, double reference) {
    return std::fabs(value - reference) / std::fabs(reference);
}

struct Known {
    const char* what;
    double value;
    double expected;
    double tolerance;
};

TEST(SpecialFunctions, KnownValues) {
    const Known cases[] = {
        {"lngamma(1)", lngamma(1), 0.0, 1e-15},
        {"lngamma(0.5) = ln sqrt(pi)", lngamma(0.5), 0.5723649429, 1e-10},
        {"lngamma(10) = ln 9!", lngamma(10), 12.8018274801, 1e-10},
        {"chi-square 5% point, df 1", chisqtail(3.841458820694124, 1), 0.05, 1e-14},
        {"normal 2.5% point", normaltail(1.959963984540054), 0.025, 1e-14},
        {"two-sided t, df 10", tdisttail(2, 10), 0.0733880348, 5e-11},
        {"normal lower side", normaltail(-1), 0.8413447461, 5e-11},
    };
    for (const Known& c : cases) EXPECT_NEAR(c.value, c.expected, c.tolerance) << c.what;
}

TEST(SpecialFunctions, TailsAtZeroStatisticAreExact) {
    EXPECT_EQ(chisqtail(0, 1), 1.0);
    EXPECT_EQ(normaltail(0), 0.5);
    EXPECT_EQ(gammp(0.5, 0), 0.0);
    for (int df : {1, 2, 10, 3000}) EXPECT_EQ(tdisttail(0, df), 1.0) << "df " << df;
}

TEST(SpecialFunctions, BetaiAtTheEndsOfTheInterval) {
    const double shapes[][2] = {{0.5, 0.5}, {2, 3}, {5, 0.5}, {1500, 0.5}};
    for (const auto& s : shapes) {
        EXPECT_EQ(betai(s[0], s[1], 0), 0.0) << s[0] << ", " << s[1];
        EXPECT_EQ(betai(s[0], s[1], 1), 1.0) << s[0] << ", " << s[1];
    }
}

// At x = a + 1 the continued fraction is used; just below it the series. The
// two evaluations differ in their last bits, which is what makes this visible.
TEST(SpecialFunctions, IncompleteGammaBranchAtAPlusOne) {
    for (double a : {0.5, 1.0, 3.0, 7.5}) {
        SCOPED_TRACE(a);
        const double x = a + 1;
        ASSERT_NE(gcf(a, x), 1 - gser(a, x));
        EXPECT_EQ(gammq(a, x), gcf(a, x));
        EXPECT_EQ(gammp(a, x), 1 - gcf(a, x));
        const double below = std::nextafter(x, 0.0);
        EXPECT_EQ(gammq(a, below), 1 - gser(a, below));
        EXPECT_EQ(gammp(a, below), gser(a, below));
    }
}

TEST(SpecialFunctions, IncompleteBetaTakesReflectedBranchAtTheSplitPoint) {
    const double a = 2, b = 3;
    const double x = (a + 1) / (a + b + 2);
    const double bt = std::exp(lngamma(a + b) - lngamma(a) - lngamma(b) + a * std::log(x) +
                               b * std::log(1 - x));
    const double reflected = 1 - bt * betacf(b, a, 1 - x) / b;
    ASSERT_NE(reflected, bt * betacf(a, b, x) / a);
    EXPECT_EQ(betai(a, b, x), reflected);
}

TEST(SpecialFunctions, LngammaAgreesWithLibraryLgamma) {
    // The six-term Lanczos series is good to about 2e-10 in the gamma function.
    for (double x = 0.05; x < 500; x *= 1.15) {
        const double reference = std::lgamma(x);
        EXPECT_LE(std::fabs(lngamma(x) - reference), 1e-12 * std::fmax(1.0, std::fabs(reference)))
            << "x " << x;
    }
}

TEST(SpecialFunctions, TailsAgreeWithClosedForms) {
    for (double z = -8; z <= 8; z += 0.125) {
        EXPECT_LT(relativeError(normaltail(z), 0.5 * std::erfc(z / std::sqrt(2.0))), 1e-12)
            << "z " << z;
    }
    for (double x = 0.01; x < 600; x *= 1.3) {
        EXPECT_LT(relativeError(chisqtail(x, 2), std::exp(-x / 2)), 1e-12) << "x " << x;
    }
    const double pi = std::acos(-1.0);
    for (double t = 0.01; t < 1000; t *= 1.3) {
        EXPECT_LT(relativeError(tdisttail(t, 1), 1 - 2 * std::atan(t) / pi), 1e-12) << "t " << t;
        EXPECT_LT(relativeError(tdisttail(-t, 1), tdisttail(t, 1)), 1e-15) << "t " << t;
        const double root = std::sqrt(2 + t * t);
        EXPECT_LT(relativeError(tdisttail(t, 2), 2 / (root * (root + t))), 1e-12) << "t " << t;
    }
}

struct Fatal {
    const char* what;
    double (*call)();
    const char* message;
};

// The three lines fatalerror writes around `message`.
std::string fatalText(const std::string& message) {
    return "Numerical Recipes run-time error...\n" + message + "\n...now exiting to system...\n";
}

TEST(SpecialFunctions, FatalPathsReportTheirMessage) {
    const Fatal cases[] = {
        {"negative chi-square", [] { return chisqtail(-1, 1); }, "Invalid arguments in routine gammq"},
        {"df 0 chi-square", [] { return chisqtail(1, 0); }, "Invalid arguments in routine gammq"},
        {"gammp negative x", [] { return gammp(1, -1); }, "Invalid arguments in routine gammp"},
        {"gammp nonpositive a", [] { return gammp(0, 1); }, "Invalid arguments in routine gammp"},
        {"negative df t", [] { return tdisttail(2, -1); }, "Bad x in routine betai"},
        {"betai above 1", [] { return betai(1, 1, 1.5); }, "Bad x in routine betai"},
        {"NaN chi-square", [] { return chisqtail(kNaN, 1); }, "a too large, ITMAX too small in gcf"},
        {"NaN normal", [] { return normaltail(kNaN); }, "a too large, ITMAX too small in gcf"},
        {"NaN t", [] { return tdisttail(kNaN, 5); }, "a or b too big, or MAXIT too small in betacf"},
        {"gser negative x", [] { return gser(1, -0.5); }, "x less than 0 in routine gser"},
        {"series too slow", [] { return gammp(1e10, 1e10); },
         "a too large, ITMAX too small in routine gser"},
    };
    for (const Fatal& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.what << " returned";
        } catch (const NumericalError& error) {
            EXPECT_STREQ(error.what(), c.message) << c.what;
        }
    }
}

TEST(SpecialFunctions, FatalReportIsThreeLines) {
    ::testing::internal::CaptureStderr();
    writeFatalReport(stderr, NumericalError("Invalid arguments in routine gammq"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), fatalText("Invalid arguments in routine gammq"));
}

}  // namespace
}  // namespace orvane
