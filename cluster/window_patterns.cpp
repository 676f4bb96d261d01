#include "cluster/window_patterns.h"

#include <cstring>

namespace orvane {

namespace {

template <typename Code>
uint64_t hashRow(const Code* codes, int32_t length) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int32_t k = 0; k < length; ++k) {
        h ^= static_cast<uint32_t>(static_cast<int32_t>(codes[k]));
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    return h;
}

size_t tableSizeFor(int32_t n) {
    size_t size = 16;
    while (size < 2 * static_cast<size_t>(n)) size *= 2;
    return size;
}

// Each pattern's haplotypes, ascending, from patternOf and the multiplicities in fill.
void listMembers(WindowPatterns& patterns, int32_t n) {
    patterns.offsets.assign(static_cast<size_t>(patterns.count) + 1, 0);
    for (int32_t p = 0; p < patterns.count; ++p) {
        patterns.offsets[static_cast<size_t>(p) + 1] =
            patterns.offsets[static_cast<size_t>(p)] + patterns.fill[static_cast<size_t>(p)];
    }
    patterns.haplotypes.resize(static_cast<size_t>(n));
    for (int32_t p = 0; p < patterns.count; ++p) {
        patterns.fill[static_cast<size_t>(p)] = patterns.offsets[static_cast<size_t>(p)];
    }
    for (int32_t h = 0; h < n; ++h) {
        const size_t p = static_cast<size_t>(patterns.patternOf[static_cast<size_t>(h)]);
        patterns.haplotypes[static_cast<size_t>(patterns.fill[p]++)] = h;
    }
}

// The finaliser of splitmix64: every key bit reaches the low bits used for slots.
uint64_t mixKey(uint64_t key) {
    key = (key ^ (key >> 30)) * 0xBF58476D1CE4E5B9ull;
    key = (key ^ (key >> 27)) * 0x94D049BB133111EBull;
    return key ^ (key >> 31);
}

// The grouping over the rows of the allele matrix, as they are stored.
template <typename Code>
void groupRows(const Code* alleles, int32_t n, size_t rowLength, int32_t windowStart, int32_t windowSize,
               WindowPatterns& patterns) {
    const auto row = [&](int32_t h) { return alleles + static_cast<size_t>(h) * rowLength + windowStart; };

    const size_t tableSize = tableSizeFor(n);
    const size_t mask = tableSize - 1;
    patterns.slots.assign(tableSize, -1);
    patterns.hashes.assign(tableSize, 0);
    patterns.patternOf.resize(static_cast<size_t>(n));
    std::vector<int32_t> firstOf;  // representative per pattern
    firstOf.reserve(64);
    patterns.fill.clear();  // multiplicity per pattern

    const size_t bytes = static_cast<size_t>(windowSize) * sizeof(Code);
    for (int32_t h = 0; h < n; ++h) {
        const Code* codes = row(h);
        const uint64_t hash = hashRow(codes, windowSize);
        size_t slot = static_cast<size_t>(hash) & mask;
        int32_t pattern = -1;
        // Open addressing; equal hashes are confirmed allele by allele.
        while (patterns.slots[slot] >= 0) {
            const int32_t candidate = static_cast<int32_t>(patterns.slots[slot]);
            if (patterns.hashes[slot] == hash &&
                std::memcmp(row(firstOf[static_cast<size_t>(candidate)]), codes, bytes) == 0) {
                pattern = candidate;
                break;
            }
            slot = (slot + 1) & mask;
        }
        if (pattern < 0) {
            pattern = static_cast<int32_t>(firstOf.size());
            firstOf.push_back(h);
            patterns.fill.push_back(0);
            patterns.slots[slot] = pattern;
            patterns.hashes[slot] = hash;
        }
        patterns.patternOf[static_cast<size_t>(h)] = pattern;
        ++patterns.fill[static_cast<size_t>(pattern)];
    }

    patterns.count = static_cast<int32_t>(firstOf.size());
    listMembers(patterns, n);
}

}  // namespace

void groupWindowPatterns(const AnalysisState& state, int32_t windowStart, int32_t windowSize,
                         WindowPatterns& patterns) {
    const int32_t n = state.nHaplotypes;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    state.alleles.visit(
        [&](const auto* alleles) { groupRows(alleles, n, rowLength, windowStart, windowSize, patterns); });
}

void groupWindowPatterns(const PackedAlleles& packed, int32_t nHaplotypes, int32_t windowStart,
                         int32_t windowSize, WindowPatterns& patterns) {
    const int32_t n = nHaplotypes;
    // A table sized by the patterns, not the haplotypes, so that it stays in cache.
    size_t tableSize = 1024;
    patterns.keys.assign(tableSize, 0);
    patterns.keyIds.assign(tableSize, -1);
    patterns.patternOf.resize(static_cast<size_t>(n));
    patterns.fill.clear();
    std::vector<uint64_t> keyOf;  // per pattern
    const auto insert = [&](uint64_t key, int32_t id) {
        size_t slot = static_cast<size_t>(mixKey(key)) & (tableSize - 1);
        while (patterns.keyIds[slot] >= 0) slot = (slot + 1) & (tableSize - 1);
        patterns.keys[slot] = key;
        patterns.keyIds[slot] = id;
    };
    packed.forEachKey(windowStart, windowSize, [&](int32_t h, uint64_t key) {
        size_t slot = static_cast<size_t>(mixKey(key)) & (tableSize - 1);
        int32_t pattern = -1;
        for (; patterns.keyIds[slot] >= 0; slot = (slot + 1) & (tableSize - 1)) {
            if (patterns.keys[slot] == key) {
                pattern = patterns.keyIds[slot];
                break;
            }
        }
        if (pattern < 0) {
            pattern = static_cast<int32_t>(keyOf.size());
            keyOf.push_back(key);
            patterns.fill.push_back(0);
            patterns.keys[slot] = key;
            patterns.keyIds[slot] = pattern;
            if (2 * keyOf.size() > tableSize) {  // keep the table at most half full
                tableSize *= 2;
                patterns.keys.assign(tableSize, 0);
                patterns.keyIds.assign(tableSize, -1);
                for (size_t p = 0; p < keyOf.size(); ++p) insert(keyOf[p], static_cast<int32_t>(p));
            }
        }
        patterns.patternOf[static_cast<size_t>(h)] = pattern;
        ++patterns.fill[static_cast<size_t>(pattern)];
    });
    patterns.count = static_cast<int32_t>(keyOf.size());
    listMembers(patterns, n);
}

}  // namespace orvane
