#include "cluster/window_distances.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <vector>

namespace orvane {

namespace {

double nonNegative(double x) { return x < 0.0 ? 0.0 : x; }

// The LD-weighted measure combines the Hamming sums (T, S) and the shared-run sums
// (Y, X) as the variant p1 asks.
double ldVariantDistance(double p1, double t, double s, double y, double x, bool agreeCentre) {
    if (p1 == 1.0) return (t - s) / t;
    if (p1 == 2.0) {
        // No LD weight in the window leaves only the centre to compare.
        if (y == 0.0) return agreeCentre ? 0.0 : 1.0;
        return (y - x) / y;
    }
    if (p1 == 3.0) return (t + y - s - x) / (t + y);
    return std::numeric_limits<double>::quiet_NaN();
}

const int32_t* alleleRow(const AnalysisState& state, int32_t h) {
    return &state.alleles[static_cast<size_t>(h) * static_cast<size_t>(state.nMarkers)];
}

size_t pairCount(const AnalysisState& state) {
    const size_t n = static_cast<size_t>(state.nHaplotypes > 0 ? state.nHaplotypes : 0);
    return n * (n > 0 ? n - 1 : 0) / 2;
}

void reportWrongType() { std::fputs("error in distance_Ham_MIL_WeightedLD", stdout); }

}  // namespace

void placeWindow(AnalysisState& state, int32_t centre) {
    int32_t start = centre - state.windowSize / 2;
    if (start < 0) {
        start = 0;
    } else if (start + state.windowSize >= state.nMarkers) {
        start = state.nMarkers - state.windowSize;
    }
    state.windowStart = start;
}

double mapDistance(const AnalysisState& state, int32_t a, int32_t b) {
    const int32_t lo = a < b ? a : b;
    const int32_t hi = a < b ? b : a;
    double g = 0.0;
    for (int32_t q = lo; q < hi; ++q) g += state.markerDistances[static_cast<size_t>(q)];
    return g;
}

double matchWeight(const AnalysisState& state, int32_t a, int32_t b) {
    if (a == b) return 1.0;
    const double g = mapDistance(state, a, b);
    const double* p = state.distanceParams;
    switch (state.distanceType) {
        case 1:
        case 4:
            return p[1] * std::exp(p[0] * g);
        case 2:
        case 5:
            return nonNegative(p[0] * g + p[1]);
        case 6:
            return p[0];
        default:
            return g;
    }
}

double runWeight(const AnalysisState& state, int32_t a, int32_t b) {
    if (a == b) return 1.0;
    const double g = mapDistance(state, a, b);
    const double* p = state.distanceParams;
    switch (state.distanceType) {
        case 1:
            return p[1] * std::exp(p[0] * g);
        case 2:
            return nonNegative(p[0] * g + p[1]);
        case 4:
            return p[3] * std::exp(p[2] * g);
        case 5:
            return nonNegative(p[2] * g + p[3]);
        case 6:
            return p[1];
        default:
            return g;
    }
}

double haplotypeDistance(const AnalysisState& state, int32_t a, int32_t b, int32_t centre) {
    const int32_t* x = alleleRow(state, a);
    const int32_t* y = alleleRow(state, b);
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const bool agreeCentre = x[centre] == y[centre];
    double s = agreeCentre ? 1.0 : 0.0;
    double t = 1.0;
    bool inRun = agreeCentre;
    for (int32_t m = centre + 1; m <= last; ++m) {
        const double match = matchWeight(state, centre, m);
        const double run = runWeight(state, centre, m);
        if (x[m] == y[m]) {
            s += match;
            if (inRun) s += run;
        } else {
            inRun = false;
        }
        t += match;
        t += run;
    }
    inRun = agreeCentre;
    for (int32_t m = centre - 1; m >= first; --m) {
        const double match = matchWeight(state, m, centre);
        const double run = runWeight(state, m, centre);
        if (x[m] == y[m]) {
            s += match;
            if (inRun) s += run;
        } else {
            inRun = false;
        }
        t += match;
        t += run;
    }
    return (t - s) / t;
}

double distance_Ham_MIL_WeightedLD(const AnalysisState& state, int32_t a, int32_t b,
                                   int32_t centre) {
    if (state.distanceType != 3) {
        reportWrongType();
        return 0.0;
    }
    const int32_t* x = alleleRow(state, a);
    const int32_t* y = alleleRow(state, b);
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const bool agreeCentre = x[centre] == y[centre];
    double t = 1.0;
    double s = agreeCentre ? 1.0 : 0.0;
    double ySum = 0.0;
    double xSum = 0.0;
    bool inRun = agreeCentre;
    for (int32_t m = centre + 1; m <= last; ++m) {
        const double ell = state.ld(centre, m);
        t += ell;
        ySum += ell;
        if (x[m] == y[m]) {
            s += ell;
            if (inRun) xSum += ell;
        } else {
            inRun = false;
        }
    }
    inRun = agreeCentre;
    for (int32_t m = centre - 1; m >= first; --m) {
        const double ell = state.ld(m, centre);
        t += ell;
        ySum += ell;
        if (x[m] == y[m]) {
            s += ell;
            if (inRun) xSum += ell;
        } else {
            inRun = false;
        }
    }
    return ldVariantDistance(state.distanceParams[0], t, s, ySum, xSum, agreeCentre);
}

// The fills below take each marker's weights once per centre, in the order the walk
// visits the markers (right side ascending, then left side descending), and sum the
// pair-independent totals in that same order, so every distance has the same bits
// as the per-pair functions above.

void computeWindowDistances(AnalysisState& state, int32_t centre) {
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const int32_t nRight = std::max(0, last - centre);
    const int32_t nLeft = std::max(0, centre - first);
    const size_t walk = static_cast<size_t>(nRight + nLeft);
    std::vector<double> match(walk);
    std::vector<double> run(walk);
    double t = 1.0;
    for (int32_t k = 0; k < nRight; ++k) {
        match[k] = matchWeight(state, centre, centre + 1 + k);
        run[k] = runWeight(state, centre, centre + 1 + k);
        t += match[k];
        t += run[k];
    }
    for (int32_t k = 0; k < nLeft; ++k) {
        const size_t w = static_cast<size_t>(nRight + k);
        match[w] = matchWeight(state, centre - 1 - k, centre);
        run[w] = runWeight(state, centre - 1 - k, centre);
        t += match[w];
        t += run[w];
    }
    const double* rightMatch = match.data();
    const double* rightRun = run.data();
    const double* leftMatch = match.data() + nRight;
    const double* leftRun = run.data() + nRight;

    state.haplotypeDistances.resize(pairCount(state));
    double* out = state.haplotypeDistances.data();
    const int32_t n = state.nHaplotypes;
    for (int32_t i = 0; i + 1 < n; ++i) {
        const int32_t* x = alleleRow(state, i);
        for (int32_t j = i + 1; j < n; ++j) {
            const int32_t* y = alleleRow(state, j);
            const bool agreeCentre = x[centre] == y[centre];
            double s = agreeCentre ? 1.0 : 0.0;
            bool inRun = agreeCentre;
            for (int32_t k = 0; k < nRight; ++k) {
                const int32_t m = centre + 1 + k;
                if (x[m] == y[m]) {
                    s += rightMatch[k];
                    if (inRun) s += rightRun[k];
                } else {
                    inRun = false;
                }
            }
            inRun = agreeCentre;
            for (int32_t k = 0; k < nLeft; ++k) {
                const int32_t m = centre - 1 - k;
                if (x[m] == y[m]) {
                    s += leftMatch[k];
                    if (inRun) s += leftRun[k];
                } else {
                    inRun = false;
                }
            }
            *out++ = (t - s) / t;
        }
    }
}

void computeWindowDistancesLD(AnalysisState& state, int32_t centre) {
    state.haplotypeDistances.resize(pairCount(state));
    const int32_t n = state.nHaplotypes;
    if (state.distanceType != 3) {
        // Keeps the per-pair behaviour: one complaint and a zero for every pair.
        size_t idx = 0;
        for (int32_t i = 0; i + 1 < n; ++i)
            for (int32_t j = i + 1; j < n; ++j)
                state.haplotypeDistances[idx++] = distance_Ham_MIL_WeightedLD(state, i, j, centre);
        return;
    }
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const int32_t nRight = std::max(0, last - centre);
    const int32_t nLeft = std::max(0, centre - first);
    std::vector<double> ell(static_cast<size_t>(nRight + nLeft));
    double t = 1.0;
    double ySum = 0.0;
    for (int32_t k = 0; k < nRight; ++k) {
        ell[k] = state.ld(centre, centre + 1 + k);
        t += ell[k];
        ySum += ell[k];
    }
    for (int32_t k = 0; k < nLeft; ++k) {
        const size_t w = static_cast<size_t>(nRight + k);
        ell[w] = state.ld(centre - 1 - k, centre);
        t += ell[w];
        ySum += ell[w];
    }
    const double* rightEll = ell.data();
    const double* leftEll = ell.data() + nRight;
    const double p1 = state.distanceParams[0];

    double* out = state.haplotypeDistances.data();
    for (int32_t i = 0; i + 1 < n; ++i) {
        const int32_t* x = alleleRow(state, i);
        for (int32_t j = i + 1; j < n; ++j) {
            const int32_t* y = alleleRow(state, j);
            const bool agreeCentre = x[centre] == y[centre];
            double s = agreeCentre ? 1.0 : 0.0;
            double xSum = 0.0;
            bool inRun = agreeCentre;
            for (int32_t k = 0; k < nRight; ++k) {
                const int32_t m = centre + 1 + k;
                if (x[m] == y[m]) {
                    s += rightEll[k];
                    if (inRun) xSum += rightEll[k];
                } else {
                    inRun = false;
                }
            }
            inRun = agreeCentre;
            for (int32_t k = 0; k < nLeft; ++k) {
                const int32_t m = centre - 1 - k;
                if (x[m] == y[m]) {
                    s += leftEll[k];
                    if (inRun) xSum += leftEll[k];
                } else {
                    inRun = false;
                }
            }
            *out++ = ldVariantDistance(p1, t, s, ySum, xSum, agreeCentre);
        }
    }
}

}  // namespace orvane
