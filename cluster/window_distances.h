// Distances between every two haplotypes within the window around a centre marker.
#pragma once

#include <cstdint>
#include <vector>

#include "model/analysis_state.h"

namespace orvane {

// First marker of the window of `centre`: windowSize markers, centred where the
// map allows (windowSize is at most nMarkers).
int32_t windowStartOf(int32_t centre, int32_t windowSize, int32_t nMarkers);
// Places the window of `centre` in the state.
void placeWindow(AnalysisState& state, int32_t centre);

// Sum of the gaps between markers a and b, added from the smaller index upwards.
double mapDistance(const AnalysisState& state, int32_t a, int32_t b);
// Weight of marker b's agreement (Hamming part) and of its place in the shared
// run (MIL part), seen from marker a; a != b.
double matchWeight(const AnalysisState& state, int32_t a, int32_t b);
double runWeight(const AnalysisState& state, int32_t a, int32_t b);

// Distance of haplotypes a and b over the current window, for every distanceType but 3.
double haplotypeDistance(const AnalysisState& state, int32_t a, int32_t b, int32_t centre);
// Distance weighted by |D'| with the centre marker, distanceType 3; p1 picks the variant.
double distance_Ham_MIL_WeightedLD(const AnalysisState& state, int32_t a, int32_t b,
                                   int32_t centre);

// The weights of one window, once per centre marker, in the order the distance
// walks the markers: right of the centre ascending, then left of it descending.
// For the LD-weighted measure `match` holds |D'| with the centre and `run` is unused.
struct WindowWalk {
    int32_t centre = 0;
    int32_t nRight = 0;
    int32_t nLeft = 0;
    std::vector<int32_t> marker;  // marker index per walk step
    std::vector<double> match;
    std::vector<double> run;
    double total = 1.0;   // T: 1 + every weight, added in walk order
    bool ldMeasure = false;
    double ldVariant = 0.0;  // p1 of the LD measure
    double ldTotal = 0.0;    // Y: the |D'| weights summed on their own
};
void computeWindowWalk(const AnalysisState& state, int32_t windowStart, int32_t centre,
                       WindowWalk& walk);
// Distance of two allele rows under the walk; the same bits as the per-pair functions.
// For rows of int8_t and of int32_t codes (cluster/window_distances.cpp).
template <typename Code>
double walkDistance(const WindowWalk& walk, const Code* x, const Code* y);

// Fill haplotypeDistances for the current window (windowStart already placed).
void computeWindowDistances(AnalysisState& state, int32_t centre);
void computeWindowDistancesLD(AnalysisState& state, int32_t centre);

}  // namespace orvane
