#include "cluster/packed_alleles.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <type_traits>
#include <unordered_set>

namespace orvane {

namespace {

constexpr size_t kShortList = 16;

int32_t bitsFor(size_t codes) {
    int32_t bits = 0;
    while ((size_t{1} << bits) < codes) ++bits;
    return bits;
}

// A code's rank among the marker's distinct codes, ascending.
uint64_t rankOf(const std::vector<int32_t>& codes, int32_t code) {
    if (codes.size() <= kShortList) {
        size_t k = 0;
        while (codes[k] != code) ++k;
        return k;
    }
    return static_cast<uint64_t>(std::lower_bound(codes.begin(), codes.end(), code) - codes.begin());
}

// Each marker's distinct codes, ascending.
std::vector<std::vector<int32_t>> distinctCodes(const AnalysisState& state) {
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    const size_t m = static_cast<size_t>(state.nMarkers);
    std::vector<std::vector<int32_t>> codes(m);
    if (!state.alleles.wide()) {
        // Codes of a byte: a bit for each of the 256 a marker may hold.
        std::vector<std::array<uint64_t, 4>> seen(m, std::array<uint64_t, 4>{});
        state.alleles.visit([&](const auto* alleles) {
            for (size_t h = 0; h < n; ++h) {
                const auto* row = alleles + h * m;
                for (size_t k = 0; k < m; ++k) {
                    const uint32_t code = static_cast<uint32_t>(row[k] + 128);
                    seen[k][code >> 6] |= uint64_t{1} << (code & 63);
                }
            }
        });
        for (size_t k = 0; k < m; ++k) {
            for (int32_t code = 0; code < 256; ++code) {
                if ((seen[k][static_cast<size_t>(code) >> 6] >> (code & 63)) & 1) codes[k].push_back(code - 128);
            }
        }
        return codes;
    }
    // Most markers carry two or three codes, so they are looked for in a short
    // list, and a marker with many goes to a set.
    std::vector<std::unordered_set<int32_t>> many(m);
    state.alleles.visit([&](const auto* alleles) {
        for (size_t h = 0; h < n; ++h) {
            const auto* row = alleles + h * m;
            for (size_t k = 0; k < m; ++k) {
                std::vector<int32_t>& seen = codes[k];
                if (!many[k].empty()) {
                    many[k].insert(row[k]);
                } else if (std::find(seen.begin(), seen.end(), row[k]) == seen.end()) {
                    seen.push_back(row[k]);
                    if (seen.size() > kShortList) many[k].insert(seen.begin(), seen.end());
                }
            }
        }
    });
    for (size_t k = 0; k < m; ++k) {
        if (!many[k].empty()) codes[k].assign(many[k].begin(), many[k].end());
        std::sort(codes[k].begin(), codes[k].end());
    }
    return codes;
}

}  // namespace

PackedAlleles::PackedAlleles(const AnalysisState& state) : nHaplotypes_(state.nHaplotypes) {
    const size_t n = static_cast<size_t>(state.nHaplotypes);
    const size_t m = static_cast<size_t>(state.nMarkers);
    const std::vector<std::vector<int32_t>> codes = distinctCodes(state);
    bitOffset_.assign(m + 1, 0);
    for (size_t k = 0; k < m; ++k) bitOffset_[k + 1] = bitOffset_[k] + bitsFor(codes[k].size());
    // Codes of a byte find their rank in a table of each marker's span of codes
    // (lowest to highest), all spans end to end so that they stay in cache: the
    // rank of code c at marker k is byteRanks[spanBase[k] + c].
    std::vector<uint8_t> byteRanks;
    std::vector<ptrdiff_t> spanBase(m, 0);
    if (!state.alleles.wide()) {
        for (size_t k = 0; k < m; ++k) {
            if (codes[k].empty()) continue;
            spanBase[k] = static_cast<ptrdiff_t>(byteRanks.size()) - codes[k].front();
            byteRanks.resize(byteRanks.size() + static_cast<size_t>(codes[k].back() - codes[k].front() + 1), 0);
            for (size_t r = 0; r < codes[k].size(); ++r) {
                byteRanks[static_cast<size_t>(spanBase[k] + codes[k][r])] = static_cast<uint8_t>(r);
            }
        }
    }
    const size_t wordsPerHaplotype = static_cast<size_t>(bitOffset_[m] + 63) / 64;
    words_.assign(wordsPerHaplotype * n, 0);
    state.alleles.visit([&](const auto* alleles) {
        using Code = std::remove_const_t<std::remove_pointer_t<decltype(alleles)>>;
        for (size_t h = 0; h < n; ++h) {
            const auto* row = alleles + h * m;
            // The markers fill a haplotype's words in order: each word is built in a
            // register, with the high bits of a rank that straddles two carried on.
            size_t word = 0;
            uint64_t bits = 0;
            uint64_t carried = 0;
            for (size_t k = 0; k < m; ++k) {
                const size_t at = static_cast<size_t>(bitOffset_[k]);
                for (; word < at / 64; ++word) {
                    words_[word * n + h] = bits;
                    bits = carried;
                    carried = 0;
                }
                uint64_t rank = 0;
                if constexpr (std::is_same_v<Code, int8_t>) {
                    rank = byteRanks[static_cast<size_t>(spanBase[k] + row[k])];
                } else {
                    rank = rankOf(codes[k], row[k]);
                }
                const uint32_t shift = static_cast<uint32_t>(at % 64);
                bits |= rank << shift;
                carried |= (rank >> 1) >> (63 - shift);
            }
            for (; word < wordsPerHaplotype; ++word) {
                words_[word * n + h] = bits;
                bits = carried;
                carried = 0;
            }
        }
    });
}

}  // namespace orvane
