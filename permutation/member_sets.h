// Distinct lists: clusters found at several markers (a window sliding over
// markers in strong linkage disequilibrium often finds the same cluster), and
// carrier sets shared by markers, are kept and scored once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace orvane {

// A list's hash, for finding lists kept already.
template <typename T>
uint64_t listHash(const T* items, size_t size) {
    uint64_t hash = 1469598103934665603ull ^ static_cast<uint64_t>(size);
    for (size_t k = 0; k < size; ++k) hash = (hash ^ static_cast<uint64_t>(items[k])) * 1099511628211ull;
    return hash;
}

// Ascending record indices kept elsewhere.
struct RecordSpan {
    const int32_t* begin = nullptr;
    const int32_t* end = nullptr;
    int64_t size() const { return end - begin; }
};

// Member lists kept where their owner keeps them, each once: the id of a list
// equal to an earlier one is the earlier one's.
class DistinctSpans {
public:
    int32_t add(const int32_t* items, size_t size, uint64_t hash) {
        const auto [first, last] = byHash_.equal_range(hash);
        for (auto it = first; it != last; ++it) {
            const RecordSpan& known = spans_[static_cast<size_t>(it->second)];
            if (static_cast<size_t>(known.size()) == size && std::equal(items, items + size, known.begin)) {
                return it->second;
            }
        }
        const int32_t id = static_cast<int32_t>(spans_.size());
        spans_.push_back({items, items + size});
        byHash_.emplace(hash, id);
        return id;
    }
    const std::vector<RecordSpan>& spans() const { return spans_; }

private:
    std::vector<RecordSpan> spans_;
    std::unordered_multimap<uint64_t, int32_t> byHash_;
};

// Lists of T, each kept once: a member list (ascending record indices) or a
// member mask.
template <typename T>
class DistinctLists {
public:
    // The id of the list items[0 .. size): a new id for a list not seen
    // before, otherwise the earlier one's.
    int32_t add(const T* items, size_t size) {
        const uint64_t hash = listHash(items, size);
        const auto [first, last] = byHash_.equal_range(hash);
        for (auto it = first; it != last; ++it) {
            if (static_cast<size_t>(this->size(it->second)) == size && std::equal(items, items + size, begin(it->second))) {
                return it->second;
            }
        }
        const int32_t id = count();
        items_.insert(items_.end(), items, items + size);
        offsets_.push_back(items_.size());
        byHash_.emplace(hash, id);
        return id;
    }

    int32_t count() const { return static_cast<int32_t>(offsets_.size()) - 1; }
    const T* begin(int32_t list) const { return items_.data() + offsets_[static_cast<size_t>(list)]; }
    const T* end(int32_t list) const { return items_.data() + offsets_[static_cast<size_t>(list) + 1]; }
    int64_t size(int32_t list) const {
        return static_cast<int64_t>(offsets_[static_cast<size_t>(list) + 1] - offsets_[static_cast<size_t>(list)]);
    }

private:
    std::vector<size_t> offsets_{0};
    std::vector<T> items_;
    std::unordered_multimap<uint64_t, int32_t> byHash_;
};

using MemberSets = DistinctLists<int32_t>;

}  // namespace orvane
