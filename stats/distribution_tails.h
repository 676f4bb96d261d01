// Log-gamma, regularised incomplete gamma and beta functions, and the chi-square,
// Student t and normal tail probabilities built on them. A domain error or a
// failure to converge ends the run through fatalerror (exit status 1).
#pragma once

#include <cstdio>
#include <stdexcept>

namespace orvane {

// Thrown by fatalerror; the entry point writes its report and ends the process
// with status 1. Unwinding, rather than exiting on the spot, lets every thread
// stop cleanly, leaves unflushed output off the disk, and lets a run that works
// on several markers at once report the error of the first marker in map order.
class NumericalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The three-line report of a fatal numerical error.
void writeFatalReport(std::FILE* out, const NumericalError& error);

constexpr int ITMAX = 1000;
constexpr int MAXIT = 1000;
constexpr double TOLERANCE = 3.0e-20;
constexpr double MIN_DENOMINATOR = 1.0e-30;

// Ends the computation with `message`: throws NumericalError.
[[noreturn]] void fatalerror(const char* message);

double lngamma(double x);
double gammp(double a, double x);
double gammq(double a, double x);
double gser(double a, double x);
double gcf(double a, double x);
// The continued fraction of Q(a, x) without its prefactor exp(-x) x^a / Gamma(a);
// `failure` is the fatal error when it does not converge.
double gammaFraction(double a, double x, const char* failure);
double betai(double a, double b, double x);
double betacf(double a, double b, double x);

// P(chi-square with df degrees of freedom >= x).
double chisqtail(double x, int df);
// Two-sided: P(|T| >= |t|) for T Student's t with df degrees of freedom.
double tdisttail(double t, int df);
// Upper tail of the standard normal: P(Z >= z).
double normaltail(double z);

}  // namespace orvane
