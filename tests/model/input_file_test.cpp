// Compressed data and distance files: read as their text, told by their first
// bytes whatever their name; damaged or cut-short data are an input error.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "model/analysis_state.h"
#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "model/input_file.h"

namespace orvane {
namespace {

const std::string kData = "id status m1 m2 m3\n1 a 1 2 1\n2 c 2 2 1\n3 a 1 0 2\n\n";

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "orvane_input_file_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
}

std::string writePlain(const std::string& name, const std::string& text) {
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// `members` gzip members one after the other, as bgzip writes its blocks.
std::string writeCompressed(const std::string& name, const std::string& text, int members = 1) {
    const std::string path = tempPath(name);
    std::remove(path.c_str());
    const size_t piece = text.size() / static_cast<size_t>(members) + 1;
    for (size_t at = 0; at < text.size(); at += piece) {
        gzFile file = gzopen(path.c_str(), "ab");
        const std::string part = text.substr(at, piece);
        gzwrite(file, part.data(), static_cast<unsigned>(part.size()));
        gzclose(file);
    }
    return path;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

AnalysisState load(const std::string& path) {
    AnalysisState state;
    loadHaplotypeFile(state, path);
    return state;
}

TEST(InputFile, CompressedDataReadLikeTheirText) {
    const AnalysisState plain = load(writePlain("plain.txt", kData));
    for (const auto& [name, members] : std::vector<std::pair<std::string, int>>{
             {"data.txt.gz", 1}, {"data.txt.bgz", 3}, {"no_suffix.txt", 1}}) {
        const AnalysisState packed = load(writeCompressed(name, kData, members));
        EXPECT_EQ(packed.nHaplotypes, plain.nHaplotypes) << name;
        EXPECT_EQ(packed.nMarkers, plain.nMarkers) << name;
        EXPECT_EQ(packed.alleles, plain.alleles) << name;
        EXPECT_EQ(packed.nAffected, plain.nAffected) << name;
    }
    AnalysisState distances;
    distances.nMarkers = 3;
    const std::string path = writeCompressed("dist.gz", "1 2.5\n");
    readMarkerDistances(distances, &path);
    EXPECT_EQ(distances.markerDistances, (std::vector<double>{0.01, 0.025}));
}

TEST(InputFile, DamagedOrCutShortDataAreAnInputError) {
    const std::string whole = bytesOf(writeCompressed("whole.gz", kData));
    std::string damaged = whole;
    damaged[damaged.size() / 2] ^= 0x55;
    damaged[damaged.size() / 2 + 1] ^= 0x55;
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"cut.gz", whole.substr(0, whole.size() - 12)}, {"damaged.gz", damaged}}) {
        try {
            load(writePlain(name, bytes));
            ADD_FAILURE() << name << " was read";
        } catch (const InputError& error) {
            EXPECT_NE(std::string(error.what()).find("compressed data are damaged or cut short"), std::string::npos)
                << error.describe();
        }
    }
}

TEST(InputFile, ToldByTheMagicBytes) {
    const unsigned char gzip[] = {0x1f, 0x8b, 0x08};
    const unsigned char text[] = {'i', 'd', ' '};
    EXPECT_TRUE(startsLikeGzip(gzip, 3));
    EXPECT_FALSE(startsLikeGzip(gzip, 1));
    EXPECT_FALSE(startsLikeGzip(text, 3));
    // A plain file of one byte is read from its start.
    EXPECT_THROW(load(writePlain("one_byte.txt", "h")), InputError);
    EXPECT_EQ(load(writePlain("data.gz", kData)).nHaplotypes, 3) << "a plain file named .gz";
}

}  // namespace
}  // namespace orvane
