#include "driver/command_line.h"

#include <gtest/gtest.h>

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
