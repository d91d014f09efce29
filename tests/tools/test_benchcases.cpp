// The arithmetic and checks the benchmark tables rest on.
#include <gtest/gtest.h>

#include <fstream>

#include "benchcases.h"
#include "tempdir.h"

using namespace quendril::bench;

namespace {

BenchResult resultFor(const BenchCase& c, double seconds, const char* status) {
    BenchResult r;
    r.benchCase = &c;
    r.elapsedSec = seconds;
    r.status = status;
    return r;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(BenchCases, EfficiencyIsPayloadOverTheRawCharacterRate) {
    auto cases = lineCases(false);
    ASSERT_EQ(cases.size(), 8u);
    const BenchCase& clean = cases[0];
    EXPECT_EQ(clean.fileSize, 1024u * 1024u);
    // 1 MiB at 11520 characters a second takes 91.02 s at best.
    double lineTime = 1048576.0 / 11520.0;
    EXPECT_NEAR(resultFor(clean, lineTime, "ok").efficiency(), 1.0, 1e-9);
    EXPECT_NEAR(resultFor(clean, lineTime * 2, "ok").efficiency(), 0.5, 1e-9);
    EXPECT_EQ(resultFor(clean, lineTime, "corrupt").efficiency(), 0.0);
    EXPECT_EQ(resultFor(clean, 0, "ok").efficiency(), 0.0);

    const BenchCase& batch = cases[3];
    EXPECT_EQ(resultFor(batch, 1, "ok").payloadBytes(), 200u * 512u);
    const BenchCase& sevenBit = cases[6];
    EXPECT_EQ(sevenBit.line.bitsPerChar(), 10);  // 7 data + even parity
    const BenchCase& slow = cases[2];
    EXPECT_DOUBLE_EQ(slow.line.charRate(), 960.0);
}

TEST(BenchCases, QuickRunUsesSmallFilesOnTheSameLines) {
    auto full = lineCases(false);
    auto quick = lineCases(true);
    ASSERT_EQ(full.size(), quick.size());
    for (size_t i = 0; i < full.size(); ++i) {
        EXPECT_EQ(full[i].name, quick[i].name);
        EXPECT_EQ(full[i].line.lineemuArgs(), quick[i].line.lineemuArgs());
        EXPECT_LT(quick[i].fileSize * static_cast<uint64_t>(quick[i].fileCount),
                  full[i].fileSize * static_cast<uint64_t>(full[i].fileCount));
    }
}

TEST(BenchCases, ArrivalCheckTellsIntactPaddedCorruptAndMissing) {
    quendril::test::ScopedWorkDir work;
    writeBytes("sent", std::string("\x00\x1a\xff data", 8));
    struct Case {
        const char* name;
        std::string received;
        bool allowPadding;
        Arrival expected;
    };
    const Case cases[] = {
        {"same", std::string("\x00\x1a\xff data", 8), false, Arrival::Intact},
        {"padded", std::string("\x00\x1a\xff data\x1a\x1a", 10), true, Arrival::Padded},
        {"padded, not allowed", std::string("\x00\x1a\xff data\x1a\x1a", 10), false, Arrival::Corrupt},
        {"padded with zeros", std::string("\x00\x1a\xff data\x00", 9), true, Arrival::Corrupt},
        {"short", std::string("\x00\x1a\xff dat", 7), true, Arrival::Corrupt},
        {"one bit", std::string("\x00\x1a\xff dbta", 8), true, Arrival::Corrupt},
    };
    for (const auto& c : cases) {
        writeBytes(c.name, c.received);
        EXPECT_EQ(compareFile("sent", c.name, c.allowPadding), c.expected) << c.name;
    }
    EXPECT_EQ(compareFile("sent", "never-written", true), Arrival::Missing);
}

TEST(BenchCases, PayloadFilesAreRandomAndRepeatable) {
    quendril::test::ScopedWorkDir work;
    auto names = makePayload("one", 3, 1000, 5);
    makePayload("two", 3, 1000, 5);
    ASSERT_EQ(names, (std::vector<std::string>{"f0001.bin", "f0002.bin", "f0003.bin"}));
    for (const auto& n : names) {
        EXPECT_EQ(std::filesystem::file_size("one/" + n), 1000u);
        EXPECT_EQ(compareFile("one/" + n, "two/" + n, false), Arrival::Intact);
    }
    EXPECT_EQ(compareFile("one/f0001.bin", "one/f0002.bin", false), Arrival::Corrupt);
}

TEST(BenchCases, OptionsAreReadOrRefused) {
    const char* good[] = {"bench", "--quick", "--time-limit", "30", "--out", "x.csv", "--cases", "a,b", "--peers", "zmodem"};
    auto opt = parseBenchOptions(10, const_cast<char**>(good), "default.csv");
    ASSERT_TRUE(opt);
    EXPECT_TRUE(opt->quick);
    EXPECT_DOUBLE_EQ(opt->timeLimitSec, 30);
    EXPECT_EQ(opt->out, "x.csv");
    EXPECT_EQ(opt->cases, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(selected(opt->cases, "b"));
    EXPECT_FALSE(selected(opt->cases, "c"));
    EXPECT_TRUE(selected({}, "anything"));

    const char* none[] = {"bench"};
    EXPECT_EQ(parseBenchOptions(1, const_cast<char**>(none), "default.csv")->out, "default.csv");
    const char* bad1[] = {"bench", "--time-limit"};
    const char* bad2[] = {"bench", "--time-limit", "soon"};
    const char* bad3[] = {"bench", "--fast"};
    EXPECT_FALSE(parseBenchOptions(2, const_cast<char**>(bad1), "d"));
    EXPECT_FALSE(parseBenchOptions(3, const_cast<char**>(bad2), "d"));
    EXPECT_FALSE(parseBenchOptions(2, const_cast<char**>(bad3), "d"));
}
