// The one record of a run: settings, haplotypes, marker distances and statistics,
// the current window with its distance matrix and its clusters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "model/allele_matrix.h"
#include "model/random_stream.h"

namespace orvane {

// One haplotype of the data file. The alleles live in the state's flat allele
// matrix (row h), so hot loops read contiguous memory.
struct HaplotypeRecord {
    int32_t clusterLabel = 0;  // 0 unvisited, -1 noise, >= 1 cluster id
    bool isCore = false;       // core point of the current window's clustering
    int32_t status = 0;        // 1 affected, 0 otherwise; always 0 in trait mode
    double trait = 0.0;        // trait value; 0 in single-gene mode
    int32_t identifier = 0;    // first token of the data line; only reported
};

using ClusterMembers = std::map<int32_t, std::set<int32_t>>;

struct AnalysisState {
    // Sizes, set by the data reader.
    int32_t nMarkers = 0;
    int32_t nHaplotypes = 0;
    int32_t qtlMode = 0;  // 1 in trait mode

    // Settings from the parameter file, with their defaults.
    double epsilon = 0.2;
    double epsilonFraction = 0.0;
    double minPts = 6.0;
    double minPtsQuantile = 0.0;
    int32_t windowStart = 0;
    int32_t windowSize = 21;  // after reading the data: at most nMarkers
    int32_t distanceType = 0;
    double distanceParams[4] = {0.0, 0.0, 0.0, 0.0};
    int32_t nPermutations = 1000;
    float reportThreshold = 1.0f;

    // Haplotypes in data-file order; the index is the haplotype index everywhere.
    std::vector<HaplotypeRecord> haplotypes;
    // Allele codes, nHaplotypes rows of nMarkers codes; 0 marks a missing allele.
    AlleleMatrix alleles;
    int32_t nAffected = 0;
    int32_t nUnaffected = 0;
    // Entry k: map distance between marker k and k + 1.
    std::vector<double> markerDistances;

    // Trait totals over all haplotypes (trait mode), prepared before each scoring.
    double traitMean = 0.0;
    double traitSumOfSquares = 0.0;

    // Marker statistics. Only code 1 counts as carrying the allele.
    std::vector<double> alleleFreq;  // per marker
    // Pair frequencies and |D'| are only ever read for two markers that share a
    // window, so they are kept as a band: entry (i, j), i < j < i + ldBandWidth,
    // at i * ldBandWidth + (j - i).
    int32_t ldBandWidth = 0;
    std::vector<double> pairFreq;
    std::vector<double> ldMatrix;

    // Distances of the current window, upper triangle only (pairs i < j).
    std::vector<double> haplotypeDistances;

    // Clusters of the current window.
    ClusterMembers clusterMembers;

    // The run's single random generator.
    RandomStream random;

    int32_t allele(int32_t haplotype, int32_t marker) const {
        return alleles[static_cast<size_t>(haplotype) * static_cast<size_t>(nMarkers) +
                       static_cast<size_t>(marker)];
    }
    AlleleMatrix::CodeRef allele(int32_t haplotype, int32_t marker) {
        return alleles[static_cast<size_t>(haplotype) * static_cast<size_t>(nMarkers) +
                       static_cast<size_t>(marker)];
    }

    // Position of the pair (i, j), i < j, in haplotypeDistances.
    size_t pairIndex(int32_t i, int32_t j) const {
        const size_t n = static_cast<size_t>(nHaplotypes);
        const size_t a = static_cast<size_t>(i);
        return a * n - a * (a + 1) / 2 + static_cast<size_t>(j - i - 1);
    }
    double distance(int32_t i, int32_t j) const {
        return i < j ? haplotypeDistances[pairIndex(i, j)] : haplotypeDistances[pairIndex(j, i)];
    }

    // Band position of the marker pair {a, b}, a != b, |a - b| < ldBandWidth.
    size_t bandIndex(int32_t a, int32_t b) const {
        const int32_t lo = a < b ? a : b;
        const int32_t hi = a < b ? b : a;
        return static_cast<size_t>(lo) * static_cast<size_t>(ldBandWidth) +
               static_cast<size_t>(hi - lo);
    }
    double ld(int32_t a, int32_t b) const { return ldMatrix[bandIndex(a, b)]; }
};

// Number of distance parameters that follow each distance type in the
// parameter file.
inline int distanceParameterCount(int32_t distanceType) {
    switch (distanceType) {
        case 1: case 2: case 6: return 2;
        case 3: return 1;
        case 4: case 5: return 4;
        default: return 0;
    }
}

}  // namespace orvane
