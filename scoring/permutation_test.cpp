#include "scoring/permutation_test.h"

#include <utility>
#include <vector>

#include "cluster/cluster_window.h"
#include "scoring/case_control_scoring.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {

int32_t shuffleOffset(int32_t draw, int32_t remaining) {
    return static_cast<int32_t>(static_cast<double>(draw) * RandomStream::kScale *
                                static_cast<double>(remaining));
}

void shuffleLabels(AnalysisState& state) {
    const int32_t n = state.nHaplotypes;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = shuffleOffset(state.random.next(), n - 1 - i);
        HaplotypeRecord& a = state.haplotypes[static_cast<size_t>(i)];
        HaplotypeRecord& b = state.haplotypes[static_cast<size_t>(i + j)];
        if (state.qtlMode) {
            std::swap(a.trait, b.trait);
        } else {
            std::swap(a.status, b.status);
        }
    }
}

double empiricalPValue(const double* maxima, int32_t count, double observed) {
    int32_t below = 0;
    for (int32_t r = 0; r < count; ++r) {
        if (!(maxima[r] >= observed)) ++below;
    }
    return 1.0 - static_cast<double>(below) / static_cast<double>(count);
}

namespace {

// Per replicate, the value at marker 0 replaced by each strictly greater later one.
std::vector<double> replicateMaxima(const std::vector<double>& table, int32_t markers,
                                    int32_t replicates) {
    std::vector<double> maxima(table.begin(), table.begin() + replicates);
    for (int32_t l = 1; l < markers; ++l) {
        const double* row = table.data() + static_cast<size_t>(l) * static_cast<size_t>(replicates);
        for (int32_t r = 0; r < replicates; ++r) {
            if (row[r] > maxima[static_cast<size_t>(r)]) maxima[static_cast<size_t>(r)] = row[r];
        }
    }
    return maxima;
}

}  // namespace

void permutationTest(AnalysisState& state, double observedScore, double observedT,
                     double observedZ, PermutationPValues& pValues) {
    const int32_t markers = state.nMarkers;
    const int32_t replicates = state.nPermutations;
    const size_t cells = static_cast<size_t>(markers) * static_cast<size_t>(replicates);
    std::vector<double> scores(cells, 0.0);
    std::vector<double> tValues(state.qtlMode ? cells : 0, 0.0);
    std::vector<double> zValues(state.qtlMode ? cells : 0, 0.0);

    for (int32_t l = 0; l < markers; ++l) {
        clusterWindow(state, l);
        for (int32_t r = 0; r < replicates; ++r) {
            const size_t cell = static_cast<size_t>(l) * static_cast<size_t>(replicates) +
                                static_cast<size_t>(r);
            shuffleLabels(state);
            if (state.qtlMode) {
                scores[cell] = traitWindowScore(state);
                const TraitTests tests = singleMarkerTraitTests(state, l);
                tValues[cell] = tests.t;
                zValues[cell] = tests.z;
            } else {
                scores[cell] = caseControlWindowScore(state);
            }
        }
    }

    const std::vector<double> scoreMaxima = replicateMaxima(scores, markers, replicates);
    pValues.score = empiricalPValue(scoreMaxima.data(), replicates, observedScore);
    if (state.qtlMode) {
        const std::vector<double> tMaxima = replicateMaxima(tValues, markers, replicates);
        const std::vector<double> zMaxima = replicateMaxima(zValues, markers, replicates);
        pValues.t = empiricalPValue(tMaxima.data(), replicates, observedT);
        pValues.z = empiricalPValue(zMaxima.data(), replicates, observedZ);
    }
}

}  // namespace orvane
