#include "driver/run_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "orvane_version.h"

namespace orvane {
namespace {

RunRecord smallRecord() {
    RunRecord record;
    record.command = {"orvane", "-s", "my \"data\".txt", "params.txt"};
    record.scheme = "joint";
    record.permutations = 20;
    record.replicates = 20;
    record.parameters = {{"epsilonMode", "2", true}, {"epsilonFraction", "0.3", true}, {"windowSize", "21", false}};
    record.haplotypes = 12;
    record.markers = 4;
    RecordedStatistic cluster{"cluster", 3, 2.5, std::numeric_limits<double>::infinity(), 0.047619};
    RecordedStatistic chisq{"chisq", 1, 7.123456789, 2.0, std::nullopt};
    record.statistics = {cluster, chisq};
    record.omnibusP = 0.0952381;
    record.warnings = {"data.txt:3: a\ttab and a \\ backslash"};
    return record;
}

TEST(RunRecord, OneLineWithTheResultFilesNumbersAndEscapedText) {
    const std::string expected =
        std::string("{\"version\": \"") + ORVANE_VERSION +
        "\", \"command\": [\"orvane\", \"-s\", \"my \\\"data\\\".txt\", \"params.txt\"], \"mode\": \"s\", "
        "\"permutation\": {\"scheme\": \"joint\", \"count\": 20, \"replicates\": 20}, "
        "\"parameters\": {\"epsilonMode\": 2, \"epsilonFraction\": 0.3, \"windowSize\": 21}, "
        "\"haplotypes\": 12, \"markers\": 4, \"statistics\": {"
        "\"cluster\": {\"peak\": 3, \"value\": 2.5, \"minus_log10_p\": null, \"permutation_p\": 0.047619}, "
        "\"chisq\": {\"peak\": 1, \"value\": 7.12346, \"minus_log10_p\": 2, \"permutation_p\": null}}, "
        "\"omnibus_p\": 0.0952381, \"warnings\": [\"data.txt:3: a\\ttab and a \\\\ backslash\"]}\n";
    EXPECT_EQ(recordLine(smallRecord()), expected);
}

TEST(RunRecord, WithoutPermutationsTheOmnibusIsNullAndControlCharactersAreEscaped) {
    RunRecord record = smallRecord();
    record.traitMode = true;
    record.omnibusP.reset();
    record.warnings = {std::string("bell\x07")};
    record.parameters = {{"windowSize", "abc", true}};
    const std::string line = recordLine(record);
    EXPECT_NE(line.find("\"mode\": \"q\""), std::string::npos);
    EXPECT_NE(line.find("\"omnibus_p\": null"), std::string::npos);
    EXPECT_NE(line.find("[\"bell\\u0007\"]"), std::string::npos);
    EXPECT_NE(line.find("{\"windowSize\": \"abc\"}"), std::string::npos);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(RunRecord, AdaptiveRunCarriesItsBoundAndTheReplicatesDrawn) {
    RunRecord record = smallRecord();
    record.scheme = "adaptive";
    record.permutations = 100000;
    record.replicates = 37;
    EXPECT_NE(recordLine(record).find("\"permutation\": {\"scheme\": \"adaptive\", \"count\": 100000, "
                                      "\"replicates\": 37}"),
              std::string::npos);
}

}  // namespace
}  // namespace orvane
