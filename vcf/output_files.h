// The output files of a conversion, which appear together or not at all.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "vcf_haplotypes.h"

namespace orvane {

// Files are written under temporary names beside their final names and
// renamed only by commit(); until then, and whenever commit() fails, the
// destructor removes everything this set created. A failed create, write,
// close or rename throws ToolError (kExitOutput) naming the final file.
class OutputSet {
public:
    OutputSet() = default;
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;
    ~OutputSet();

    // Returns the stream of the temporary file; the set owns it.
    FILE* create(const std::string& finalPath);
    void commit();

private:
    struct Entry {
        std::string finalPath;
        std::string tempPath;
        FILE* file = nullptr;
        bool renamed = false;
    };
    std::vector<Entry> entries_;
    bool committed_ = false;
};

// PREFIX.dat, PREFIX.dist, PREFIX.markers.tsv, PREFIX.haplotypes.tsv and
// PREFIX.left-out.tsv (every sample left out and why; a header alone when none is).
// cm holds the genetic position of every kept site.
void writeConversion(const std::string& prefix, PhenotypeMode mode, const HaplotypeMatrix& m,
                     const std::vector<double>& cm);

// The shortest decimal text that reads back as the same double.
std::string formatShortest(double value);

}  // namespace orvane
