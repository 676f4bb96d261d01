// Phenotype coding, allele coding and genetic-map interpolation of orvane-vcf.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "covariates.h"
#include "genetic_map.h"
#include "missingness.h"
#include "phenotypes.h"
#include "sample_warnings.h"
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

// y = 0.8 + 1.3 x fits 1, 2, 3, 5 at x = 0..3 (by hand: Sxy 6.5, Sxx 5).
TEST(CovariateResiduals, MatchTheHandComputedLine) {
    const std::vector<double> residuals = covariateResiduals(
        {1, 2, 3, 5}, {{0}, {1}, {2}, {3}}, {"X"}, "covar");
    const std::vector<double> expected = {0.2, -0.1, -0.4, 0.3};
    ASSERT_EQ(residuals.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(residuals[i], expected[i], 1e-12);
}

TEST(CovariateResiduals, LargeOffsetsAndUnitsDoNotLookCollinear) {
    // The same line with x in base pairs around 1e8: only the slope changes.
    const std::vector<double> residuals = covariateResiduals(
        {1, 2, 3, 5}, {{1e8, 7}, {1e8 + 1, 7e-6}, {1e8 + 2, 7}, {1e8 + 3, 7e-6}}, {"POS", "W"},
        "covar");
    // With W (a two-level factor) the fit has three parameters on four points.
    double sum = 0;
    for (double r : residuals) sum += r;
    EXPECT_NEAR(sum, 0.0, 1e-9);
    EXPECT_GT(std::abs(residuals[0]), 1e-6);
}

TEST(CovariateResiduals, NameTheCovariateThatAddsNothing) {
    struct Row {
        std::vector<std::vector<double>> values;
        const char* message;
    };
    const std::vector<Row> rows = {
        {{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {6, 5}}, "covariate B is constant"},
        {{{1, 3}, {2, 5}, {3, 7}, {4, 9}, {6, 13}}, "covariate B is collinear with the intercept and A"},
        {{{1, 5}, {2, 5}}, "2 samples are too few to fit 2 covariate(s)"},
    };
    for (const Row& r : rows) {
        std::vector<double> trait(r.values.size(), 1.0);
        trait[0] = 2.0;
        try {
            covariateResiduals(trait, r.values, {"A", "B"}, "covar");
            ADD_FAILURE() << r.message;
        } catch (const ToolError& e) {
            EXPECT_EQ(e.status(), kExitInput);
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
    }
}

// Three samples, the last haploid (its second slot never counts), two sites.
TEST(Missingness, CountsHaplotypesAndSitesOverTheLimit) {
    HaplotypeMatrix m;
    m.samples.resize(3);
    m.samples[2].ploidy = 1;
    m.sites.resize(2);
    m.codes = {1, 2, 2, 0, 1, 0,    // site 0: one missing of five
               2, 2, 1, 1, 2, 0};  // site 1: none
    const MissingnessSummary s = summarizeMissingness(m);
    EXPECT_EQ(s.nAlleles, 10);
    EXPECT_EQ(s.nMissing, 1);
    EXPECT_EQ(s.nSitesOverLimit, 1);  // 1 of 5 is above the limit
    EXPECT_DOUBLE_EQ(s.share(), 0.1);
}

TEST(PhenotypeFiles, FamSuffixOrFormatSelectsTheFamLayout) {
    EXPECT_TRUE(isFamFormat("study.fam", PhenotypeFormat::Auto));
    EXPECT_TRUE(isFamFormat("study.FAM", PhenotypeFormat::Auto));
    EXPECT_FALSE(isFamFormat("study.fam.txt", PhenotypeFormat::Auto));
    EXPECT_FALSE(isFamFormat(".fam", PhenotypeFormat::Auto));
    EXPECT_TRUE(isFamFormat("pheno.txt", PhenotypeFormat::Fam));
    EXPECT_FALSE(isFamFormat("study.fam", PhenotypeFormat::Table));
}

TEST(PhenotypeFiles, ZeroOneCodingIsRecognised) {
    const std::string path = ::testing::TempDir() + "orvane_pheno_01.txt";
    std::ofstream(path) << "IID PHENO\nA 1\nB 0\nC NA\nD 1\n";
    const PhenotypeTable table = readPhenotypes(path, PhenotypeMode::CaseControl, "");
    std::remove(path.c_str());
    EXPECT_TRUE(table.looksZeroOneCoded());
    EXPECT_EQ(table.byId.size(), 2u);  // the 1s, as controls; 0 and NA are missing
    EXPECT_EQ(table.nMissing, 2);
    PhenotypeTable coded = table;
    coded.nCaseCodes = 1;
    EXPECT_FALSE(coded.looksZeroOneCoded());
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

TEST(SampleWarnings, FewKeptSamplesAtTheirThresholds) {
    struct Case {
        long kept, inVcf;
        const char* says;  // nullptr: no warning
    };
    const std::vector<Case> cases = {
        {20, 40, nullptr},
        {400, 400, nullptr},
        {19, 19, "kept 19 of the VCF's 19 samples (fewer than 20)"},
        {20, 41, "kept 20 of the VCF's 41 samples (fewer than half)"},
        {2, 400, "kept 2 of the VCF's 400 samples (fewer than 20)"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> warning = keptSamplesWarning(c.kept, c.inVcf);
        if (c.says == nullptr) {
            EXPECT_FALSE(warning) << c.kept << " of " << c.inVcf;
        } else {
            ASSERT_TRUE(warning) << c.kept << " of " << c.inVcf;
            EXPECT_EQ(warning->rfind(c.says, 0), 0u) << *warning;
        }
    }
}

TEST(SampleWarnings, TwoDistinctTraitValuesOnly) {
    PhenotypeTable table;
    table.path = "p.txt";
    table.columnName = "y";
    table.byId = {{"a", {false, 1.0}}, {"b", {false, 2.0}}, {"c", {false, 1.0}}};
    EXPECT_EQ(twoValuedTraitWarning(table).value_or(""),
              "p.txt: the trait column 'y' holds only the values 1 and 2: is it a case/control "
              "coding? then convert with --mode s");
    table.byId.emplace("d", Phenotype{false, 1.5});
    EXPECT_FALSE(twoValuedTraitWarning(table));
    table.byId = {{"a", {false, 3.0}}};
    EXPECT_FALSE(twoValuedTraitWarning(table));
}

}  // namespace
}  // namespace orvane
