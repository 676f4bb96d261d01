#include "locate/intervals.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace orvane {

namespace {

// Sums that must reach a share of a total may fall short of it by rounding alone.
constexpr double kRelativeSlack = 1e-12;

}  // namespace

MarkerRun shortestRunHolding(const std::vector<double>& weights, double level, int32_t holding) {
    const int32_t n = static_cast<int32_t>(weights.size());
    MarkerRun best;
    best.last = n - 1;
    const double total = std::accumulate(weights.begin(), weights.end(), 0.0);
    if (n == 0 || !(total > 0.0)) {
        best.share = n == 0 ? 0.0 : 1.0;
        return best;
    }
    const double need = level * total * (1.0 - kRelativeSlack);
    int32_t bestLength = n + 1;
    double bestSum = -1.0;
    // For every last marker, the latest first marker whose run still holds enough
    // (and, with `holding`, starts at or before it).
    if (holding >= n) holding = n - 1;
    int32_t first = 0;
    double sum = 0.0;
    for (int32_t last = 0; last < n; ++last) {
        sum += weights[static_cast<size_t>(last)];
        const int32_t latest = holding >= 0 ? std::min(last, holding) : last;
        while (first < latest && sum - weights[static_cast<size_t>(first)] >= need) {
            sum -= weights[static_cast<size_t>(first)];
            ++first;
        }
        if (last < holding || sum < need) continue;
        const int32_t length = last - first + 1;
        // Sums that differ by rounding alone count as equal: the earlier run stays.
        if (length < bestLength || (length == bestLength && sum > bestSum + kRelativeSlack * total)) {
            bestLength = length;
            bestSum = sum;
            best.first = first;
            best.last = last;
        }
    }
    // The running sum drifts; the reported share is summed afresh.
    double held = 0.0;
    for (int32_t k = best.first; k <= best.last; ++k) held += weights[static_cast<size_t>(k)];
    best.share = held / total;
    return best;
}

namespace {

// exp(sharpness / 2 x (e - max e)), normalised; see supportWeights.
std::vector<double> exponentialWeights(const std::vector<double>& evidence, double sharpness) {
    std::vector<double> weights(evidence.size(), 0.0);
    double top = -std::numeric_limits<double>::infinity();
    for (const double e : evidence) {
        if (std::isfinite(e)) top = std::max(top, e);
    }
    if (!std::isfinite(top)) {
        std::fill(weights.begin(), weights.end(), evidence.empty() ? 0.0 : 1.0 / evidence.size());
        return weights;
    }
    double total = 0.0;
    for (size_t k = 0; k < evidence.size(); ++k) {
        if (!std::isfinite(evidence[k])) continue;
        weights[k] = std::exp(0.5 * sharpness * (evidence[k] - top));
        total += weights[k];
    }
    for (double& w : weights) w /= total;
    return weights;
}

}  // namespace

std::vector<double> supportWeights(const std::vector<double>& evidence, double scale) {
    double top = 0.0;
    for (const double e : evidence) {
        if (std::isfinite(e)) top = std::max(top, e);
    }
    return exponentialWeights(evidence, scale / std::max(top, 1.0));
}

double logWakefieldFactor(double z2, double variance, double prior) {
    if (!std::isfinite(variance)) return 0.0;
    if (!std::isfinite(z2)) z2 = 0.0;
    const double r = prior / (variance + prior);
    return 0.5 * std::log1p(-r) + 0.5 * z2 * r;
}

std::vector<double> posteriorFromLogFactors(const std::vector<double>& logFactors) {
    std::vector<double> evidence(logFactors.size());
    // exp(log factor - max), normalised.
    for (size_t k = 0; k < logFactors.size(); ++k) evidence[k] = 2.0 * logFactors[k];
    return exponentialWeights(evidence, 1.0);
}

MarkerRun credibleSpan(const std::vector<double>& posterior, double level) {
    MarkerRun run;
    const int32_t n = static_cast<int32_t>(posterior.size());
    if (n == 0) return run;
    std::vector<int32_t> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return posterior[static_cast<size_t>(a)] > posterior[static_cast<size_t>(b)];
    });
    const double total = std::accumulate(posterior.begin(), posterior.end(), 0.0);
    const double need = level * total * (1.0 - kRelativeSlack);
    double held = 0.0;
    run.first = n;
    run.last = -1;
    for (const int32_t k : order) {
        held += posterior[static_cast<size_t>(k)];
        run.first = std::min(run.first, k);
        run.last = std::max(run.last, k);
        if (held >= need) break;
    }
    run.share = total > 0.0 ? held / total : 1.0;
    return run;
}

}  // namespace orvane
