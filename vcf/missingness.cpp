#include "missingness.h"

namespace orvane {

MissingnessSummary summarizeMissingness(const HaplotypeMatrix& m) {
    MissingnessSummary summary;
    long nHaplotypes = 0;
    for (const KeptSample& sample : m.samples) nHaplotypes += sample.ploidy;
    for (size_t site = 0; site < m.sites.size(); ++site) {
        long missing = 0;
        for (size_t k = 0; k < m.samples.size(); ++k)
            for (int h = 0; h < m.samples[k].ploidy; ++h) missing += m.code(site, k, h) == 0;
        summary.nMissing += missing;
        if (static_cast<double>(missing) > kMaxSiteMissingShare * static_cast<double>(nHaplotypes))
            ++summary.nSitesOverLimit;
    }
    summary.nAlleles = nHaplotypes * static_cast<long>(m.sites.size());
    return summary;
}

}  // namespace orvane
