#include "options.h"

#include <cmath>
#include <cstdlib>

#include "phenotypes.h"
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
           "                         column IID (else the first column); or a PLINK .fam\n"
           "                         file (no header; IID column 2, phenotype column 6)\n"
           "  --pheno-format table|fam\n"
           "                         how to read --pheno (default: fam when its name ends\n"
           "                         in .fam, else table)\n"
           "  --out PREFIX           writes PREFIX.dat, PREFIX.dist, PREFIX.markers.tsv,\n"
           "                         PREFIX.haplotypes.tsv and PREFIX.left-out.tsv (the\n"
           "                         samples left out, and why)\n"
           "  --mode s|q             s: case/control (2 or case = case, 1 or control =\n"
           "                         control, 0, -9, NA or . = missing; default)\n"
           "                         q: quantitative trait (NA, -9 or empty = missing)\n"
           "  --pheno-col NAME       phenotype column (default: the last column)\n"
           "  --covar FILE           covariates of a trait (--mode q): header, IID column,\n"
           "                         numeric columns; the trait written is its residual\n"
           "                         after a least-squares fit on them and an intercept\n"
           "  --covar-cols A,B,...   covariate columns to use (default: all but FID/IID)\n"
           "  --region CHR:FROM-TO   only sites with POS in the region (needs an index)\n"
           "  --map FILE             genetic map: position, rate (cM/Mb), cumulative cM,\n"
           "                         with a header line\n"
           "  --cm-per-mb R          constant recombination rate without a map (default 1)\n"
           "  --min-maf X            drop sites whose non-major allele frequency is below X\n"
           "  --unphased-as-missing  code unphased heterozygous calls as missing (0)\n"
           "                         instead of stopping with an error\n"
           "  --help                 this text\n"
           "  --version              the version\n"
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

// "A,B,C" into its names; an empty name is an error.
std::vector<std::string> splitNames(const std::string& option, const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (names.back().empty())
            throw usageError(option + " expects comma-separated column names, got '" + text + "'");
        if (comma == std::string::npos) return names;
        start = comma + 1;
    }
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
        } else if (name == "--version") {
            opt.version = true;
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
        } else if (name == "--pheno-format") {
            const std::string f = takeValue();
            if (f == "table") opt.phenoFormat = PhenotypeFormat::Table;
            else if (f == "fam") opt.phenoFormat = PhenotypeFormat::Fam;
            else throw usageError("--pheno-format expects table or fam, got '" + f + "'");
        } else if (name == "--covar") {
            opt.covarPath = takeValue();
        } else if (name == "--covar-cols") {
            opt.covarColumns = splitNames(name, takeValue());
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
    if (!opt.phenoColumn.empty() && isFamFormat(opt.phenoPath, opt.phenoFormat))
        throw usageError("--pheno-col does not apply to a .fam file, whose phenotype is column 6 "
                         "(a table with a header: --pheno-format table)");
    if (!opt.covarColumns.empty() && opt.covarPath.empty())
        throw usageError("--covar-cols needs --covar FILE");
    if (!opt.covarPath.empty() && opt.mode == PhenotypeMode::CaseControl)
        throw usageError("--covar works in trait mode (--mode q) only: the cluster chi-square "
                         "of case/control mode has no form that adjusts for covariates");
    return opt;
}

}  // namespace orvane
