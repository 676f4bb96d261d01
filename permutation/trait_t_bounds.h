// How far the pooled t statistic the scan computes for a set can be from one
// computed from an approximate trait sum. The permutation test sums the sets
// of every replicate in whatever order is fastest; only the sets whose
// interval reaches a replicate's largest lower end can hold its maximum, and
// only those are summed again in the scan's order, which gives the scan's
// value to the bit.
//
// The scan's t depends on the members' sum of squares only through rounding:
// within-group sums of squares add up to the total less the between-group
// part, which is a function of the sum alone. So t is an increasing function
// of the sum (for a set of a given size), and an interval of sums gives an
// interval of t, widened by the rounding of the scan's own formula.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// Error bounds of sums of trait values, from the values themselves (any
// arrangement of them among the records).
class SumErrorBounds {
public:
    explicit SumErrorBounds(const std::vector<double>& values);

    // The sum of the `count` largest magnitudes, rounded up.
    double largestMagnitudes(int64_t count) const;
    // How far a sum of `count` of the values, added one after another from 0
    // in any order, can be from their exact sum.
    double sequential(int64_t count) const;
    // How far a sum or difference of two sums of at most every value each
    // can be from the exact one, once rounded.
    double rounding() const;

private:
    std::vector<double> prefix_;  // prefix_[k]: the k largest magnitudes, summed and rounded up
};

// The run's totals as the scan's formulas read them.
struct TraitTotals {
    int64_t records = 0;
    double total = 0.0;         // records x the trait mean, as the formulas compute it
    double sumOfSquares = 0.0;  // the state's sum of squares
};

struct TInterval {
    bool never = false;  // the set's t is never a number (no members, or every record)
    double lo = 0.0;     // -inf and +inf when the interval cannot be bounded
    double hi = 0.0;
};

// The interval holding the t the scan computes for a set of `size` members
// whose trait sum (added in the scan's order) is within `sumError` of `sum`.
TInterval traitTInterval(const TraitTotals& totals, int64_t size, double sum, double sumError);

}  // namespace orvane
