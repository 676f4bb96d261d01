#include "stats/log_tails.h"

#include <cmath>

#include "stats/distribution_tails.h"

namespace orvane {

namespace {

const double kLn10 = std::log(10.0);

// Today's value while the tail is representable, the log-space one beyond.
template <typename Tail, typename LogTail>
double minusLog10(const Tail& tail, const LogTail& logTail) {
    const double p = tail();
    if (p >= kLogSpaceBelow) return -std::log10(p);
    return -logTail() / kLn10;
}

}  // namespace

// Q(a, x) = exp(-x) x^a / Gamma(a) times the continued fraction, the
// fraction gcf's own. std::lgamma: the prefactor's log
// is large here, so its relative accuracy decides the result's.
double logGammaQ(double a, double x) {
    const double h = gammaFraction(a, x, "a too large, ITMAX too small in routine logGammaQ");
    return -x + a * std::log(x) - std::lgamma(a) + std::log(h);
}

double logBetaI(double a, double b, double x) {
    // At 0, and on the far side of the mean, the tail is not small: betai holds it.
    if (x <= 0 || x >= (a + 1) / (a + b + 2)) return std::log(betai(a, b, x));
    const double prefactor = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) +
                             b * std::log1p(-x);
    return prefactor + std::log(betacf(a, b, x)) - std::log(a);
}

double chiSquareMinusLog10P(double x) {
    return minusLog10([&] { return chisqtail(x, 1); }, [&] { return logGammaQ(0.5, x * 0.5); });
}

double tTwoSidedMinusLog10P(double t, int df) {
    return minusLog10([&] { return tdisttail(t, df); },
                      [&] {
                          const double dof = static_cast<double>(df);
                          const double x = dof / (dof + t * t);
                          // A t whose square overflows still has a finite tail.
                          if (x == 0) {
                              const double logX = std::log(dof) - 2 * std::log(std::fabs(t));
                              return std::lgamma(dof * 0.5 + 0.5) - std::lgamma(dof * 0.5) -
                                     std::lgamma(0.5) + dof * 0.5 * logX - std::log(dof * 0.5);
                          }
                          return logBetaI(dof * 0.5, 0.5, x);
                      });
}

double normalMinusLog10P(double z) {
    return minusLog10([&] { return normaltail(z); },
                      [&] {
                          const double u = z / std::sqrt(2.0);
                          return std::log(0.5) + logGammaQ(0.5, u * u);
                      });
}

}  // namespace orvane
