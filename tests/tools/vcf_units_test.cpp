// Phenotype coding, allele coding and genetic-map interpolation of orvane-vcf.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "genetic_map.h"
#include "phenotypes.h"
#include "tool_error.h"
#include "vcf_haplotypes.h"

namespace orvane {
namespace {

TEST(PhenotypeCoding, CaseControlFollowsPlinkCodes) {
    struct Row { const char* token; int expected; };  // 1 case, 0 control, -1 missing
    const std::vector<Row> rows = {
        {"2", 1}, {"case", 1}, {"CASE", 1}, {"1", 0}, {"control", 0}, {"Control", 0},
        {"0", -1}, {"-9", -1}, {"NA", -1}, {".", -1}, {"", -1},
    };
    for (const Row& r : rows) {
        const std::optional<Phenotype> p = codeCaseControl(r.token);
        const int got = !p ? -1 : p->isCase ? 1 : 0;
        EXPECT_EQ(got, r.expected) << "token '" << r.token << "'";
    }
    for (const char* bad : {"3", "1.0", "yes", "-1", "affected"})
        EXPECT_THROW(codeCaseControl(bad), std::invalid_argument) << bad;
}

TEST(PhenotypeCoding, TraitIsADecimalRealOrMissing) {
    struct Row { const char* token; double expected; };
    for (const Row& r : std::vector<Row>{{"21.5", 21.5}, {"1e1", 10.0}, {"-3.25", -3.25},
                                         {"+0.5", 0.5}, {"-9.5", -9.5}}) {
        const std::optional<Phenotype> p = codeTrait(r.token);
        ASSERT_TRUE(p.has_value()) << r.token;
        EXPECT_EQ(p->trait, r.expected) << r.token;
    }
    for (const char* missing : {"NA", "nan", ".", "-9", "-9.0", ""})
        EXPECT_FALSE(codeTrait(missing).has_value()) << missing;
    for (const char* bad : {"abc", "inf", "0x10", "1.5kg", "1e999", "case"})
        EXPECT_THROW(codeTrait(bad), std::invalid_argument) << bad;
}

TEST(AlleleCoding, FirstAltIsOneAndRefIsTwo) {
    EXPECT_EQ(alleleCode(0), 2);
    EXPECT_EQ(alleleCode(1), 1);
    EXPECT_EQ(alleleCode(2), 3);
    EXPECT_EQ(alleleCode(5), 6);
}

GeneticMap threePointMap() {
    return GeneticMap::fromPoints({1500, 4000, 5000}, {0.1, 0.105, 0.109}, "map");
}

TEST(GeneticMapTest, ExactAtMapPointsLinearBetweenAndBeyond) {
    const GeneticMap map = threePointMap();
    struct Row { long pos; double cm; };
    const std::vector<Row> rows = {
        {1500, 0.1}, {4000, 0.105}, {5000, 0.109},  // at the points, exactly
        {2750, 0.1025}, {4500, 0.107},              // between
        {1000, 0.099}, {6000, 0.113},               // beyond, at the end intervals' rates
    };
    for (const Row& r : rows) EXPECT_NEAR(map.cmAt(r.pos), r.cm, 1e-15) << r.pos;
    EXPECT_EQ(map.cmAt(4000), 0.105);
    EXPECT_EQ(map.cmAt(5000), 0.109);
}

TEST(GeneticMapTest, ConstantRate) {
    const GeneticMap map = GeneticMap::constantRate(2.5);
    EXPECT_DOUBLE_EQ(map.cmAt(1000000), 2.5);
    EXPECT_DOUBLE_EQ(map.cmAt(400), 0.001);
}

TEST(GeneticMapTest, RejectsMapsThatCannotBeInterpolated) {
    const auto status = [](std::vector<long> pos, std::vector<double> cm) {
        try {
            GeneticMap::fromPoints(std::move(pos), std::move(cm), "map");
        } catch (const ToolError& e) {
            return static_cast<int>(e.status());
        }
        return 0;
    };
    EXPECT_EQ(status({100}, {0.0}), kExitInput);
    EXPECT_EQ(status({100, 100}, {0.0, 1.0}), kExitInput);
    EXPECT_EQ(status({100, 200}, {1.0, 0.5}), kExitInput);
    EXPECT_EQ(status({100, 200}, {1.0, 1.0}), 0);  // a flat stretch is fine
}

TEST(GeneticMapTest, FirstLineIsDataWhenItIsThreeNumbers) {
    const std::string path = ::testing::TempDir() + "orvane_map_no_header.txt";
    std::ofstream(path) << "1000 1.0 0.5\n2000 1.0 0.6\n";
    const GeneticMap map = GeneticMap::read(path);
    std::remove(path.c_str());
    EXPECT_DOUBLE_EQ(map.cmAt(1000), 0.5);
    EXPECT_DOUBLE_EQ(map.cmAt(1500), 0.55);
}

}  // namespace
}  // namespace orvane
