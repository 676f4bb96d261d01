// -log10 of the chi-square (1 degree of freedom), two-sided Student t and upper
// normal tail probabilities, finite for every finite statistic. Where the tail
// is at least kLogSpaceBelow these are exactly -log10 of chisqtail, tdisttail
// and normaltail, the values the result file prints; below it, where those
// underflow or lose their digits, the tail is taken in log space from the
// continued fractions of the incomplete gamma and beta functions.
#pragma once

namespace orvane {

constexpr double kLogSpaceBelow = 1e-300;

// -log10 P(chi-square with 1 df >= x).
double chiSquareMinusLog10P(double x);
// -log10 P(|T| >= |t|), T Student's t with df degrees of freedom.
double tTwoSidedMinusLog10P(double t, int df);
// -log10 P(Z >= z), Z standard normal.
double normalMinusLog10P(double z);

// Natural logarithms of the regularised upper incomplete gamma Q(a, x), for
// x >= a + 1, and of the regularised incomplete beta I_x(a, b), for x below
// (a + 1) / (a + b + 2): the sides on which their continued fractions converge.
double logGammaQ(double a, double x);
double logBetaI(double a, double b, double x);

}  // namespace orvane
