// The mask kernels against the straightforward computations: the transform
// against its defining sum, the mask distances against walkDistance on rows
// that differ exactly at the mask's markers.
#include "cluster/mask_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/cluster/test_state.h"

namespace orvane {
namespace {

int parity(uint64_t x) { return __builtin_popcountll(x) & 1; }

// The transform's entry u by its definition: the sum of v[x] x (-1)^|x & u|.
int64_t definedEntry(const std::vector<int64_t>& v, uint64_t u) {
    int64_t sum = 0;
    for (uint64_t x = 0; x < v.size(); ++x) sum += parity(x & u) ? -v[x] : v[x];
    return sum;
}

TEST(MaskTransform, WalshHadamardMatchesItsDefinition) {
    std::mt19937_64 rng(2025);
    // Sizes below, at and above the cache block (2^12), where the high bits are
    // transformed strip by strip.
    for (const int32_t bits : {0, 1, 2, 5, 11, 12, 13, 16}) {
        const size_t size = size_t{1} << bits;
        std::vector<int64_t> v(size);
        for (auto& x : v) x = static_cast<int64_t>(rng() % 2001) - 1000;
        std::vector<uint64_t> t(v.begin(), v.end());
        walshHadamard(t.data(), bits);
        // Every entry when small, a seeded sample of them otherwise.
        const size_t checks = bits <= 11 ? size : 64;
        for (size_t c = 0; c < checks; ++c) {
            const uint64_t u = bits <= 11 ? c : rng() % size;
            ASSERT_EQ(static_cast<int64_t>(t[u]), definedEntry(v, u))
                << "bits " << bits << " entry " << u;
        }
        // Twice: the input times 2^bits.
        walshHadamard(t.data(), bits);
        for (size_t x = 0; x < size; ++x) {
            ASSERT_EQ(static_cast<int64_t>(t[x]), v[x] * static_cast<int64_t>(size)) << "bits " << bits;
        }
        // The 32-bit transform gives the same values where they fit 32 bits.
        std::vector<uint32_t> narrow(v.size());
        for (size_t x = 0; x < size; ++x) narrow[x] = static_cast<uint32_t>(static_cast<int32_t>(v[x]));
        walshHadamard(narrow.data(), bits);
        for (size_t c = 0; c < checks; ++c) {
            const uint64_t u = bits <= 11 ? c : rng() % size;
            ASSERT_EQ(static_cast<int32_t>(narrow[u]), definedEntry(v, u)) << "32 bits, bits " << bits << " entry " << u;
        }
    }
}

TEST(MaskTransform, WrapsAroundYetEndsExact) {
    // Intermediate values beyond int64 (a large square spectrum) still give the
    // exact pair counts of the inverse.
    const int32_t bits = 3;
    std::vector<uint64_t> w = {1500000000ull, 0, 1, 0, 0, 7, 0, 2};
    std::vector<uint64_t> spectrum = w;
    walshHadamard(spectrum.data(), bits);
    for (auto& s : spectrum) s *= s;
    walshHadamard(spectrum.data(), bits);
    for (uint64_t d = 0; d < w.size(); ++d) {
        uint64_t expected = 0;
        for (uint64_t x = 0; x < w.size(); ++x) expected += w[x] * w[x ^ d];
        EXPECT_EQ(spectrum[d] >> bits, expected) << "mask " << d;
    }
}

struct WalkCase {
    int32_t type;
    double p[4];
    int32_t markers;
    int32_t window;
};

TEST(MaskTransform, MaskDistancesHaveTheBitsOfTheWalk) {
    const WalkCase cases[] = {
        {1, {-30, 1, 0, 0}, 11, 11}, {1, {-500, 1, 0, 0}, 15, 9}, {2, {-20, 1, 0, 0}, 12, 7},
        {4, {-10, 1, -40, 2}, 9, 9},  {5, {-5, 1, -9, 0.5}, 13, 5}, {6, {1, 1, 0, 0}, 8, 8},
        {0, {0, 0, 0, 0}, 10, 6},     {2, {5, -0.2, 0, 0}, 6, 1},
    };
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> gap(0.0001, 0.003);
    for (const WalkCase& c : cases) {
        std::vector<std::vector<int32_t>> rows(1, std::vector<int32_t>(static_cast<size_t>(c.markers), 1));
        AnalysisState state = test::stateFromAlleles(rows);
        for (auto& g : state.markerDistances) g = gap(rng);
        state.windowSize = c.window;
        state.distanceType = c.type;
        for (int k = 0; k < 4; ++k) state.distanceParams[k] = c.p[k];
        // Every centre, so that windows at both ends of the map (one side short) are met.
        for (int32_t centre = 0; centre < c.markers; ++centre) {
            const int32_t start = windowStartOf(centre, c.window, c.markers);
            WindowWalk walk;
            computeWindowWalk(state, start, centre, walk);
            std::vector<double> distances;
            maskDistances(walk, distances);
            const int32_t steps = walk.nRight + walk.nLeft;
            ASSERT_EQ(distances.size(), size_t{2} << steps);
            std::vector<int32_t> x(static_cast<size_t>(c.markers), 1);
            for (size_t mask = 0; mask < distances.size(); ++mask) {
                std::vector<int32_t> y = x;
                if (mask & 1) y[static_cast<size_t>(centre)] = 2;
                for (int32_t k = 0; k < steps; ++k) {
                    if ((mask >> (k + 1)) & 1) y[static_cast<size_t>(walk.marker[static_cast<size_t>(k)])] = 2;
                }
                const double expected = walkDistance(walk, x.data(), y.data());
                ASSERT_EQ(std::memcmp(&distances[mask], &expected, sizeof(double)), 0)
                    << "type " << c.type << " centre " << centre << " mask " << mask << ": "
                    << distances[mask] << " vs " << expected;
            }
        }
    }
}

}  // namespace
}  // namespace orvane
