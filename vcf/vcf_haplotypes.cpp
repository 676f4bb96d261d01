#include "vcf_haplotypes.h"

#include <htslib/hts.h>
#include <htslib/synced_bcf_reader.h>
#include <htslib/tbx.h>
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

// A table read with its first line as the header loses that line's sample.
void checkHeaderIsNoSample(const PhenotypeTable& phenotypes,
                           const std::unordered_set<std::string>& inVcf) {
    for (const std::string& field : phenotypes.header)
        if (inVcf.count(field))
            throw inputError(phenotypes.path + ":1: the first line names VCF sample " + field +
                             ", so the table has no header line; add one (such as 'IID PHENO'), "
                             "or read a PLINK .fam file with --pheno-format fam");
}

void selectSamples(const bcf_hdr_t* hdr, const VcfReadSettings& s,
                   const PhenotypeTable& phenotypes, HaplotypeMatrix& m) {
    m.nVcfSamples = bcf_hdr_nsamples(hdr);
    std::unordered_set<std::string> inVcf;
    for (int i = 0; i < m.nVcfSamples; ++i) inVcf.insert(hdr->samples[i]);
    checkHeaderIsNoSample(phenotypes, inVcf);
    for (int i = 0; i < m.nVcfSamples; ++i) {
        const std::string name = hdr->samples[i];
        const auto it = phenotypes.byId.find(name);
        if (it == phenotypes.byId.end()) {
            ++m.nWithoutPhenotype;
            m.leftOut.push_back({name, phenotypes.missingIds.count(name) ? "phenotype missing"
                                                                         : "not in the phenotype file"});
            continue;
        }
        if (s.covariates && !s.covariates->byId.count(name)) {
            ++m.nWithoutCovariate;
            m.leftOut.push_back({name, "covariate missing"});
            continue;
        }
        KeptSample sample;
        sample.name = name;
        sample.vcfIndex = i;
        sample.phenotype = it->second;
        sample.ploidy = 0;  // known at the sample's first called allele
        m.samples.push_back(sample);
    }
    std::vector<std::string> absent;
    for (const auto& entry : phenotypes.byId)
        if (!inVcf.count(entry.first)) absent.push_back(entry.first);
    std::sort(absent.begin(), absent.end());
    m.nPhenotypedNotInVcf = static_cast<long>(absent.size());
    for (const std::string& name : absent)
        m.leftOut.push_back({name, "phenotyped but not in the VCF"});
}

// A case/control analysis without cases or without controls has nothing to compare.
void checkBothGroups(const PhenotypeTable& phenotypes, const HaplotypeMatrix& m) {
    long nCases = 0;
    for (const KeptSample& sample : m.samples) nCases += sample.phenotype.isCase;
    const long nControls = static_cast<long>(m.samples.size()) - nCases;
    if (nCases > 0 && nControls > 0) return;
    std::string text = phenotypes.path + ": " + std::to_string(nCases) + " case" +
                       (nCases == 1 ? "" : "s") + " and " + std::to_string(nControls) +
                       " control" + (nControls == 1 ? "" : "s") + " among the " +
                       std::to_string(m.samples.size()) +
                       " kept samples; case/control codes are 2 or case = case, 1 or control = "
                       "control, 0, -9, NA or . = missing";
    if (phenotypes.looksZeroOneCoded())
        text += "; the values look like 0/1 coding (" + std::to_string(phenotypes.nOneCodes) +
                " ones, " + std::to_string(phenotypes.nZeroCodes) +
                " zeros): recode 1 as 2 and 0 as 1";
    throw inputError(text);
}

// The contig of each region of a --region list ("chr1:100-200,chr2").
std::vector<std::string> regionContigs(const std::string& regions) {
    std::vector<std::string> contigs;
    size_t start = 0;
    for (;;) {
        const size_t comma = regions.find(',', start);
        const std::string part = regions.substr(start, comma - start);
        // Pieces such as "000-2,000" belong to a number written with commas.
        if (!part.empty() && part.find_first_not_of("0123456789-") != std::string::npos)
            contigs.push_back(part.substr(0, part.rfind(':')));
        if (comma == std::string::npos) return contigs;
        start = comma + 1;
    }
}

// The contigs the index knows (those holding sites), else the header's.
std::vector<std::string> fileContigs(bcf_srs_t* sr) {
    const bcf_sr_t& reader = sr->readers[0];
    int n = 0;
    const char** names = nullptr;
    if (reader.tbx_idx) names = tbx_seqnames(reader.tbx_idx, &n);
    else if (reader.bcf_idx) names = bcf_index_seqnames(reader.bcf_idx, reader.header, &n);
    else names = bcf_hdr_seqnames(reader.header, &n);
    std::vector<std::string> contigs(names, names + (names ? n : 0));
    std::free(names);
    return contigs;
}

