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

// The grouping's bookkeeping: haplotypes are recorded in index order, so that
// a pattern is numbered by its first haplotype; each pattern's haplotypes are
// counted, then listed.
void startGrouping(int32_t n, WindowPatterns& patterns) {
    patterns.table.clear();
    patterns.patternOf.resize(static_cast<size_t>(n));
    patterns.fill.clear();  // multiplicity per pattern
}

void record(int32_t h, int32_t pattern, WindowPatterns& patterns) {
    if (pattern == static_cast<int32_t>(patterns.fill.size())) patterns.fill.push_back(0);
    patterns.patternOf[static_cast<size_t>(h)] = pattern;
    ++patterns.fill[static_cast<size_t>(pattern)];
}

void finishGrouping(int32_t n, WindowPatterns& patterns) {
    patterns.count = static_cast<int32_t>(patterns.fill.size());
    listMembers(patterns, n);
}

// The grouping over the rows of the allele matrix, as they are stored: equal
// hashes are confirmed allele by allele against the pattern's first haplotype.
template <typename Code>
void groupRows(const Code* alleles, int32_t n, size_t rowLength, int32_t windowStart, int32_t windowSize,
               WindowPatterns& patterns) {
    const auto row = [&](int32_t h) { return alleles + static_cast<size_t>(h) * rowLength + windowStart; };
    const size_t bytes = static_cast<size_t>(windowSize) * sizeof(Code);
    std::vector<int32_t> firstOf;  // per pattern
    startGrouping(n, patterns);
    for (int32_t h = 0; h < n; ++h) {
        const Code* codes = row(h);
        const uint64_t hash = hashRow(codes, windowSize);
        int32_t pattern = patterns.table.find(hash, [&](int32_t candidate) {
            return std::memcmp(row(firstOf[static_cast<size_t>(candidate)]), codes, bytes) == 0;
        });
        if (pattern < 0) {
            firstOf.push_back(h);
            pattern = patterns.table.add(hash);
        }
        record(h, pattern, patterns);
    }
    finishGrouping(n, patterns);
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
    std::vector<uint64_t> keyOf;  // per pattern
    startGrouping(nHaplotypes, patterns);
    packed.forEachKey(windowStart, windowSize, [&](int32_t h, uint64_t key) {
        const uint64_t hash = mixKey(key);
        int32_t pattern =
            patterns.table.find(hash, [&](int32_t candidate) { return keyOf[static_cast<size_t>(candidate)] == key; });
        if (pattern < 0) {
            keyOf.push_back(key);
            pattern = patterns.table.add(hash);
        }
        record(h, pattern, patterns);
    });
    finishGrouping(nHaplotypes, patterns);
}

void PatternTable::clear() {
    mask_ = 1023;
    hashes_.assign(mask_ + 1, 0);
    ids_.assign(mask_ + 1, -1);
    hashOf_.clear();
}

void PatternTable::place(uint64_t hash, int32_t id) {
    size_t slot = hash & mask_;
    while (ids_[slot] >= 0) slot = (slot + 1) & mask_;
    hashes_[slot] = hash;
    ids_[slot] = id;
}

int32_t PatternTable::add(uint64_t hash) {
    const int32_t id = static_cast<int32_t>(hashOf_.size());
    hashOf_.push_back(hash);
    if (2 * hashOf_.size() > mask_ + 1) {  // keep the table at most half full
        mask_ = 2 * mask_ + 1;
        hashes_.assign(mask_ + 1, 0);
        ids_.assign(mask_ + 1, -1);
        for (size_t p = 0; p < hashOf_.size(); ++p) place(hashOf_[p], static_cast<int32_t>(p));
    } else {
        place(hash, id);
    }
    return id;
}

}  // namespace orvane
