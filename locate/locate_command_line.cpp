#include "locate/locate_command_line.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/thread_count.h"
#include "orvane_version.h"

namespace orvane {

namespace {

const char kUsage[] =
    "usage: orvane-locate -s|-q DATAFILE PARAMFILE [DISTFILE] [--replicates B] [--level L]\n"
    "                     [--seed N] [--out PREFIX] [--construction support|bootstrap|both]\n"
    "                     [--threads N]\n"
    "\n"
    "Runs orvane's scan (the same data, parameter and distance files, no permutation\n"
    "test) and builds, per statistic, a stretch of markers that holds the trait locus\n"
    "with probability L (default 0.95):\n"
    "  support    weights from the observed scores, calibrated on simulations (default)\n"
    "  bootstrap  the shortest run holding L of B haplotype-bootstrap peaks (default B 200)\n"
    "  credible   (single-marker tests, always) the credible set of Wakefield factors\n"
    "Writes PREFIX.location.tsv (weight of each marker) and PREFIX.interval.tsv (one row\n"
    "per statistic and construction); PREFIX defaults to DATAFILE. The data and\n"
    "distance files may be gzip- or bgzip-compressed.\n"
    "Options:\n"
    "  -s, -q               single-gene (case/control) mode, trait mode\n"
    "  --replicates B       bootstrap replicates, 1 to 1000000 (default 200)\n"
    "  --level L            the intervals' probability, between 0 and 1 (default 0.95)\n"
    "  --seed N             the bootstrap's seed (default 1)\n"
    "  --out PREFIX         the outputs' prefix (default DATAFILE)\n"
    "  --construction C     support, bootstrap or both (default support)\n"
    "  --threads N          at most N threads (default: the processors of the affinity\n"
    "                       mask; ORVANE_THREADS=N does the same, --threads wins)\n"
    "  --help, --version\n"
    "Exit status: 0 success, 1 wrong command line, 2 input error (nothing written),\n"
    "3 output or resource error.\n";

bool parseWhole(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && value >= low && value <= high;
}

bool parseLevel(const std::string& text, double& value) {
    if (text.empty() || text[0] == ' ') return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && value > 0.0 && value < 1.0;
}

}  // namespace

std::optional<LocateOptions> parseLocateCommandLine(int argc, const char* const* argv,
                                                    std::FILE* out, std::FILE* err, int& status) {
    status = 1;
    const auto fail = [&](const std::string& what) -> std::optional<LocateOptions> {
        std::fprintf(err, "orvane-locate: error: %s (see orvane-locate --help)\n", what.c_str());
        return std::nullopt;
    };
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, out);
            status = 0;
            return std::nullopt;
        }
        if (a == "--version") {
            std::fprintf(out, "orvane-locate %s\n", ORVANE_VERSION);
            status = 0;
            return std::nullopt;
        }
    }
    LocateOptions options;
    std::vector<std::string> files;
    bool modeSeen = false;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "-s" || a == "-q") {
            if (modeSeen) return fail("the mode is given twice");
            modeSeen = true;
            options.traitMode = a == "-q";
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            if (a != "--replicates" && a != "--level" && a != "--seed" && a != "--out" &&
                a != "--construction" && a != "--threads") {
                return fail("unknown option " + a);
            }
            if (k + 1 == args.size()) return fail(a + " needs a value");
            const std::string& value = args[++k];
            long long whole = 0;
            if (a == "--replicates") {
                if (!parseWhole(value, 1, 1000000, whole)) {
                    return fail("--replicates is '" + value + "', not a whole number from 1 to 1000000");
                }
                options.replicates = static_cast<int32_t>(whole);
            } else if (a == "--level") {
                if (!parseLevel(value, options.level)) {
                    return fail("--level is '" + value + "', not a number between 0 and 1");
                }
            } else if (a == "--seed") {
                if (!parseWhole(value, 0, 9223372036854775807LL, whole)) {
                    return fail("--seed is '" + value + "', not a whole number from 0");
                }
                options.seed = static_cast<uint64_t>(whole);
            } else if (a == "--out") {
                if (value.empty()) return fail("--out needs a non-empty prefix");
                options.prefix = value;
            } else if (a == "--threads") {
                if (!isThreadCount(value.c_str())) {
                    return fail("--threads is '" + value + "', not a positive whole number");
                }
                options.threads = value;
            } else if (a == "--construction") {
                if (value != "support" && value != "bootstrap" && value != "both") {
                    return fail("--construction is '" + value + "'; use support, bootstrap or both");
                }
                options.support = value != "bootstrap";
                options.bootstrap = value != "support";
            }
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return fail("unknown option " + a);
        files.push_back(a);
    }
    if (!modeSeen) return fail("give the mode, -s (case/control) or -q (trait)");
    if (files.size() < 2 || files.size() > 3) {
        return fail("give a data file, a parameter file and optionally a distance file");
    }
    options.dataFile = files[0];
    options.parameterFile = files[1];
    if (files.size() == 3) options.distanceFile = files[2];
    if (options.prefix.empty()) options.prefix = options.dataFile;
    return options;
}

}  // namespace orvane