void checkRegionContigs(bcf_srs_t* sr, const VcfReadSettings& s) {
    const std::vector<std::string> contigs = fileContigs(sr);
    const auto has = [&](const std::string& name) {
        return std::find(contigs.begin(), contigs.end(), name) != contigs.end();
    };
    for (const std::string& contig : regionContigs(s.region)) {
        if (has(contig)) continue;
        std::string text = s.path + ": --region " + s.region + ": the file has no contig '" +
                           contig + "' (its contigs: ";
        const size_t shown = std::min<size_t>(contigs.size(), 10);
        for (size_t k = 0; k < shown; ++k) text += (k ? ", " : "") + contigs[k];
        if (contigs.size() > shown)
            text += " and " + std::to_string(contigs.size() - shown) + " more";
        if (contigs.empty()) text += "none";
        text += ")";
        const std::string other =
            contig.rfind("chr", 0) == 0 ? contig.substr(3) : "chr" + contig;
        if (has(other)) text += "; did you mean '" + other + "'?";
        throw inputError(text);
    }
}

// The line of a text VCF that holds its `record`-th data line (from 0), or 0
// for a BCF or a file that cannot be read again.
long dataLineNumber(const std::string& path, long record) {
    htsFile* fp = hts_open(path.c_str(), "r");
    if (!fp) return 0;
    long line = 0, found = 0, data = 0;
    if (hts_get_format(fp)->format == vcf) {
        kstring_t text = {0, 0, nullptr};
        while (hts_getline(fp, '\n', &text) >= 0) {
            ++line;
            if (text.l > 0 && text.s[0] == '#') continue;
            if (data++ == record) {
                found = line;
                break;
            }
        }
        std::free(text.s);
    }
    hts_close(fp);
    return found;
}

// A blank line or one htslib could not split into the VCF's columns.
[[noreturn]] void malformedLine(const VcfReadSettings& s, long record,
                                const std::string& lastLabel) {
    const long line = s.region.empty() ? dataLineNumber(s.path, record) : 0;
    const std::string after =
        lastLabel.empty() ? "before the first site" : "after site " + lastLabel;
    if (line > 0)
        throw inputError(s.path + ":" + std::to_string(line) + ": blank or malformed line (" +
                         after + "); a VCF line has at least 8 tab-separated columns, 10 "
                         "with genotypes; delete or mend it");
    throw inputError(s.path + ": blank or malformed record " + after + "; delete or mend it");
}

}  // namespace

HaplotypeMatrix readPhasedVcf(const VcfReadSettings& s, const PhenotypeTable& phenotypes) {
    Reader sr = openReader(s);
    const bcf_hdr_t* hdr = bcf_sr_get_header(sr.get(), 0);
    if (!s.region.empty()) checkRegionContigs(sr.get(), s);
    HaplotypeMatrix m;
    selectSamples(hdr, s, phenotypes, m);
    if (m.nVcfSamples == 0) throw inputError(s.path + ": the file holds no sample");
    if (m.samples.empty())
        throw inputError(s.path + ": none of its " + std::to_string(m.nVcfSamples) +
                         " samples has a phenotype in column '" + phenotypes.columnName +
                         "'; check that the sample IDs match");
    if (s.mode == PhenotypeMode::CaseControl) checkBothGroups(phenotypes, m);

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
        if (recChrom.empty() || (rec->errcode & BCF_ERR_NCOLS))
            malformedLine(s, m.nSitesRead, lastLabel);
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
        if (n <= 0) {
            // A line cut short lacks its GT column: name the line when it has one.
            const long line = s.region.empty() ? dataLineNumber(s.path, m.nSitesRead - 1) : 0;
            throw inputError((line > 0 ? s.path + ":" + std::to_string(line) + ": site " + label
                                       : where) +
                             ": no GT field");
        }
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
    if (sr->errnum) {
        const long line = s.region.empty() ? dataLineNumber(s.path, m.nSitesRead) : 0;
        throw inputError(s.path + (line > 0 ? ":" + std::to_string(line) : std::string()) +
                         ": malformed record" +
                         (lastLabel.empty() ? std::string(" before the first site")
                                            : " after site " + lastLabel) +
                         " (" + bcf_sr_strerror(sr->errnum) + ")");
    }
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
