// lineemu as a process, driven through its two pseudo-terminals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <thread>

#include "linerig.h"
#include "ptyendpoint.h"
#include "tempdir.h"

using namespace quendril::test;
using namespace std::chrono_literals;

namespace {

LineSettings fastLine() {
    LineSettings s;
    s.baud = 2'000'000;
    return s;
}

}  // namespace

TEST(LineemuRelay, CarriesDataIntactBothWays) {
    LineRig rig(fastLine());
    PtyEndpoint a(rig.pathA());
    PtyEndpoint b(rig.pathB());
    auto ab = randomPayload(30'000, 1);
    auto ba = randomPayload(30'000, 2);
    EXPECT_EQ(transfer(a, b, ab, 500ms), ab);
    EXPECT_EQ(transfer(b, a, ba, 500ms), ba);
    auto counters = rig.stop();
    EXPECT_EQ(counters["ab_bytes_in"], ab.size());
    EXPECT_EQ(counters["ab_bytes_delivered"], ab.size());
    EXPECT_EQ(counters["ba_bytes_delivered"], ba.size());
    EXPECT_EQ(counters["ab_bits_flipped"], 0u);
}

// A loose bound only: exact timing is measured in bench/.
TEST(LineemuRelay, PacesATransferAtTheLineRate) {
    LineRig rig;  // 115200 8N1
    PtyEndpoint a(rig.pathA());
    PtyEndpoint b(rig.pathB());
    auto data = randomPayload(20'000, 3);
    auto start = std::chrono::steady_clock::now();
    auto got = transfer(a, b, data, 1000ms);
    auto gotAt = std::chrono::steady_clock::now();
    ASSERT_EQ(got, data);
    double lineTime = 20'000 * 10 / 115200.0;
    double elapsed = std::chrono::duration<double>(gotAt - start).count();
    EXPECT_GT(elapsed, 0.8 * lineTime);
    EXPECT_LT(elapsed, 1.5 * lineTime);
}

TEST(LineemuRelay, DelaysDeliveryByTheLatencyOfEachWay) {
    LineSettings s = fastLine();
    s.latencyAbMs = 150;
    s.latencyBaMs = 0;
    LineRig rig(s);
    PtyEndpoint a(rig.pathA());
    PtyEndpoint b(rig.pathB());
    a.writeAll({0x42});
    EXPECT_TRUE(b.readUpTo(1, 100ms).empty()) << "arrived before the latency";
    EXPECT_EQ(b.readUpTo(1, 500ms), std::vector<uint8_t>{0x42});
    auto start = std::chrono::steady_clock::now();
    b.writeAll({0x24});
    EXPECT_EQ(a.readUpTo(1, 500ms), std::vector<uint8_t>{0x24});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(LineemuRelay, SevenBitLineStripsTheTopBit) {
    LineSettings s = fastLine();
    s.dataBits = 7;
    s.parity = "even";
    LineRig rig(s);
    PtyEndpoint a(rig.pathA());
    PtyEndpoint b(rig.pathB());
    auto data = randomPayload(4096, 4);
    auto got = transfer(a, b, data, 500ms);
    ASSERT_EQ(got.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(got[i], data[i] & 0x7f) << i;
}

TEST(LineemuRelay, FaultsAreCountedAndRepeatableBySeed) {
    struct Case {
        const char* name;
        double ber;
        double drop;
        const char* outage;
    };
    const Case cases[] = {
        {"bit errors", 2e-3, 0, ""},
        {"drops", 0, 0.02, ""},
        {"whole outage", 0, 0, "0:600000"},
    };
    auto data = randomPayload(20'000, 5);
    for (const auto& c : cases) {
        std::vector<uint8_t> firstRun;
        for (int run = 0; run < 2; ++run) {
            LineSettings s = fastLine();
            s.bitErrorRate = c.ber;
            s.dropRate = c.drop;
            s.outage = c.outage;
            s.seed = 77;
            LineRig rig(s);
            PtyEndpoint a(rig.pathA());
            PtyEndpoint b(rig.pathB());
            auto got = transfer(a, b, data, 300ms);
            auto counters = rig.stop();
            EXPECT_EQ(counters["ab_bytes_in"], data.size()) << c.name;
            EXPECT_EQ(counters["ab_bytes_delivered"], got.size()) << c.name;
            EXPECT_EQ(counters["ab_bytes_dropped"] + counters["ab_bytes_lost_outage"] + got.size(),
                      data.size())
                << c.name;
            if (c.ber > 0) {
                ASSERT_EQ(got.size(), data.size());
                uint64_t flipped = 0;
                for (size_t i = 0; i < data.size(); ++i)
                    flipped += static_cast<uint64_t>(std::popcount(static_cast<unsigned>(got[i] ^ data[i])));
                EXPECT_EQ(flipped, counters["ab_bits_flipped"]);
                EXPECT_NEAR(static_cast<double>(flipped), c.ber * 160'000, 90);
            }
            if (c.drop > 0) {
                EXPECT_NEAR(static_cast<double>(counters["ab_bytes_dropped"]), 400, 100);
            }
            if (*c.outage) {
                EXPECT_TRUE(got.empty());
            }
            if (run == 0) firstRun = got;
            else EXPECT_EQ(got, firstRun) << c.name << ": same seed, same line";
        }
    }
}

TEST(LineemuRelay, SurvivesAnEndpointClosingAndReopening) {
    LineRig rig(fastLine());
    PtyEndpoint a(rig.pathA());
    { PtyEndpoint b(rig.pathB()); }
    std::this_thread::sleep_for(50ms);
    PtyEndpoint b(rig.pathB());
    auto data = randomPayload(1000, 6);
    EXPECT_EQ(transfer(a, b, data, 500ms), data);
    EXPECT_EQ(transfer(b, a, data, 500ms), data);
}

TEST(LineemuRelay, ReplacesAStaleLinkButNeverAFile) {
    ScopedWorkDir work;
    std::filesystem::create_symlink("/nonexistent/pts", work.path() / "a");
    {
        ChildProcess emu({LineRig::lineemuPath(), "--a", "a", "--b", "b", "--ready-file", "ready"},
                         {"/dev/null", "out", "err"});
        for (int i = 0; i < 500 && !std::filesystem::exists("ready"); ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(std::filesystem::exists("ready"));
        EXPECT_EQ(std::filesystem::read_symlink("a").string().rfind("/dev/", 0), 0u);
        EXPECT_EQ(emu.stop(), 0);
    }
    EXPECT_FALSE(std::filesystem::is_symlink("a")) << "links are removed on exit";

    std::ofstream("a") << "precious";
    ChildProcess emu({LineRig::lineemuPath(), "--a", "a", "--b", "b"}, {"/dev/null", "out", "err"});
    EXPECT_EQ(emu.wait(5000ms), 1);
    std::ifstream in("a");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");
}

TEST(LineemuRelay, RejectsABadCommandLine) {
    ScopedWorkDir work;
    ChildProcess emu({LineRig::lineemuPath(), "--a", "a", "--b", "b", "--ber", "lots"},
                     {"/dev/null", "out", "err"});
    EXPECT_EQ(emu.wait(5000ms), 2);
    std::ifstream err("err");
    std::string first;
    std::getline(err, first);
    EXPECT_EQ(first, "lineemu: bad value for --ber: lots");
    EXPECT_FALSE(std::filesystem::exists("a"));
}

TEST(LineemuRelay, SigtermWritesTheCountersAndExitsCleanly) {
    LineRig rig(fastLine());
    {
        PtyEndpoint a(rig.pathA());
        PtyEndpoint b(rig.pathB());
        auto data = randomPayload(3000, 7);
        ASSERT_EQ(transfer(a, b, data, 300ms), data);
        ASSERT_EQ(transfer(b, a, std::vector<uint8_t>(data.begin(), data.begin() + 100), 300ms).size(), 100u);
    }
    auto counters = rig.stop();
    EXPECT_EQ(counters["ab_bytes_in"], 3000u);
    EXPECT_EQ(counters["ba_bytes_in"], 100u);
    EXPECT_EQ(counters.count("ab_bytes_overrun"), 1u);
    EXPECT_EQ(counters.count("ba_bytes_lost_outage"), 1u);
    std::ifstream err(rig.dir() + "/lineemu.err");
    std::string line;
    std::getline(err, line);
    EXPECT_EQ(line, "ab_bytes_in=3000");
}

TEST(LineemuRelay, EndsWithItsParentWhenAsked) {
    ScopedWorkDir work;
    std::string cmd = LineRig::lineemuPath() + " --a a --b b --stats stats --exit-with-parent & sleep 0.5";
    ChildProcess parent({"/bin/sh", "-c", cmd}, {"/dev/null", "out", "err"});
    ASSERT_EQ(parent.wait(5000ms), 0);
    for (int i = 0; i < 300 && !std::filesystem::exists("stats"); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(std::filesystem::exists("stats")) << "lineemu outlived its parent";
    EXPECT_FALSE(std::filesystem::is_symlink("a"));
}
