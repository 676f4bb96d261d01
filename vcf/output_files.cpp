#include "output_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "tool_error.h"

namespace orvane {

OutputSet::~OutputSet() {
    for (Entry& e : entries_) {
        if (e.file) std::fclose(e.file);
        if (committed_) continue;
        std::remove(e.renamed ? e.finalPath.c_str() : e.tempPath.c_str());
    }
}

FILE* OutputSet::create(const std::string& finalPath) {
    Entry e;
    e.finalPath = finalPath;
    e.tempPath = finalPath + ".tmp" + std::to_string(static_cast<long>(getpid()));
    // "x": never overwrite a file this run did not create.
    e.file = std::fopen(e.tempPath.c_str(), "wx");
    if (!e.file)
        throw outputError("cannot write " + finalPath + ": " + std::strerror(errno));
    entries_.push_back(e);
    return e.file;
}

void OutputSet::commit() {
    for (Entry& e : entries_) {
        const bool failed = std::ferror(e.file) != 0;
        const int closed = std::fclose(e.file);
        e.file = nullptr;
        if (failed || closed != 0)
            throw outputError("cannot write " + e.finalPath + ": " + std::strerror(errno));
    }
    for (Entry& e : entries_) {
        if (std::rename(e.tempPath.c_str(), e.finalPath.c_str()) != 0)
            throw outputError("cannot rename " + e.tempPath + " to " + e.finalPath + ": " +
                              std::strerror(errno));
        e.renamed = true;
    }
    committed_ = true;
}

std::string formatShortest(double value) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

namespace {

std::string formatFixed(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string phenotypeToken(PhenotypeMode mode, const Phenotype& p) {
    if (mode == PhenotypeMode::Trait) return formatShortest(p.trait);
    return p.isCase ? "a" : "c";
}

void writeData(FILE* f, PhenotypeMode mode, const HaplotypeMatrix& m) {
    std::string line = mode == PhenotypeMode::Trait ? "id\ttrait" : "id\tstatus";
    for (const Site& site : m.sites) line += "\t" + site.id;
    line += '\n';
    std::fputs(line.c_str(), f);
    long identifier = 0;
    for (size_t k = 0; k < m.samples.size(); ++k) {
        const KeptSample& sample = m.samples[k];
        const std::string status = phenotypeToken(mode, sample.phenotype);
        for (int h = 0; h < sample.ploidy; ++h) {
            line = std::to_string(++identifier) + "\t" + status;
            for (size_t s = 0; s < m.sites.size(); ++s) {
                line += '\t';
                line += std::to_string(m.code(s, k, h));
            }
            line += '\n';
            std::fputs(line.c_str(), f);
        }
    }
}

void writeDistances(FILE* f, const std::vector<double>& cm) {
    std::string line;
    for (size_t i = 1; i < cm.size(); ++i) {
        if (i > 1) line += ' ';
        // Eight digits are more than the single precision orvane reads them in.
        line += formatFixed("%.8g", std::max(0.0, cm[i] - cm[i - 1]));
    }
    line += '\n';
    std::fputs(line.c_str(), f);
}

void writeMarkers(FILE* f, const HaplotypeMatrix& m, const std::vector<double>& cm) {
    std::fputs("index\tchrom\tpos\tid\tref\talt\tcm\n", f);
    for (size_t i = 0; i < m.sites.size(); ++i) {
        const Site& s = m.sites[i];
        std::fprintf(f, "%zu\t%s\t%ld\t%s\t%s\t%s\t%s\n", i, s.chrom.c_str(), s.pos,
                     s.id.c_str(), s.ref.c_str(), s.alt.c_str(),
                     formatFixed("%.10g", cm[i]).c_str());
    }
}

void writeHaplotypes(FILE* f, PhenotypeMode mode, const HaplotypeMatrix& m) {
    std::fputs("identifier\tsample\thaplotype\tphenotype\n", f);
    long identifier = 0;
    for (const KeptSample& sample : m.samples) {
        const std::string value = mode == PhenotypeMode::Trait
                                      ? formatShortest(sample.phenotype.trait)
                                      : (sample.phenotype.isCase ? "case" : "control");
        for (int h = 1; h <= sample.ploidy; ++h)
            std::fprintf(f, "%ld\t%s\t%d\t%s\n", ++identifier, sample.name.c_str(), h,
                         value.c_str());
    }
}

void writeLeftOut(FILE* f, const HaplotypeMatrix& m) {
    std::fputs("sample\treason\n", f);
    for (const LeftOutSample& sample : m.leftOut)
        std::fprintf(f, "%s\t%s\n", sample.name.c_str(), sample.reason.c_str());
}

}  // namespace

void writeConversion(const std::string& prefix, PhenotypeMode mode, const HaplotypeMatrix& m,
                     const std::vector<double>& cm) {
    OutputSet out;
    writeData(out.create(prefix + ".dat"), mode, m);
    writeDistances(out.create(prefix + ".dist"), cm);
    writeMarkers(out.create(prefix + ".markers.tsv"), m, cm);
    writeHaplotypes(out.create(prefix + ".haplotypes.tsv"), mode, m);
    writeLeftOut(out.create(prefix + ".left-out.tsv"), m);
    out.commit();
}

}  // namespace orvane
