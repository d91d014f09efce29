// The library's C API against htsim over a faulty emulated line: noise and
// lost characters, an outage and a terminal that vanishes (a full disk is in
// delivery_test.cpp). A job either delivers intact files or fails with its
// error bits; a wrong or partial file never appears under its final name.
#include <gtest/gtest.h>

#include <thread>

#include "faultrig.h"
#include "tempdir.h"

namespace quendril::test::faults {
namespace {

using namespace std::chrono_literals;

const std::map<std::string, std::string> kTerminalFiles = {
    {"A.TXT", content(3000, 1)}, {"B.BIN", content(12000, 2)}, {"C.TXT", content(1, 3)}};
const std::map<std::string, std::string> kPcFiles = {{"P.LOD", content(9000, 4)}, {"Q.DAT", content(700, 5)}};

void putAll(const fs::path& dir, const std::map<std::string, std::string>& files) {
    for (const auto& [name, bytes] : files) putFile(dir / name, bytes);
}

std::string outcome(int r, int bits) {
    return r == TVK_OK ? "ok" : "failed " + std::to_string(r) + " bits " + std::to_string(bits);
}

// A job's result against what it left: done means every file intact and no
// transfer or file bit; failed means a negative code with bits set. Either
// way nothing damaged under a final name.
void expectSoundJob(int r, int bits, const fs::path& dir, const std::map<std::string, std::string>& sent) {
    EXPECT_EQ(wrongFiles(dir, sent), "");
    if (r == TVK_OK) {
        EXPECT_EQ(bits & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN), 0) << bits;
        for (const auto& [name, bytes] : sent) EXPECT_TRUE(readBytes((dir / name).string()) == bytes) << name;
    } else {
        EXPECT_LT(r, 0);
        EXPECT_NE(bits, 0) << "a failed job says why";
    }
}

class LineFaults : public ::testing::Test {
protected:
    ScopedWorkDir work;
    fs::path root = work.path();
};

TEST_F(LineFaults, NoiseAndDropsNeverStoreAWrongFileInEitherDirection) {
    struct Case {
        double ber;
        double drop;
        bool mustDeliver;  // the line is clean enough that the retries always win
    } cases[] = {
        {1e-5, 0, true}, {1e-4, 0, true}, {1e-3, 0, false}, {0, 1e-4, true}, {0, 1e-3, false}, {1e-4, 1e-3, false},
    };
    int delivered = 0, failed = 0;
    for (const Case& c : cases) {
        for (uint64_t seed : {11u, 12u}) {
            const std::string tag = "ber" + std::to_string(c.ber) + "-drop" + std::to_string(c.drop) + "-s" +
                                    std::to_string(seed);
            SCOPED_TRACE(tag);
            const fs::path dir = root / tag;
            putAll(dir / "ht1", kTerminalFiles);
            putAll(dir / "out", kPcFiles);
            fs::create_directories(dir / "in");
            LineSettings s;
            s.baud = 2000000;
            s.bitErrorRate = c.ber;
            s.dropRate = c.drop;
            s.seed = seed;
            tvk_openparam p = lineParams(40, 1000, 5);
            FleetLine line(dir / "fleet.txt",
                           "box 1 id=HT0001 dir=" + (dir / "ht1").string() + "\njob 1 send " + (dir / "ht1").string() +
                               "\nbox 2 id=HT0002 dir=" + (dir / "ht2").string() + "\njob 2 recv\n",
                           s, p);
            auto records = openAndPoll(p, 2, 2);
            ASSERT_EQ(records.size(), 2u) << "both terminals answer a noisy poll in time";
            tvk_comminfo& sender = records[0];
            tvk_comminfo& receiver = records[1];

            const std::string inDir = (dir / "in").string();
            const int rr = tvk_filerecv(const_cast<char*>(inDir.c_str()), &sender);
            const int rbits = tvk_geterrinf();
            expectSoundJob(rr, rbits, dir / "in", kTerminalFiles);
            const std::string pattern = (dir / "out").string() + "/*.*";
            const int sr = tvk_filesend(const_cast<char*>(pattern.c_str()), &receiver);
            const int sbits = tvk_geterrinf();
            tvk_comminfo blank{};
            tvk_disconnect(1, &blank);
            tvk_close();
            const auto counters = line.stop();
            expectSoundJob(sr, sbits, dir / "ht2" / "recv", kPcFiles);
            if (c.mustDeliver) {
                EXPECT_EQ(rr, TVK_OK) << outcome(rr, rbits) << "\n" << line.htsimLog();
                EXPECT_EQ(sr, TVK_OK) << outcome(sr, sbits) << "\n" << line.htsimLog();
            }
            if (c.ber > 0) {
                EXPECT_GT(counters.at("ab_bits_flipped") + counters.at("ba_bits_flipped"), 0u);
            }
            delivered += (rr == TVK_OK) + (sr == TVK_OK);
            failed += (rr != TVK_OK) + (sr != TVK_OK);
            std::cout << "[faults] " << tag << ": receive " << outcome(rr, rbits) << ", send " << outcome(sr, sbits)
                      << "\n";
        }
    }
    std::cout << "[faults] noise and drops: " << delivered << " jobs intact, " << failed << " failed cleanly\n";
}

// An outage shorter than lineParamB is ridden out; a longer one fails the job
// with the time-out bit within the timers, and once the line is back the next
// terminal of the same pass is served.
TEST_F(LineFaults, OutageInTheMiddleOfAReceive) {
    struct Case {
        int lengthMs;
        bool survives;
    } cases[] = {{300, true}, {2500, false}};
    const int a = 50, b = 1000, c = 2;
    // Late enough that a loaded machine has started the transfer.
    const int outageStartMs = 2000;
    for (const Case& oc : cases) {
        SCOPED_TRACE("outage " + std::to_string(oc.lengthMs) + " ms");
        const fs::path dir = root / ("outage" + std::to_string(oc.lengthMs));
        // About six seconds at 115200 bit/s: the outage falls inside it.
        const std::map<std::string, std::string> big = {{"BIG.BIN", content(70000, 21)}};
        const std::map<std::string, std::string> next = {{"NEXT.TXT", content(500, 22)}};
        putAll(dir / "ht1", big);
        putAll(dir / "ht2", next);
        fs::create_directories(dir / "in");
        LineSettings s;
        s.baud = 115200;
        s.outage = std::to_string(outageStartMs) + ":" + std::to_string(oc.lengthMs);
        tvk_openparam p = lineParams(a, b, c);
        const auto lineReady = Clock::now();
        FleetLine line(dir / "fleet.txt",
                       "box 1 id=HT0001\njob 1 send " + (dir / "ht1").string() + "\nbox 2 id=HT0002\njob 2 send " +
                           (dir / "ht2").string() + "\n",
                       s, p);
        auto records = openAndPoll(p, 2, 2);
        ASSERT_EQ(records.size(), 2u);
        tvk_comminfo& first = records[0];
        tvk_comminfo& second = records[1];
        ASSERT_LT(msSince(lineReady), outageStartMs) << "the transfer must start before the outage";

        const std::string inDir = (dir / "in").string();
        const int r = tvk_filerecv(const_cast<char*>(inDir.c_str()), &first);
        const int bits = tvk_geterrinf();
        const long long endedMs = msSince(lineReady);
        EXPECT_EQ(wrongFiles(dir / "in", big), "");
        if (oc.survives) {
            EXPECT_EQ(r, TVK_OK) << outcome(r, bits);
            EXPECT_TRUE(readBytes((dir / "in/BIG.BIN").string()) == big.at("BIG.BIN"));
        } else {
            EXPECT_LT(r, 0);
            EXPECT_TRUE(bits & TVK_ES_TIMEOUT) << bits;
            EXPECT_FALSE(fs::exists(dir / "in/BIG.BIN"));
            // Every retry may wait lineParamA for an answer and lineParamB for progress.
            EXPECT_LT(endedMs - outageStartMs, (c + 1) * (a + b) + 1000) << "failed " << endedMs << " ms after ready";
            // The terminal on box 2 waits for the line to come back.
            std::this_thread::sleep_for(std::chrono::milliseconds(
                std::max(0LL, outageStartMs + oc.lengthMs - msSince(lineReady) + 100)));
        }
        const int rn = tvk_filerecv(const_cast<char*>(inDir.c_str()), &second);
        EXPECT_EQ(rn, TVK_OK) << outcome(rn, tvk_geterrinf()) << "\n" << line.htsimLog();
        EXPECT_TRUE(readBytes((dir / "in/NEXT.TXT").string()) == next.at("NEXT.TXT"));
        tvk_comminfo blank{};
        tvk_disconnect(1, &blank);
        tvk_close();
        const auto counters = line.stop();
        EXPECT_GT(counters.at("ab_bytes_lost_outage") + counters.at("ba_bytes_lost_outage"), 0u)
            << "the outage hit the transfer";
        std::cout << "[faults] outage " << oc.lengthMs << " ms at " << outageStartMs << " ms: " << outcome(r, bits)
                  << " after " << endedMs << " ms\n";
    }
}

TEST_F(LineFaults, VanishedTerminalFailsInTimeAndTheNextIsServed) {
    const int a = 40, b = 800, c = 2;
    const std::map<std::string, std::string> big = {{"GONE.BIN", content(200000, 31)}};
    const std::map<std::string, std::string> next = {{"NEXT.TXT", content(2000, 32)}};
    putAll(root / "ht1", big);
    putAll(root / "ht2", next);
    fs::create_directories(root / "in");
    LineSettings s;
    s.baud = 2000000;
    tvk_openparam p = lineParams(a, b, c);
    FleetLine line(root / "fleet.txt",
                   "box 1 id=HT0001 vanish=30000\njob 1 send " + (root / "ht1").string() +
                       "\nbox 2 id=HT0002\njob 2 send " + (root / "ht2").string() + "\n",
                   s, p);
    auto records = openAndPoll(p, 2, 2);
    ASSERT_EQ(records.size(), 2u);
    tvk_comminfo& gone = records[0];
    tvk_comminfo& other = records[1];
    const std::string inDir = (root / "in").string();
    const auto t0 = Clock::now();
    EXPECT_LT(tvk_filerecv(const_cast<char*>(inDir.c_str()), &gone), 0);
    const long long tookMs = msSince(t0);
    EXPECT_TRUE(tvk_geterrinf() & TVK_ES_TIMEOUT) << tvk_geterrinf();
    EXPECT_LT(tookMs, (c + 1) * (a + b) + 1000);
    EXPECT_EQ(tvk_filerecv(const_cast<char*>(inDir.c_str()), &other), TVK_OK) << line.htsimLog();
    EXPECT_EQ(digestOf(root / "in"), digest(next)) << "the vanished terminal's file is gone, temporary copy and all";
    line.stop();
    EXPECT_NE(line.htsimLog().find("vanished"), std::string::npos) << line.htsimLog();
    std::cout << "[faults] vanish after 30000 bytes: failed with the time-out bit after " << tookMs << " ms\n";
}

}  // namespace
}  // namespace quendril::test::faults
