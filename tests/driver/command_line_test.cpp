#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvane {
namespace {

struct Parsed {
    ParsedCommandLine parsed;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "orvane");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Parsed result{parseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err), "", ""};
    for (auto [file, text] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
        std::rewind(file);
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text->push_back(static_cast<char>(c));
        std::fclose(file);
    }
    return result;
}

TEST(CommandLine, LongOptionsStandAnywhereAndPositionalsAreCountedWithoutThem) {
    const Parsed a = parse({"-q", "--permutation=chained", "data.txt", "params.txt", "--strict", "dist.txt"});
    ASSERT_TRUE(a.parsed.run);
    EXPECT_TRUE(a.parsed.run->traitMode);
    EXPECT_TRUE(a.parsed.run->strict);
    EXPECT_EQ(a.parsed.run->permutation, PermutationScheme::Chained);
    EXPECT_EQ(a.parsed.run->parameterFile, "params.txt");
    EXPECT_EQ(a.parsed.run->distanceFile.value_or(""), "dist.txt");

    const Parsed b = parse({"-s", "data.txt", "params.txt", "--permutation", "joint"});
    ASSERT_TRUE(b.parsed.run);
    EXPECT_EQ(b.parsed.run->permutation, PermutationScheme::Joint);
    EXPECT_FALSE(b.parsed.run->distanceFile);
}

TEST(CommandLine, AdaptiveSchemeTakesAnOptionalBound) {
    const Parsed a = parse({"--permutation", "adaptive", "-s", "data.txt", "params.txt"});
    ASSERT_TRUE(a.parsed.run);
    EXPECT_EQ(a.parsed.run->permutation, PermutationScheme::Adaptive);
    EXPECT_FALSE(a.parsed.run->maxPermutations);
    EXPECT_STREQ(schemeName(a.parsed.run->permutation), "adaptive");

    const Parsed b = parse({"-s", "--max-permutations=100000", "data.txt", "params.txt", "--permutation=adaptive"});
    ASSERT_TRUE(b.parsed.run);
    EXPECT_EQ(b.parsed.run->maxPermutations.value_or(0), 100000);
    const Parsed c = parse({"--permutation=adaptive", "--max-permutations", "2147483647", "-q", "d", "p"});
    ASSERT_TRUE(c.parsed.run);
    EXPECT_EQ(c.parsed.run->maxPermutations.value_or(0), 2147483647);
}

TEST(CommandLine, WrongCommandLinesExitOneWithAReason) {
    const struct {
        std::vector<const char*> arguments;
        const char* reason;
    } cases[] = {
        {{"-S", "data.txt", "params.txt"}, "unknown mode '-S'"},
        {{"s", "data.txt", "params.txt"}, "unknown mode 's'"},
        {{"--s", "data.txt", "params.txt"}, "unknown option '--s'"},
        {{"-s", "data.txt"}, "2 arguments"},
        {{"--permutation", "sideways", "-s", "d", "p"}, "unknown permutation scheme 'sideways'"},
        {{"-s", "d", "p", "--permutation"}, "--permutation needs a scheme"},
        {{"--check", "a", "b"}, "--check takes one parameter file"},
        {{"-s", "d", "p", "--threads", "0"}, "--threads is '0', not a positive whole number"},
        {{"-s", "d", "p", "--threads=-2"}, "--threads is '-2'"},
        {{"-s", "d", "p", "--threads", "+2"}, "--threads is '+2'"},
        {{"-s", "d", "p", "--threads", "2x"}, "--threads is '2x'"},
        {{"-s", "d", "p", "--threads"}, "--threads needs a number of threads"},
        {{"--seed", "4294967296", "-s", "d", "p"}, "--seed is '4294967296', not a whole number from 0 to 4294967295"},
        {{"--seed", "-1", "-s", "d", "p"}, "--seed is '-1'"},
        {{"--seed=1.5", "-s", "d", "p"}, "--seed is '1.5'"},
        {{"--seed=", "-s", "d", "p"}, "--seed is ''"},
        {{"-s", "d", "p", "--seed"}, "--seed needs a number"},
        {{"-s", "d", "p", "--out"}, "--out needs a prefix"},
        {{"-s", "d", "p", "--out="}, "--out needs a prefix"},
        {{"--out", "--strict", "-s", "d", "p"}, "--out needs a prefix"},
        {{"--threadsx", "2", "-s", "d", "p"}, "unknown option '--threadsx'"},
        {{"-s", "d", "p", "--max-permutations", "500"}, "--max-permutations bounds the adaptive scheme only"},
        {{"--permutation", "adaptive", "-s", "d", "p", "--max-permutations"}, "--max-permutations needs a count"},
        {{"--permutation=adaptive", "--max-permutations=0", "-s", "d", "p"}, "--max-permutations '0'"},
        {{"--permutation=adaptive", "--max-permutations=1e6", "-s", "d", "p"}, "--max-permutations '1e6'"},
        {{"--permutation=adaptive", "--max-permutations", "2147483648", "-s", "d", "p"},
         "give a whole number from 1 to 2147483647"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.arguments);
        EXPECT_FALSE(parsed.parsed.run) << c.reason;
        EXPECT_EQ(parsed.parsed.exitStatus, 1) << c.reason;
        EXPECT_NE(parsed.err.find(c.reason), std::string::npos) << parsed.err;
        EXPECT_EQ(parsed.out.rfind("USAGE: Orvane.exe", 0), 0u) << c.reason;
    }
}

