#include "permutation/trait_t_bounds.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>

namespace orvane {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr long double kUnit = DBL_EPSILON / 2;  // the relative rounding of one operation on doubles

// The classical bound on n operations' accumulated relative rounding.
long double accumulated(int64_t operations) {
    const long double k = static_cast<long double>(operations) * kUnit;
    return k < 0.5L ? k / (1.0L - k) : static_cast<long double>(kInfinity);
}

// A long double as a double on the safe side.
double roundedDown(long double x) {
    double d = static_cast<double>(x);
    if (static_cast<long double>(d) > x) d = std::nextafter(d, -kInfinity);
    return d;
}
double roundedUp(long double x) {
    double d = static_cast<double>(x);
    if (static_cast<long double>(d) < x) d = std::nextafter(d, kInfinity);
    return d;
}

}  // namespace

SumErrorBounds::SumErrorBounds(const std::vector<double>& values) {
    std::vector<double> magnitudes(values.size());
    std::transform(values.begin(), values.end(), magnitudes.begin(), [](double v) { return std::fabs(v); });
    std::sort(magnitudes.begin(), magnitudes.end(), std::greater<double>());
    prefix_.assign(magnitudes.size() + 1, 0.0);
    long double running = 0.0L;
    for (size_t k = 0; k < magnitudes.size(); ++k) {
        running += magnitudes[k];
        // Long double additions of at most 2^32 terms stay well within this margin.
        prefix_[k + 1] = roundedUp(running * (1.0L + 1e-9L));
    }
}

double SumErrorBounds::largestMagnitudes(int64_t count) const {
    const size_t k = static_cast<size_t>(std::clamp<int64_t>(count, 0, static_cast<int64_t>(prefix_.size()) - 1));
    return prefix_[k];
}

double SumErrorBounds::sequential(int64_t count) const {
    return roundedUp(accumulated(count) * largestMagnitudes(count));
}

double SumErrorBounds::rounding() const {
    // Both operands and the result are within the sum of every magnitude (and
    // their own small errors), so three of it cover one rounding.
    return roundedUp(3.0L * kUnit * prefix_.back());
}

TInterval traitTInterval(const TraitTotals& totals, int64_t size, double sum, double sumError) {
    TInterval interval;
    if (size <= 0 || size >= totals.records) {
        interval.never = true;  // a mean of no records: not a number, as the scan finds too
        return interval;
    }
    const long double records = static_cast<long double>(totals.records);
    const long double n = static_cast<long double>(size);
    const long double outside = records - n;
    const long double total = totals.total;
    const long double squares = totals.sumOfSquares;
    const long double low = static_cast<long double>(sum) - sumError;
    const long double high = static_cast<long double>(sum) + sumError;

    // t = k (mean in - mean out) / sqrt(within), within = squares - between.
    const auto difference = [&](long double s) { return s / n - (total - s) / outside; };
    const auto between = [&](long double s) { return s * s / n + (total - s) * (total - s) / outside; };
    const long double k = std::sqrt((records - 2.0L) * n * outside / records);
    // `between` is convex, so its largest value over the interval is at an end.
    const long double largestBetween = std::max(between(low), between(high));
    const long double withinLow = squares - between(low);
    const long double withinHigh = squares - between(high);
    const long double within = std::min(withinLow, withinHigh);
    // The scan's within-group sum of squares rounds each of a few terms no
    // larger than the total sum of squares or the between part.
    const long double withinError = 32.0L * kUnit * (std::fabs(squares) + largestBetween);
    if (!(within > 4.0L * withinError) || !(k > 0.0L) || !std::isfinite(static_cast<double>(largestBetween))) {
        interval.lo = -kInfinity;
        interval.hi = kInfinity;
        return interval;
    }
    const long double tLow = k * difference(low) / std::sqrt(withinLow);
    const long double tHigh = k * difference(high) / std::sqrt(withinHigh);
    // The scan's own rounding: of the difference of means, of k, of the
    // square root of a within part off by at most withinError, and of the
    // last operations; doubled below for the rounding of this evaluation.
    const long double largestSum = std::max(std::fabs(low), std::fabs(high));
    const long double differenceError = 8.0L * kUnit * (largestSum / n + (std::fabs(total) + largestSum) / outside);
    const long double largestT = std::max(std::fabs(tLow), std::fabs(tHigh));
    const long double rounding =
        k * differenceError / std::sqrt(within) + largestT * (16.0L * kUnit + 2.0L * withinError / within);
    interval.lo = roundedDown(tLow - 2.0L * rounding);
    interval.hi = roundedUp(tHigh + 2.0L * rounding);
    return interval;
}

}  // namespace orvane
