// Distances between every two haplotypes within the window around a centre marker.
#pragma once

#include <cstdint>

#include "model/analysis_state.h"

namespace orvane {

// Places the window of `centre`: windowSize markers, centred where the map allows.
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

// Fill haplotypeDistances for the current window (windowStart already placed).
void computeWindowDistances(AnalysisState& state, int32_t centre);
void computeWindowDistancesLD(AnalysisState& state, int32_t centre);

}  // namespace orvane
