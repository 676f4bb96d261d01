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


size_t pairCount(const AnalysisState& state) {
    const size_t n = static_cast<size_t>(state.nHaplotypes > 0 ? state.nHaplotypes : 0);
    return n * (n > 0 ? n - 1 : 0) / 2;
}

void reportWrongType() { std::fputs("error in distance_Ham_MIL_WeightedLD", stdout); }

}  // namespace

int32_t windowStartOf(int32_t centre, int32_t windowSize, int32_t nMarkers) {
    const int32_t start = centre - windowSize / 2;
    if (start < 0) return 0;
    if (start + windowSize >= nMarkers) return nMarkers - windowSize;
    return start;
}

void placeWindow(AnalysisState& state, int32_t centre) {
    state.windowStart = windowStartOf(centre, state.windowSize, state.nMarkers);
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
    const auto same = [&](int32_t m) { return state.allele(a, m) == state.allele(b, m); };
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const bool agreeCentre = same(centre);
    double s = agreeCentre ? 1.0 : 0.0;
    double t = 1.0;
    bool inRun = agreeCentre;
    for (int32_t m = centre + 1; m <= last; ++m) {
        const double match = matchWeight(state, centre, m);
        const double run = runWeight(state, centre, m);
        if (same(m)) {
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
        if (same(m)) {
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
    const auto same = [&](int32_t m) { return state.allele(a, m) == state.allele(b, m); };
    const int32_t first = state.windowStart;
    const int32_t last = state.windowStart + state.windowSize - 1;
    const bool agreeCentre = same(centre);
    double t = 1.0;
    double s = agreeCentre ? 1.0 : 0.0;
    double ySum = 0.0;
    double xSum = 0.0;
    bool inRun = agreeCentre;
    for (int32_t m = centre + 1; m <= last; ++m) {
        const double ell = state.ld(centre, m);
        t += ell;
        ySum += ell;
        if (same(m)) {
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
        if (same(m)) {
            s += ell;
            if (inRun) xSum += ell;
        } else {
            inRun = false;
        }
    }
    return ldVariantDistance(state.distanceParams[0], t, s, ySum, xSum, agreeCentre);
}

// The walk takes each marker's weights once per centre, in the order the per-pair
// functions visit the markers, and sums the pair-independent totals in that same
// order, so every distance has the same bits as the per-pair functions above.
void computeWindowWalk(const AnalysisState& state, int32_t windowStart, int32_t centre,
                       WindowWalk& walk) {
    const int32_t last = windowStart + state.windowSize - 1;
    walk.centre = centre;
    walk.nRight = std::max(0, last - centre);
    walk.nLeft = std::max(0, centre - windowStart);
    walk.ldMeasure = state.distanceType == 3;
    walk.ldVariant = state.distanceParams[0];
    const size_t steps = static_cast<size_t>(walk.nRight + walk.nLeft);
    walk.marker.resize(steps);
    walk.match.resize(steps);
    walk.run.resize(steps);
    walk.total = 1.0;
    walk.ldTotal = 0.0;
    for (size_t k = 0; k < steps; ++k) {
        const bool right = k < static_cast<size_t>(walk.nRight);
        const int32_t m = right ? centre + 1 + static_cast<int32_t>(k)
                                : centre - 1 - static_cast<int32_t>(k - walk.nRight);
        walk.marker[k] = m;
        if (walk.ldMeasure) {
            walk.match[k] = state.ld(centre, m);
            walk.run[k] = 0.0;
            walk.total += walk.match[k];
            walk.ldTotal += walk.match[k];
        } else {
            const int32_t a = right ? centre : m;
            const int32_t b = right ? m : centre;
            walk.match[k] = matchWeight(state, a, b);
            walk.run[k] = runWeight(state, a, b);
            walk.total += walk.match[k];
            walk.total += walk.run[k];
        }
    }
}

template <typename Code>
double walkDistance(const WindowWalk& walk, const Code* x, const Code* y) {
    const int32_t centre = walk.centre;
    const bool agreeCentre = x[centre] == y[centre];
    const int32_t* marker = walk.marker.data();
    const double* match = walk.match.data();
    const int32_t steps = walk.nRight + walk.nLeft;
    double s = agreeCentre ? 1.0 : 0.0;
    if (walk.ldMeasure) {
        double xSum = 0.0;
        bool inRun = agreeCentre;
        for (int32_t k = 0; k < steps; ++k) {
            if (k == walk.nRight) inRun = agreeCentre;
            const int32_t m = marker[k];
            if (x[m] == y[m]) {
                s += match[k];
                if (inRun) xSum += match[k];
            } else {
                inRun = false;
            }
        }
        return ldVariantDistance(walk.ldVariant, walk.total, s, walk.ldTotal, xSum, agreeCentre);
    }
    const double* run = walk.run.data();
    bool inRun = agreeCentre;
    for (int32_t k = 0; k < steps; ++k) {
        if (k == walk.nRight) inRun = agreeCentre;
        const int32_t m = marker[k];
        if (x[m] == y[m]) {
            s += match[k];
            if (inRun) s += run[k];
        } else {
            inRun = false;
        }
    }
    return (walk.total - s) / walk.total;
}

template double walkDistance(const WindowWalk& walk, const int8_t* x, const int8_t* y);
template double walkDistance(const WindowWalk& walk, const int32_t* x, const int32_t* y);

namespace {

void fillWindowDistances(AnalysisState& state, int32_t centre) {
    WindowWalk walk;
    computeWindowWalk(state, state.windowStart, centre, walk);
    state.haplotypeDistances.resize(pairCount(state));
    double* out = state.haplotypeDistances.data();
    const int32_t n = state.nHaplotypes;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    state.alleles.visit([&](const auto* alleles) {
        for (int32_t i = 0; i + 1 < n; ++i) {
            const auto* x = alleles + static_cast<size_t>(i) * rowLength;
            for (int32_t j = i + 1; j < n; ++j) {
                *out++ = walkDistance(walk, x, alleles + static_cast<size_t>(j) * rowLength);
            }
        }
    });
}

}  // namespace

void computeWindowDistances(AnalysisState& state, int32_t centre) {
    fillWindowDistances(state, centre);
}

void computeWindowDistancesLD(AnalysisState& state, int32_t centre) {
    if (state.distanceType != 3) {
        // Keeps the per-pair behaviour: one complaint and a zero for every pair.
        state.haplotypeDistances.resize(pairCount(state));
        const int32_t n = state.nHaplotypes;
        size_t idx = 0;
        for (int32_t i = 0; i + 1 < n; ++i)
            for (int32_t j = i + 1; j < n; ++j)
                state.haplotypeDistances[idx++] = distance_Ham_MIL_WeightedLD(state, i, j, centre);
        return;
    }
    fillWindowDistances(state, centre);
}

}  // namespace orvane
