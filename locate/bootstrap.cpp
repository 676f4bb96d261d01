#include "locate/bootstrap.h"

#include "locate/parallel_for.h"
#include "locate/replicate_random.h"

namespace orvane {

void resampleHaplotypes(const AnalysisState& source, uint64_t seed, int32_t index,
                        AnalysisState& replicate) {
    const int32_t n = source.nHaplotypes;
    const size_t m = static_cast<size_t>(source.nMarkers);
    // Groups to draw within: cases and controls, or everyone in trait mode.
    std::vector<int32_t> groups[2];
    for (int32_t h = 0; h < n; ++h) {
        const bool affected = source.qtlMode == 0 && source.haplotypes[static_cast<size_t>(h)].status == 1;
        groups[affected ? 1 : 0].push_back(h);
    }
    ReplicateRandom random(seed, static_cast<uint64_t>(index));
    for (int32_t h = 0; h < n; ++h) {
        const size_t k = static_cast<size_t>(h);
        const bool affected = source.qtlMode == 0 && source.haplotypes[k].status == 1;
        const std::vector<int32_t>& group = groups[affected ? 1 : 0];
        const size_t drawn = static_cast<size_t>(group[random.below(static_cast<uint32_t>(group.size()))]);
        replicate.haplotypes[k] = source.haplotypes[drawn];
        replicate.alleles.copyCodes(source.alleles, drawn * m, k * m, m);
    }
}

std::vector<std::vector<int32_t>> bootstrapPeaks(const AnalysisState& source, int32_t replicates,
                                                 uint64_t seed, int threads) {
    const std::vector<Statistic> statistics = statisticsOf(source.qtlMode != 0);
    std::vector<std::vector<int32_t>> peaks(statistics.size(),
                                            std::vector<int32_t>(static_cast<size_t>(replicates), 0));
    // One replicate study per thread, rewritten for each replicate it takes.
    std::vector<AnalysisState> studies(static_cast<size_t>(threads < 1 ? 1 : threads), source);
    parallelFor(threads, replicates, [&](int32_t r, int worker) {
        AnalysisState& study = studies[static_cast<size_t>(worker)];
        resampleHaplotypes(source, seed, r, study);
        prepareMarkerStatistics(study);
        const LocusScores scores = scanLocus(study, 1, false);
        for (size_t s = 0; s < statistics.size(); ++s) {
            peaks[s][static_cast<size_t>(r)] = peakOf(evidenceOf(scores, statistics[s]));
        }
    });
    return peaks;
}

std::vector<double> peakShares(const std::vector<int32_t>& peaks, int32_t markers) {
    std::vector<double> shares(static_cast<size_t>(markers), 0.0);
    if (peaks.empty()) return shares;
    for (const int32_t p : peaks) shares[static_cast<size_t>(p)] += 1.0;
    for (double& s : shares) s /= static_cast<double>(peaks.size());
    return shares;
}

}  // namespace orvane
