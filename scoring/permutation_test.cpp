#include "scoring/permutation_test.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

#include "scoring/case_control_scoring.h"
#include "scoring/label_shuffle.h"
#include "scoring/single_marker_tests.h"
#include "scoring/trait_scoring.h"

namespace orvane {

namespace {


// Per replicate, the value at marker 0 replaced by each strictly greater later one.
void updateMaximum(double& maximum, double value, int32_t marker) {
    if (marker == 0 || value > maximum) maximum = value;
}

// Members of a mask that carry status 1.
__attribute__((target_clones("popcnt", "default")))
int64_t maskedCount(const uint64_t* packed, const uint64_t* mask, size_t words) {
    int64_t sum = 0;
    for (size_t w = 0; w < words; ++w) sum += __builtin_popcountll(packed[w] & mask[w]);
    return sum;
}

// Cases per cluster under the current statuses. Few large clusters are counted
// with population counts over bit masks of their members, many small ones
// member by member.
class CaseCounter {
public:
    explicit CaseCounter(int32_t n)
        : words_((static_cast<size_t>(n) + 63) / 64), packed_(words_) {}

    void prepare(const WindowClusters& window) {
        window_ = &window;
        useMasks_ = static_cast<size_t>(window.count()) * words_ < window.members.size();
        if (!useMasks_) return;
        masks_.assign(static_cast<size_t>(window.count()) * words_, 0);
        for (int32_t c = 0; c < window.count(); ++c) {
            uint64_t* mask = &masks_[static_cast<size_t>(c) * words_];
            for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                const uint32_t h = static_cast<uint32_t>(window.members[static_cast<size_t>(k)]);
                mask[h >> 6] |= uint64_t{1} << (h & 63);
            }
        }
    }

    // `status` holds one byte (0 or 1) per record, padded with zeros to whole words.
    void count(const uint8_t* status, std::vector<int64_t>& cases) {
        const WindowClusters& window = *window_;
        cases.resize(static_cast<size_t>(window.count()));
        if (!useMasks_) {
            for (int32_t c = 0; c < window.count(); ++c) {
                int64_t sum = 0;
                for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                    sum += status[window.members[static_cast<size_t>(k)]];
                }
                cases[static_cast<size_t>(c)] = sum;
            }
            return;
        }
        // Eight status bytes to eight bits with one multiplication.
        for (size_t w = 0; w < words_; ++w) {
            uint64_t word = 0;
            for (int part = 0; part < 8; ++part) {
                uint64_t bytes;
                std::memcpy(&bytes, status + w * 64 + part * 8, sizeof bytes);
                word |= ((bytes * 0x0102040810204080ull) >> 56) << (part * 8);
            }
            packed_[w] = word;
        }
        for (int32_t c = 0; c < window.count(); ++c) {
            cases[static_cast<size_t>(c)] =
                maskedCount(packed_.data(), &masks_[static_cast<size_t>(c) * words_], words_);
        }
    }

    size_t paddedSize() const { return words_ * 64; }

private:
    size_t words_;
    std::vector<uint64_t> packed_;
    std::vector<uint64_t> masks_;
    const WindowClusters* window_ = nullptr;
    bool useMasks_ = false;
};

void caseControlReplicates(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                           std::vector<double>& maxima) {
    const int32_t n = state.nHaplotypes;
    const int32_t replicates = state.nPermutations;
    CaseCounter counter(n);
    std::vector<uint8_t> status(counter.paddedSize(), 0);
    for (int32_t h = 0; h < n; ++h) status[static_cast<size_t>(h)] = state.haplotypes[static_cast<size_t>(h)].status == 1;
    std::vector<int64_t> cases;
    for (int32_t l = 0; l < state.nMarkers; ++l) {
        const WindowClusters& window = clusters[static_cast<size_t>(l)];
        counter.prepare(window);
        for (int32_t r = 0; r < replicates; ++r) {
            shuffleLabelArray(state.random, n, status.data());
            counter.count(status.data(), cases);
            CaseControlBest best;
            for (int32_t c = 0; c < window.count(); ++c) {
                const int64_t aIn = cases[static_cast<size_t>(c)];
                best.offer(chiSquareFromCounts(state, aIn, window.end(c) - window.begin(c) - aIn, false));
            }
            updateMaximum(maxima[static_cast<size_t>(r)], best.score, l);
        }
    }
    for (int32_t h = 0; h < n; ++h) state.haplotypes[static_cast<size_t>(h)].status = status[static_cast<size_t>(h)];
}

void traitReplicates(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                     std::vector<double>& scoreMaxima, std::vector<double>& tMaxima,
                     std::vector<double>& zMaxima) {
    const int32_t n = state.nHaplotypes;
    const int32_t replicates = state.nPermutations;
    std::vector<uint32_t> index;
    const TraitRanks ranked(state, index);
    const double* value = ranked.sorted.data();
    std::vector<int32_t> carriers;
    std::vector<int64_t> groupCount(static_cast<size_t>(n), 0);

    for (int32_t l = 0; l < state.nMarkers; ++l) {
        const WindowClusters& window = clusters[static_cast<size_t>(l)];
        carriers.clear();
        for (int32_t h = 0; h < n; ++h) {
            if (state.allele(h, l) == 1) carriers.push_back(h);
        }
        for (int32_t r = 0; r < replicates; ++r) {
            shuffleLabelArray(state.random, n, index.data());

            double best = kNoClusterTraitScore;
            for (int32_t c = 0; c < window.count(); ++c) {
                double sum = 0.0;
                double sumOfSquares = 0.0;
                for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                    const double x = value[index[static_cast<size_t>(window.members[static_cast<size_t>(k)])]];
                    sum += x;
                    sumOfSquares += x * x;
                }
                double mean = 0.0;
                double variance = 0.0;
                const double t =
                    traitTFromSums(state, window.end(c) - window.begin(c), sum, sumOfSquares, mean, variance);
                if (t > best) best = t;
            }

            const TraitTests tests = rankedTraitTests(state, ranked, index.data(), carriers, groupCount);
            updateMaximum(scoreMaxima[static_cast<size_t>(r)], best, l);
            updateMaximum(tMaxima[static_cast<size_t>(r)], tests.t, l);
            updateMaximum(zMaxima[static_cast<size_t>(r)], tests.z, l);
        }
    }
    for (size_t h = 0; h < index.size(); ++h) state.haplotypes[h].trait = value[index[h]];
}

}  // namespace

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

void permutationTest(AnalysisState& state, const std::vector<WindowClusters>& clusters,
                     double observedScore, double observedT, double observedZ,
                     PermutationPValues& pValues) {
    const int32_t replicates = state.nPermutations;
    std::vector<double> scoreMaxima(static_cast<size_t>(replicates), 0.0);
    if (state.qtlMode) {
        std::vector<double> tMaxima(static_cast<size_t>(replicates), 0.0);
        std::vector<double> zMaxima(static_cast<size_t>(replicates), 0.0);
        traitReplicates(state, clusters, scoreMaxima, tMaxima, zMaxima);
        pValues.t = empiricalPValue(tMaxima.data(), replicates, observedT);
        pValues.z = empiricalPValue(zMaxima.data(), replicates, observedZ);
    } else {
        caseControlReplicates(state, clusters, scoreMaxima);
    }
    pValues.score = empiricalPValue(scoreMaxima.data(), replicates, observedScore);
}

}  // namespace orvane
