#include "vcf_haplotypes.h"

#include <htslib/hts.h>
#include <htslib/synced_bcf_reader.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "tool_error.h"

namespace orvane {

namespace {

struct ReaderDeleter {
    void operator()(bcf_srs_t* sr) const { bcf_sr_destroy(sr); }
};
using Reader = std::unique_ptr<bcf_srs_t, ReaderDeleter>;

// htslib grows this buffer from site to site.
struct GenotypeBuffer {
    int32_t* data = nullptr;
    int size = 0;
    GenotypeBuffer() = default;
    GenotypeBuffer(const GenotypeBuffer&) = delete;
    GenotypeBuffer& operator=(const GenotypeBuffer&) = delete;
    ~GenotypeBuffer() { std::free(data); }
};

std::string openErrorText(const VcfReadSettings& s, int errnum, int savedErrno) {
    switch (errnum) {
    case open_failed:
        return "cannot open: " + std::string(std::strerror(savedErrno ? savedErrno : ENOENT));
    case not_bgzf:
    case idx_load_failed:
    case noidx_error:
        return "--region needs an index (.tbi or .csi): 'bcftools index " + s.path +
               "' makes one for a BCF or bgzipped VCF; compress a plain VCF first with "
               "'bgzip " + s.path + "'";
    case file_type_error:
        return "not a VCF or BCF file";
    case header_error:
        return "invalid VCF header";
    default:
        return bcf_sr_strerror(errnum);
    }
}

Reader openReader(const VcfReadSettings& s) {
    // htslib would add its own lines to ours; every failure is reported once, below.
    hts_set_log_level(HTS_LOG_OFF);
    Reader sr(bcf_sr_init());
    if (!sr) throw inputError("out of memory");
    if (!s.region.empty()) {
        bcf_sr_set_opt(sr.get(), BCF_SR_REQUIRE_IDX);
        // A site belongs to the region by its POS alone, as on the map.
        bcf_sr_set_opt(sr.get(), BCF_SR_REGIONS_OVERLAP, 0);
        if (bcf_sr_set_regions(sr.get(), s.region.c_str(), 0) < 0)
            throw inputError("--region '" + s.region + "' is not of the form CHR:FROM-TO");
    }
    errno = 0;
    if (!bcf_sr_add_reader(sr.get(), s.path.c_str()))
        throw inputError(s.path + ": " + openErrorText(s, sr->errnum, errno));
    return sr;
}

std::string siteLabel(const std::string& chrom, long pos, const char* id) {
    std::string label = chrom + ":" + std::to_string(pos);
    if (id && std::strcmp(id, ".") != 0) label += std::string(" (") + id + ")";
    return label;
}

void selectSamples(const bcf_hdr_t* hdr, const PhenotypeTable& phenotypes, HaplotypeMatrix& m) {
    m.nVcfSamples = bcf_hdr_nsamples(hdr);
    std::unordered_set<std::string> inVcf;
    for (int i = 0; i < m.nVcfSamples; ++i) {
        const std::string name = hdr->samples[i];
        inVcf.insert(name);
        const auto it = phenotypes.byId.find(name);
        if (it == phenotypes.byId.end()) {
            ++m.nWithoutPhenotype;
            continue;
        }
        KeptSample sample;
        sample.name = name;
        sample.vcfIndex = i;
        sample.phenotype = it->second;
        sample.ploidy = 0;  // known at the sample's first called allele
        m.samples.push_back(sample);
    }
    for (const auto& entry : phenotypes.byId)
        if (!inVcf.count(entry.first)) ++m.nPhenotypedNotInVcf;
}

}  // namespace

HaplotypeMatrix readPhasedVcf(const VcfReadSettings& s, const PhenotypeTable& phenotypes) {
    Reader sr = openReader(s);
    const bcf_hdr_t* hdr = bcf_sr_get_header(sr.get(), 0);
    HaplotypeMatrix m;
    selectSamples(hdr, phenotypes, m);
    if (m.nVcfSamples == 0) throw inputError(s.path + ": the file holds no sample");
    if (m.samples.empty())
        throw inputError(s.path + ": none of its " + std::to_string(m.nVcfSamples) +
                         " samples has a phenotype in column '" + phenotypes.columnName +
                         "'; check that the sample IDs match");

    const size_t nKept = m.samples.size();
    std::vector<int> missingSlots(nKept, 0);  // for samples never called
    std::vector<uint16_t> siteCodes(2 * nKept);
    std::vector<long> alleleCounts;
    GenotypeBuffer gt;
    std::string chrom;
    long lastPos = 0;
    std::string lastLabel;

    while (bcf_sr_next_line(sr.get())) {
        bcf1_t* rec = bcf_sr_get_line(sr.get(), 0);
        bcf_unpack(rec, BCF_UN_STR);
        const std::string recChrom = bcf_seqname_safe(hdr, rec);
        const long pos = rec->pos + 1;
        const std::string label = siteLabel(recChrom, pos, rec->d.id);
        const std::string where = s.path + ": site " + label;
        if (rec->pos < 0) throw inputError(where + ": invalid POS");
        if (m.nSitesRead == 0) {
            chrom = recChrom;
        } else if (recChrom != chrom) {
            throw inputError(s.path + ": sites on more than one chromosome (" + chrom + ", " +
                             recChrom + "); choose one with --region");
        } else if (pos < lastPos) {
            throw inputError(where + " follows " + lastLabel + ": sites are not sorted by position");
        }
        ++m.nSitesRead;
        lastPos = pos;
        lastLabel = label;
        if (rec->n_allele > 65000) throw inputError(where + ": too many alleles");

        const int n = bcf_get_genotypes(hdr, rec, &gt.data, &gt.size);
        if (n <= 0) throw inputError(where + ": no GT field");
        const int maxPloidy = n / static_cast<int>(m.nVcfSamples);
        alleleCounts.assign(rec->n_allele, 0);

        for (size_t k = 0; k < nKept; ++k) {
            KeptSample& sample = m.samples[k];
            const int32_t* call = gt.data + static_cast<size_t>(sample.vcfIndex) * maxPloidy;
            int nSlots = 0;
            while (nSlots < maxPloidy && call[nSlots] != bcf_int32_vector_end) ++nSlots;
            if (nSlots > 2)
                throw inputError(where + ": sample " + sample.name + " has ploidy " +
                                 std::to_string(nSlots) + "; only haploid and diploid calls work");
            int allele[2] = {-1, -1};
            for (int h = 0; h < nSlots; ++h)
                if (!bcf_gt_is_missing(call[h])) allele[h] = bcf_gt_allele(call[h]);
            if (allele[0] >= rec->n_allele || allele[1] >= rec->n_allele)
                throw inputError(where + ": sample " + sample.name +
                                 " has an allele index beyond the site's alleles");
            const bool allMissing = allele[0] < 0 && allele[1] < 0;
            // Unphased, the two alleles of a heterozygote (or a call with one
            // allele missing) cannot be assigned to haplotypes.
            if (nSlots == 2 && !allMissing && !bcf_gt_is_phased(call[1]) &&
                allele[0] != allele[1]) {
                if (!s.unphasedAsMissing)
                    throw inputError(where + ": sample " + sample.name +
                                     " has an unphased heterozygous call; phase the file or "
                                     "use --unphased-as-missing");
                allele[0] = allele[1] = -1;
                ++m.nUnphasedSetMissing;
            } else if (allMissing) {
                missingSlots[k] = std::max(missingSlots[k], nSlots);
            } else if (sample.ploidy == 0) {
                sample.ploidy = nSlots;
            } else if (sample.ploidy != nSlots) {
                throw inputError(where + ": sample " + sample.name + " has a " +
                                 (nSlots == 1 ? "haploid" : "diploid") +
                                 " call after " + (nSlots == 1 ? "diploid" : "haploid") +
                                 " ones; one sample must keep one ploidy");
            }
            for (int h = 0; h < 2; ++h) {
                siteCodes[2 * k + h] = allele[h] < 0 ? 0 : alleleCode(allele[h]);
                if (allele[h] >= 0) ++alleleCounts[allele[h]];
            }
        }

        long total = 0, largest = 0, observed = 0;
        for (long c : alleleCounts) {
            total += c;
            largest = std::max(largest, c);
            observed += c > 0;
        }
        if (observed < 2) {
            ++m.nMonomorphic;
            continue;
        }
        // Non-major allele frequency, so that a multi-allelic site counts all
        // of its minor alleles together.
        if (1.0 - static_cast<double>(largest) / static_cast<double>(total) < s.minMaf) {
            ++m.nBelowMaf;
            continue;
        }
        Site site;
        site.chrom = recChrom;
        site.pos = pos;
        site.id = std::strcmp(rec->d.id, ".") != 0 ? rec->d.id : recChrom + ":" + std::to_string(pos);
        site.ref = rec->d.allele[0];
        for (int a = 1; a < rec->n_allele; ++a) {
            if (a > 1) site.alt += ',';
            site.alt += rec->d.allele[a];
        }
        if (site.alt.empty()) site.alt = ".";
        m.sites.push_back(std::move(site));
        m.codes.insert(m.codes.end(), siteCodes.begin(), siteCodes.end());
    }
    if (sr->errnum)
        throw inputError(s.path + ": malformed record" +
                         (lastLabel.empty() ? std::string(" before the first site")
                                            : " after site " + lastLabel) +
                         " (" + bcf_sr_strerror(sr->errnum) + ")");
    if (m.nSitesRead == 0)
        throw inputError(s.path + ": no site" +
                         (s.region.empty() ? std::string() : " in region " + s.region));
    if (m.sites.empty())
        throw inputError(s.path + ": no site left after dropping " +
                         std::to_string(m.nMonomorphic) + " monomorphic and " +
                         std::to_string(m.nBelowMaf) + " below --min-maf");
    for (size_t k = 0; k < nKept; ++k)
        if (m.samples[k].ploidy == 0) m.samples[k].ploidy = std::max(1, missingSlots[k]);
    return m;
}

}  // namespace orvane
