// What the joint permutation test's scorers share: the regional maxima they
// fill, the work shared among threads, and the member lists they score.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "cluster/pattern_clustering.h"
#include "model/analysis_state.h"
#include "model/worker_threads.h"
#include "permutation/joint_maxima.h"
#include "permutation/member_sets.h"

namespace orvane {
namespace joint {

constexpr double kNone = -std::numeric_limits<double>::infinity();

// Replicates whose labels are kept at once: the chain runs them, then the
// threads score every marker under each of them.
constexpr int32_t kBlock = 64;

// Per statistic and replicate the largest value that is a number.
class RegionalMaxima {
public:
    RegionalMaxima(int statistics, int32_t replicates)
        : replicates_(static_cast<size_t>(replicates)),
          best_(static_cast<size_t>(statistics) * replicates_, kNone) {}
    void offer(int statistic, int32_t replicate, double value) {
        double& best = best_[static_cast<size_t>(statistic) * replicates_ + static_cast<size_t>(replicate)];
        if (value > best) best = value;  // false for a value that is not a number
    }
    double at(int statistic, int32_t replicate) const {
        return best_[static_cast<size_t>(statistic) * replicates_ + static_cast<size_t>(replicate)];
    }
    void merge(const RegionalMaxima& other) {
        for (size_t k = 0; k < best_.size(); ++k) best_[k] = std::max(best_[k], other.best_[k]);
    }
    JointMaxima result(int statistics) const {
        JointMaxima out;
        for (int s = 0; s < statistics; ++s) {
            const auto first = best_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(s) * replicates_);
            out.byStatistic.emplace_back(first, first + static_cast<std::ptrdiff_t>(replicates_));
        }
        return out;
    }

private:
    size_t replicates_;
    std::vector<double> best_;
};

// Items 0 .. count - 1 shared among the threads, each taking the next one not
// yet taken: `work(item, thread)`. Whatever the threads compute per item must
// not depend on which thread took it.
template <typename Work>
void forEachItem(int32_t count, int threads, const Work& work) {
    std::atomic<int32_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto run = [&](int t) {
        try {
            for (int32_t item = next++; item < count; item = next++) work(item, t);
        } catch (...) {
            std::lock_guard<std::mutex> held(failureLock);
            if (!failure) failure = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> helpers =
        startWorkers(std::min(threads, std::max(count, 1)) - 1, [&](int t) { run(t + 1); });
    run(0);
    for (std::thread& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
}

// The records carrying allele 1 at markers from .. to - 1, ascending, into
// lists[m - from], from one pass over the records' rows of alleles.
void collectCarriers(const AnalysisState& state, int32_t from, int32_t to, std::vector<int32_t>* lists);

// The records carrying allele 1 at each marker, ascending; `threads` share
// the markers.
std::vector<std::vector<int32_t>> markerCarriers(const AnalysisState& state, int threads);

// The member lists a run scores, each marker's clusters and its carriers, as
// ids that `intern(members, size, hash)` gives (the same id for identical
// lists).
struct ScoredSets {
    std::vector<int32_t> clusterFirst;  // per marker, where its clusters' ids start in clusterSet
    std::vector<int32_t> clusterSet;    // per cluster of every marker, in marker and cluster order
    std::vector<int32_t> carrierSet;    // per marker

    // The carriers of a few markers at a time: little memory beside the
    // clusters, but each carrier list is overwritten once interned. Sixteen
    // markers: at 1,000,000 haplotypes their lists hold about 40 MB, and the
    // rows are read 19 times for 300 markers.
    template <typename Intern>
    ScoredSets(const AnalysisState& state, const std::vector<WindowClusters>& clusters, const Intern& intern) {
        constexpr int32_t kMarkersAtOnce = 16;
        std::vector<std::vector<int32_t>> carriers(kMarkersAtOnce);
        const auto hashOf = [](int32_t, const int32_t* members, size_t size) { return listHash(members, size); };
        for (int32_t from = 0; from < state.nMarkers; from += kMarkersAtOnce) {
            const int32_t to = std::min(state.nMarkers, from + kMarkersAtOnce);
            for (auto& list : carriers) list.clear();
            collectCarriers(state, from, to, carriers.data());
            for (int32_t m = from; m < to; ++m) {
                addMarker(clusters[static_cast<size_t>(m)], carriers[static_cast<size_t>(m - from)], intern, hashOf);
            }
        }
        clusterFirst.push_back(static_cast<int32_t>(clusterSet.size()));
    }

    // Every marker's carriers given, kept by the caller for the run: the
    // lists are hashed by all threads, then interned in marker order.
    template <typename Intern>
    ScoredSets(const AnalysisState& state, const std::vector<WindowClusters>& clusters,
               const std::vector<std::vector<int32_t>>& carriers, int threads, const Intern& intern) {
        const size_t markers = static_cast<size_t>(state.nMarkers);
        std::vector<int32_t> firstHash(markers + 1, 0);
        for (size_t m = 0; m < markers; ++m) firstHash[m + 1] = firstHash[m] + clusters[m].count() + 1;
        std::vector<uint64_t> hashes(static_cast<size_t>(firstHash[markers]));
        forEachItem(state.nMarkers, threads, [&](int32_t marker, int) {
            const size_t m = static_cast<size_t>(marker);
            const WindowClusters& window = clusters[m];
            uint64_t* out = &hashes[static_cast<size_t>(firstHash[m])];
            for (int32_t c = 0; c < window.count(); ++c) {
                *out++ = listHash(window.members.data() + window.begin(c), static_cast<size_t>(window.end(c) - window.begin(c)));
            }
            *out = listHash(carriers[m].data(), carriers[m].size());
        });
        for (size_t m = 0; m < markers; ++m) {
            const uint64_t* hash = &hashes[static_cast<size_t>(firstHash[m])];
            addMarker(clusters[m], carriers[m], intern, [hash](int32_t list, const int32_t*, size_t) { return hash[list]; });
        }
        clusterFirst.push_back(static_cast<int32_t>(clusterSet.size()));
    }

private:
    // A marker's clusters, then its carriers (list number `count()` of the
    // marker for `hashOf`).
    template <typename Intern, typename HashOf>
    void addMarker(const WindowClusters& window, const std::vector<int32_t>& carriers, const Intern& intern,
                   const HashOf& hashOf) {
        clusterFirst.push_back(static_cast<int32_t>(clusterSet.size()));
        for (int32_t c = 0; c < window.count(); ++c) {
            const int32_t* members = window.members.data() + window.begin(c);
            const size_t size = static_cast<size_t>(window.end(c) - window.begin(c));
            clusterSet.push_back(intern(members, size, hashOf(c, members, size)));
        }
        carrierSet.push_back(intern(carriers.data(), carriers.size(), hashOf(window.count(), carriers.data(), carriers.size())));
    }
};

}  // namespace joint
}  // namespace orvane
