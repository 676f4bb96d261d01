#include "stats/distribution_tails.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

// Reported p-values must be identical to the last bit from build to build, so
// every expression keeps its left-to-right operand order: regrouping a product
// or a quotient would change the last bits.

namespace orvane {

namespace {

constexpr double LANCZOS_BASE = 1.000000000190015;
constexpr double SQRT_TWO_PI = 2.5066282746310007;
constexpr double LANCZOS_COEFFICIENTS[6] = {
    76.18009172947146,     -86.50532032941678,    24.01409824083091,
    -1.231739572450155,    0.001208650973866179,  -5.395239384953e-06,
};

// Keeps a Lentz denominator away from zero. A NaN fails the comparison and is
// left alone, so a NaN argument runs into the iteration limit.
double floored(double value) {
    return std::fabs(value) < MIN_DENOMINATOR ? MIN_DENOMINATOR : value;
}

}  // namespace

void fatalerror(const char* message) { throw NumericalError(message); }

void writeFatalReport(std::FILE* out, const NumericalError& error) {
    std::fputs("Numerical Recipes run-time error...\n", out);
    std::fprintf(out, "%s\n", error.what());
    std::fputs("...now exiting to system...\n", out);
    std::fflush(out);
}

// Lanczos approximation with gamma = 5; callers only pass x > 0.
double lngamma(double x) {
    double tmp = x + 5.5;
    tmp = tmp - (x + 0.5) * std::log(tmp);
    double ser = LANCZOS_BASE;
    double y = x;
    for (double coefficient : LANCZOS_COEFFICIENTS) {
        y = y + 1;
        ser = ser + coefficient / y;
    }
    return -tmp + std::log(SQRT_TWO_PI * ser / x);
}

double gammp(double a, double x) {
    if (x < 0 || a <= 0) fatalerror("Invalid arguments in routine gammp");
    // The series converges quickly below a + 1, the continued fraction above.
    if (x < a + 1) return gser(a, x);
    return 1 - gcf(a, x);
}

double gammq(double a, double x) {
    if (x < 0 || a <= 0) fatalerror("Invalid arguments in routine gammq");
    if (x < a + 1) return 1 - gser(a, x);
    return gcf(a, x);
}

double gser(double a, double x) {
    const double gln = lngamma(a);
    if (x <= 0) {
        if (x < 0) fatalerror("x less than 0 in routine gser");
        return 0.0;
    }
    double ap = a;
    double del = 1 / a;
    double sum = del;
    for (int n = 1; n <= ITMAX; ++n) {
        ap = ap + 1;
        del = del * x / ap;
        sum = sum + del;
        if (std::fabs(del) < std::fabs(sum) * TOLERANCE) {
            return sum * std::exp(-x + a * std::log(x) - gln);
        }
    }
    fatalerror("a too large, ITMAX too small in routine gser");
}

// Modified Lentz evaluation. In double precision the step test only passes
// once the step factor is exactly 1.
double gammaFraction(double a, double x, const char* failure) {
    double b = x + 1 - a;
    double cc = 1 / MIN_DENOMINATOR;
    double dd = 1 / b;
    double h = dd;
    for (int i = 1; i <= ITMAX; ++i) {
        const double an = -i * (i - a);
        b = b + 2;
        dd = floored(an * dd + b);
        cc = floored(b + an / cc);
        dd = 1 / dd;
        const double del = dd * cc;
        h = h * del;
        if (std::fabs(del - 1) < TOLERANCE) return h;
    }
    fatalerror(failure);
}

double gcf(double a, double x) {
    const double gln = lngamma(a);
    const double h = gammaFraction(a, x, "a too large, ITMAX too small in gcf");
    return std::exp(-x + a * std::log(x) - gln) * h;
}

double betai(double a, double b, double x) {
    if (x < 0 || x > 1) fatalerror("Bad x in routine betai");
    // At the ends the prefactor alone decides the value; ln(0) must not enter it.
    double bt = 0;
    if (x != 0 && x != 1) {
        bt = std::exp(lngamma(a + b) - lngamma(a) - lngamma(b) + a * std::log(x) +
                      b * std::log(1 - x));
    }
    // The fraction converges fast only on the near side of the mean; beyond it
    // use the symmetry I_x(a, b) = 1 - I_(1-x)(b, a).
    if (x < (a + 1) / (a + b + 2)) return bt * betacf(a, b, x) / a;
    return 1 - bt * betacf(b, a, 1 - x) / b;
}

double betacf(double a, double b, double x) {
    const double qab = a + b;
    const double qap = a + 1;
    const double qam = a - 1;
    double cc = 1;
    double dd = 1 / floored(1 - qab * x / qap);
    double h = dd;
    for (int m = 1; m <= MAXIT; ++m) {
        const int m2 = 2 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        dd = floored(1 + aa * dd);
        cc = floored(1 + aa / cc);
        dd = 1 / dd;
        h = h * dd * cc;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        dd = floored(1 + aa * dd);
        cc = floored(1 + aa / cc);
        dd = 1 / dd;
        const double del = dd * cc;
        h = h * del;
        if (std::fabs(del - 1) < TOLERANCE) return h;
    }
    fatalerror("a or b too big, or MAXIT too small in betacf");
}

double chisqtail(double x, int df) {
    return gammq(static_cast<double>(df) * 0.5, x * 0.5);
}

double tdisttail(double t, int df) {
    const double dof = static_cast<double>(df);
    return betai(dof * 0.5, 0.5, dof / (dof + t * t));
}

// erfc(z / sqrt 2) / 2, written through P(1/2, u^2) = erf(|u|).
double normaltail(double z) {
    const double u = z / std::sqrt(2.0);
    if (u < 0) return 0.5 * (1 + gammp(0.5, u * u));
    return 0.5 * gammq(0.5, u * u);
}

}  // namespace orvane
