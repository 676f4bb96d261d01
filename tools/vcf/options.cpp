#include "options.h"

#include <cmath>
#include <cstdlib>

#include "tool_error.h"

namespace orvane {

const char* usageText() {
    return "Usage: orvane-vcf --vcf FILE --pheno FILE --out PREFIX [options]\n"
           "\n"
           "Converts phased genotypes (VCF, bgzipped VCF or BCF) and a phenotype table\n"
           "into the haplotype data file and the distance file of orvane.\n"
           "\n"
           "  --vcf FILE             phased genotypes (GT); one chromosome per run\n"
           "  --pheno FILE           phenotype table with a header line; sample ID in the\n"
           "                         column IID (else the first column)\n"
           "  --out PREFIX           writes PREFIX.dat, PREFIX.dist, PREFIX.markers.tsv and\n"
           "                         PREFIX.haplotypes.tsv\n"
           "  --mode s|q             s: case/control (2 or case = case, 1 or control =\n"
           "                         control, 0, -9 or NA = missing; default)\n"
           "                         q: quantitative trait (NA, -9 or empty = missing)\n"
           "  --pheno-col NAME       phenotype column (default: the last column)\n"
           "  --region CHR:FROM-TO   only sites with POS in the region (needs an index)\n"
           "  --map FILE             genetic map: position, rate (cM/Mb), cumulative cM,\n"
           "                         with a header line\n"
           "  --cm-per-mb R          constant recombination rate without a map (default 1)\n"
           "  --min-maf X            drop sites whose non-major allele frequency is below X\n"
           "  --unphased-as-missing  code unphased heterozygous calls as missing (0)\n"
           "                         instead of stopping with an error\n"
           "  --help                 this text\n"
           "\n"
           "Exit status: 0 success, 1 wrong command line, 2 invalid input, 3 output\n"
           "error. On failure no output file is left behind.\n";
}

namespace {

double parseNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        throw usageError(option + " expects a number, got '" + text + "'");
    return value;
}

}  // namespace

ConverterOptions parseOptions(int argc, const char* const* argv) {
    ConverterOptions opt;
    bool sawCmPerMb = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        // Both "--opt value" and "--opt=value" are accepted.
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> std::string {
            if (hasValue) return value;
            if (i + 1 >= argc) throw usageError(name + " needs a value");
            return argv[++i];
        };
        if (name == "--help" || name == "-h") {
            opt.help = true;
            return opt;
        } else if (name == "--unphased-as-missing") {
            if (hasValue) throw usageError(name + " takes no value");
            opt.unphasedAsMissing = true;
        } else if (name == "--vcf") {
            opt.vcfPath = takeValue();
        } else if (name == "--pheno") {
            opt.phenoPath = takeValue();
        } else if (name == "--out") {
            opt.outPrefix = takeValue();
        } else if (name == "--mode") {
            const std::string m = takeValue();
            if (m == "s") opt.mode = PhenotypeMode::CaseControl;
            else if (m == "q") opt.mode = PhenotypeMode::Trait;
            else throw usageError("--mode expects s or q, got '" + m + "'");
        } else if (name == "--pheno-col") {
            opt.phenoColumn = takeValue();
        } else if (name == "--region") {
            opt.region = takeValue();
        } else if (name == "--map") {
            opt.mapPath = takeValue();
        } else if (name == "--cm-per-mb") {
            opt.cmPerMb = parseNumber(name, takeValue());
            sawCmPerMb = true;
            if (opt.cmPerMb <= 0) throw usageError("--cm-per-mb must be greater than 0");
        } else if (name == "--min-maf") {
            opt.minMaf = parseNumber(name, takeValue());
            if (opt.minMaf < 0 || opt.minMaf > 0.5)
                throw usageError("--min-maf must lie between 0 and 0.5");
        } else {
            throw usageError("unknown argument '" + std::string(argv[i]) + "' (see --help)");
        }
    }
    if (opt.vcfPath.empty()) throw usageError("--vcf is required (see --help)");
    if (opt.phenoPath.empty()) throw usageError("--pheno is required (see --help)");
    if (opt.outPrefix.empty()) throw usageError("--out is required (see --help)");
    if (sawCmPerMb && !opt.mapPath.empty())
        throw usageError("--map and --cm-per-mb exclude each other");
    return opt;
}

}  // namespace orvane