TEST(CommandLine, ThreadsSeedAndOutTakeTheirValueEitherWay) {
    const struct {
        std::vector<const char*> arguments;
        const char* threads;  // null: not given
        int64_t seed;         // -1: not given
        const char* out;      // null: not given
    } cases[] = {
        {{"-s", "d", "p"}, nullptr, -1, nullptr},
        {{"--threads", "3", "-s", "d", "p"}, "3", -1, nullptr},
        {{"-s", "d", "--threads=12", "p"}, "12", -1, nullptr},
        {{"-s", "d", "p", "--seed", "0"}, nullptr, 0, nullptr},
        {{"--seed=4294967295", "-s", "d", "p"}, nullptr, 4294967295LL, nullptr},
        {{"-s", "--out", "runs/a", "d", "p"}, nullptr, -1, "runs/a"},
        {{"-s", "d", "p", "--out=b", "--seed", "7", "--threads", "1"}, "1", 7, "b"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.arguments);
        ASSERT_TRUE(parsed.parsed.run) << parsed.err;
        const CommandLine& line = *parsed.parsed.run;
        EXPECT_EQ(line.dataFile, "d");
        EXPECT_EQ(line.parameterFile, "p");
        EXPECT_FALSE(line.distanceFile) << "the options' values are not positional arguments";
        EXPECT_EQ(line.threads.value_or("none"), c.threads ? c.threads : "none");
        EXPECT_EQ(line.seed ? static_cast<int64_t>(*line.seed) : -1, c.seed);
        EXPECT_EQ(line.outPrefix.value_or("none"), c.out ? c.out : "none");
    }
}

TEST(CommandLine, OutNamesEveryOutputFile) {
    CommandLine line;
    line.dataFile = "in/data.txt";
    EXPECT_EQ(resultFilePath(line), "in/data.txt-results");
    EXPECT_EQ(clusterReportPath(line), "output");
    line.outPrefix = "runs/a";
    EXPECT_EQ(resultFilePath(line), "runs/a-results");
    EXPECT_EQ(clusterReportPath(line), "runs/a.output");
}

// --help: the usage text as the tool has always printed it, then the long
// options, ORVANE_THREADS and the files a run writes. A wrong command line
// prints the usage text alone.
TEST(CommandLine, HelpAddsTheOptionsToTheUsageText) {
    const std::string usage = parse({}).out;
    ASSERT_EQ(usage.rfind("USAGE: Orvane.exe -option datafile parameterfile [interDistFile]\n\n", 0), 0u);
    const std::string help = parse({"--help"}).out;
    EXPECT_EQ(help.rfind(usage, 0), 0u) << help;
    for (const char* piece : {"--permutation joint|chained|adaptive", "--max-permutations N", "--strict",
                              "--check PARAMFILE", "--threads N",
                              "--seed S", "--out PREFIX", "--version", "ORVANE_THREADS", "output ",
                              "DATAFILE-results ", "DATAFILE-results.jsonl", "gzip"}) {
        EXPECT_NE(help.find(piece, usage.size()), std::string::npos) << piece;
    }
    EXPECT_EQ(parse({"-s", "-h", "d", "p"}).out, help);
    EXPECT_EQ(parse({"-s", "d"}).out, usage) << "a wrong command line prints the usage text alone";
}

TEST(CommandLine, HelpVersionAndNoArgumentsExitZero) {
    for (const auto& arguments : {std::vector<const char*>{}, {"--help"}, {"-s", "-h"}, {"--version"}}) {
        const Parsed parsed = parse(arguments);
        EXPECT_FALSE(parsed.parsed.run);
        EXPECT_EQ(parsed.parsed.exitStatus, 0);
        EXPECT_TRUE(parsed.err.empty());
    }
    EXPECT_EQ(parse({"--version"}).out.rfind("orvane 0.", 0), 0u);
}

}  // namespace
}  // namespace orvane
