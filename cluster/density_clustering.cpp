#include "cluster/density_clustering.h"

#include <cstddef>
#include <set>

namespace orvane {

namespace {

// Buffers reused across the searches of one window, so growing a cluster does not
// allocate per visited haplotype.
struct Scratch {
    std::vector<int32_t> neighbours;
    std::vector<int32_t> reached;
    std::vector<int32_t> queue;
};

void collectNeighbours(const AnalysisState& state, int32_t p, std::vector<int32_t>& out) {
    out.clear();
    const int32_t n = state.nHaplotypes;
    const double epsilon = state.epsilon;
    const double* d = state.haplotypeDistances.data();
    for (int32_t i = 0; i < p; ++i) {
        if (d[state.pairIndex(i, p)] < epsilon) out.push_back(i);
    }
    if (p + 1 < n) {
        // Pairs (p, i > p) are contiguous.
        const double* row = d + state.pairIndex(p, p + 1);
        for (int32_t i = p + 1; i < n; ++i) {
            if (row[i - p - 1] < epsilon) out.push_back(i);
        }
    }
}

// A haplotype with k neighbours is core when k + 1 (itself included) reaches minPts.
bool isCoreCount(size_t neighbours, double minPts) {
    return static_cast<double>(neighbours) + 1.0 >= minPts;
}

int expand(AnalysisState& state, int32_t p, int32_t id, Scratch& scratch) {
    std::vector<int32_t>& seeds = scratch.neighbours;
    collectNeighbours(state, p, seeds);
    HaplotypeRecord& start = state.haplotypes[static_cast<size_t>(p)];
    if (!isCoreCount(seeds.size(), state.minPts)) {
        start.clusterLabel = -1;
        return -1;
    }
    start.clusterLabel = id;
    start.isCore = true;
    std::set<int32_t>& members = state.clusterMembers[id];
    members.insert(p);
    // The start's neighbours join outright, even when an earlier cluster or the
    // noise mark holds them; the earlier member set keeps them too.
    for (const int32_t q : seeds) {
        state.haplotypes[static_cast<size_t>(q)].clusterLabel = id;
        members.insert(q);
    }

    std::vector<int32_t>& queue = scratch.queue;
    queue.assign(seeds.begin(), seeds.end());
    std::vector<int32_t>& reached = scratch.reached;
    for (size_t head = 0; head < queue.size(); ++head) {
        const int32_t h = queue[head];
        collectNeighbours(state, h, reached);
        if (!isCoreCount(reached.size(), state.minPts)) continue;
        state.haplotypes[static_cast<size_t>(h)].isCore = true;
        for (const int32_t r : reached) {
            int32_t& label = state.haplotypes[static_cast<size_t>(r)].clusterLabel;
            if (label == 0) {
                label = id;
                members.insert(r);
                queue.push_back(r);
            } else if (label == -1) {
                // Reached from inside the cluster: the label moves, the member set
                // does not grow.
                label = id;
            }
        }
    }
    return 0;
}

}  // namespace

void resetClusters(AnalysisState& state) {
    state.clusterMembers.clear();
    for (HaplotypeRecord& record : state.haplotypes) {
        record.clusterLabel = 0;
        record.isCore = false;
    }
}

std::vector<int32_t> findNeighbours(const AnalysisState& state, int32_t p) {
    std::vector<int32_t> neighbours;
    collectNeighbours(state, p, neighbours);
    return neighbours;
}

int expandCluster(AnalysisState& state, int32_t p, int32_t id) {
    Scratch scratch;
    return expand(state, p, id, scratch);
}

void clusterHaplotypes(AnalysisState& state) {
    Scratch scratch;
    int32_t nextId = 1;
    for (int32_t p = 0; p < state.nHaplotypes; ++p) {
        if (state.haplotypes[static_cast<size_t>(p)].clusterLabel != 0) continue;
        if (expand(state, p, nextId, scratch) == 0) ++nextId;
    }
}

}  // namespace orvane
