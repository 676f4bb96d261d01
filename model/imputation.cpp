#include "model/imputation.h"

#include <cstddef>
#include <vector>

namespace orvane {

namespace {

// Turns the counts of one group into frequencies. The missing-allele count (code 0,
// when it is the smallest code) stays a count and shrinks the denominator, so the
// frequencies of the observed codes add up to 1.
void normaliseTable(AlleleTable& table, int32_t groupSize) {
    if (table.empty()) return;
    auto entry = table.begin();
    int32_t missing = 0;
    if (entry->first == 0) {
        missing = static_cast<int32_t>(entry->second);
        ++entry;
    }
    const double denominator = static_cast<double>(groupSize - missing);
    for (; entry != table.end(); ++entry) entry->second = entry->second / denominator;
}

// The code whose cumulative frequency first exceeds r, or 0 when rounding leaves
// the total at or below r.
int32_t drawCode(const AlleleTable& table, double r) {
    auto entry = table.begin();
    if (entry != table.end() && entry->first == 0) ++entry;
    double cumulative = 0.0;
    for (; entry != table.end(); ++entry) {
        cumulative += entry->second;
        if (r < cumulative) return entry->first;
    }
    return 0;
}

}  // namespace

void groupAlleleFrequencies(const AnalysisState& state, int32_t m, AlleleTable& affected,
                            AlleleTable& other) {
    // In trait mode there are no groups: every haplotype counts in one table over
    // the whole sample.
    const bool pooled = state.qtlMode == 1;
    for (int32_t h = 0; h < state.nHaplotypes; ++h) {
        const bool inAffected = !pooled && state.haplotypes[static_cast<size_t>(h)].status == 1;
        AlleleTable& table = inAffected ? affected : other;
        table[state.allele(h, m)] += 1.0;
    }
    normaliseTable(affected, state.nAffected);
    normaliseTable(other, pooled ? state.nHaplotypes : state.nUnaffected);
}

void imputeMissingAlleles(AnalysisState& state) {
    const bool pooled = state.qtlMode == 1;
    AlleleTable affected;
    AlleleTable other;
    // Markers with a missing allele, found in one pass over the rows: the
    // others need neither frequencies nor draws.
    const size_t markers = static_cast<size_t>(state.nMarkers);
    std::vector<char> hasMissing(markers, 0);
    for (size_t at = 0; at < state.alleles.size(); ++at) {
        if (state.alleles[at] == 0) hasMissing[at % markers] = 1;
    }
    // Markers outer, haplotypes inner: the permutation test continues this random
    // stream, so the number and order of draws are part of the results.
    for (int32_t m = 0; m < state.nMarkers; ++m) {
        if (!hasMissing[static_cast<size_t>(m)]) continue;
        affected.clear();
        other.clear();
        groupAlleleFrequencies(state, m, affected, other);
        for (int32_t h = 0; h < state.nHaplotypes; ++h) {
            if (state.allele(h, m) != 0) continue;
            const double r = state.random.next() * RandomStream::kScale;
            const bool inAffected =
                !pooled && state.haplotypes[static_cast<size_t>(h)].status == 1;
            state.allele(h, m) = drawCode(inAffected ? affected : other, r);
        }
    }
}

}  // namespace orvane
