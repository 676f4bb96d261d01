#include "scoring/replicate_scoring.h"

#include <immintrin.h>

#include <cstring>

#include "scoring/case_control_scoring.h"
#include "scoring/trait_scoring.h"

namespace orvane {

namespace {

// Members of a mask that carry status 1.
__attribute__((target_clones("popcnt", "default")))
int64_t maskedCount(const uint64_t* packed, const uint64_t* mask, size_t words) {
    int64_t sum = 0;
    for (size_t w = 0; w < words; ++w) sum += __builtin_popcountll(packed[w] & mask[w]);
    return sum;
}

// 64 status bytes (0 or 1) to the bits of one word, eight bytes per multiplication.
void packStatusesScalar(const uint8_t* status, size_t words, uint64_t* packed) {
    for (size_t w = 0; w < words; ++w) {
        uint64_t word = 0;
        for (int part = 0; part < 8; ++part) {
            uint64_t bytes;
            std::memcpy(&bytes, status + w * 64 + static_cast<size_t>(part) * 8, sizeof bytes);
            word |= ((bytes * 0x0102040810204080ull) >> 56) << (part * 8);
        }
        packed[w] = word;
    }
}

// The same, 32 bytes at a time: each byte's low bit moved to its top bit and
// gathered by the byte mask instruction.
__attribute__((target("avx2"))) void packStatusesAvx2(const uint8_t* status, size_t words,
                                                      uint64_t* packed) {
    for (size_t w = 0; w < words; ++w) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(status + w * 64));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(status + w * 64 + 32));
        const uint32_t lowBits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(low, 7)));
        const uint32_t highBits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(high, 7)));
        packed[w] = static_cast<uint64_t>(lowBits) | (static_cast<uint64_t>(highBits) << 32);
    }
}

using PackStatuses = void (*)(const uint8_t*, size_t, uint64_t*);

PackStatuses choosePackStatuses() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? packStatusesAvx2 : packStatusesScalar;
}

const PackStatuses packStatuses = choosePackStatuses();

}  // namespace

CaseControlReplicates::CaseControlReplicates(const AnalysisState& state,
                                             const std::vector<WindowClusters>& clusters)
    : state_(state),
      clusters_(clusters),
      words_((static_cast<size_t>(state.nHaplotypes) + 63) / 64),
      packed_(words_) {}

// Few large clusters are counted with population counts over bit masks of their
// members, many small ones member by member.
void CaseControlReplicates::prepare(int32_t marker) {
    marker_ = marker;
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
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

double CaseControlReplicates::score(int32_t marker, const uint8_t* status) {
    if (marker != marker_) prepare(marker);
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
    if (useMasks_) packStatuses(status, words_, packed_.data());
    CaseControlBest best;
    for (int32_t c = 0; c < window.count(); ++c) {
        int64_t cases = 0;
        if (useMasks_) {
            cases = maskedCount(packed_.data(), &masks_[static_cast<size_t>(c) * words_], words_);
        } else {
            for (int32_t k = window.begin(c); k < window.end(c); ++k) {
                cases += status[window.members[static_cast<size_t>(k)]];
            }
        }
        best.offer(chiSquareFromCounts(state_, cases, window.end(c) - window.begin(c) - cases, false));
    }
    return best.score;
}

TraitReplicates::TraitReplicates(const AnalysisState& state,
                                 const std::vector<WindowClusters>& clusters, const TraitRanks& ranks)
    : state_(state), clusters_(clusters), ranks_(ranks), scratch_(state.haplotypes.size(), 0) {}

void TraitReplicates::score(int32_t marker, const uint32_t* index, double& windowScore, double& t,
                            double& z) {
    if (marker != marker_) {
        marker_ = marker;
        carriersOf(state_, marker, carriers_);
    }
    const WindowClusters& window = clusters_[static_cast<size_t>(marker)];
    const double* value = ranks_.sorted.data();
    double best = kNoClusterTraitScore;
    for (int32_t c = 0; c < window.count(); ++c) {
        // Summed in ascending member order, as the scan sums them.
        double sum = 0.0;
        double sumOfSquares = 0.0;
        for (int32_t k = window.begin(c); k < window.end(c); ++k) {
            const double x = value[index[window.members[static_cast<size_t>(k)]]];
            sum += x;
            sumOfSquares += x * x;
        }
        double mean = 0.0;
        double variance = 0.0;
        const double clusterT =
            traitTFromSums(state_, window.end(c) - window.begin(c), sum, sumOfSquares, mean, variance);
        if (clusterT > best) best = clusterT;
    }
    windowScore = best;
    const TraitTests tests = rankedTraitTests(state_, ranks_, index, carriers_, scratch_);
    t = tests.t;
    z = tests.z;
}

}  // namespace orvane
