// The library's C API against htsim over a faulty emulated line: noise and
// lost characters, an outage and a small disk. A job
// either delivers intact files or fails with its error bits; a wrong or
// partial file never appears under its final name, and a terminal is told a
// job arrived only when every file of it is stored.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include "faultrig.h"

namespace quendril::test::faults {
namespace {

std::string outcome(int r, int bits) { return std::to_string(r) + " bits " + std::to_string(bits); }

class LineFaults : public ::testing::Test {
protected:
    // htsim's boxes 1 and 2 each send the files of their directory ht1, ht2.
    std::vector<tvk_comminfo> startSenders(const FileMap& first, const FileMap& second, LineSettings s,
                                           std::vector<std::string> extra = {}) {
        putFiles(root / "ht1", first);
        putFiles(root / "ht2", second);
        const std::string r = root.string(), fleet = "box 1 id=HT0001\njob 1 send " + r + "/ht1\n";
        line = std::make_unique<FleetLine>(root / "fleet.txt", fleet + (second.empty() ? "" : "box 2 id=HT0002\njob 2 send " +
                                           r + "/ht2\n"), s, params, extra);
        return openAndPoll(params, 2, second.empty() ? 1 : 2);
    }
    ScopedWorkDir work;
    fs::path root = work.path(), in = root / "in";
    tvk_openparam params = lineParams(40, 1000, 3);
    std::unique_ptr<FleetLine> line;
};

// Receive (3 files) and send (2 files) over a line that flips bits and loses
// characters: done means intact with no transfer or file bit, failed means a
// negative code with bits set.
TEST_F(LineFaults, NoiseAndDropsNeverStoreAWrongFileInEitherDirection) {
    const FileMap fromHt = {{"A.TXT", content(3000, 1)}, {"B.BIN", content(12000, 2)}, {"C.TXT", content(1, 3)}};
    const FileMap toHt = {{"P.LOD", content(9000, 4)}, {"Q.DAT", content(700, 5)}};
    putFiles(root / "ht1", fromHt);
    putFiles(root / "out", toHt);
    const tvk_openparam p = lineParams(40, 400, 5);
    FleetLine fleet(root / "fleet.txt", "box 1 id=HT0001\njob 1 send " + (root / "ht1").string() + "\nbox 2 id=HT0002 dir=" +
                    (root / "ht2").string() + "\njob 2 recv\n", {.baud = 2000000, .bitErrorRate = 1e-3, .dropRate = 1e-3,
                    .seed = 11, .outage = ""}, p);
    auto records = openAndPoll(p, 2, 2);
    ASSERT_EQ(records.size(), 2u) << "both terminals answer a noisy poll in time";
    fs::create_directories(in);
    const int rr = receive(in, records[0]), rbits = tvk_geterrinf();
    const std::string pattern = (root / "out").string() + "/*.*";
    const int sr = tvk_filesend(const_cast<char*>(pattern.c_str()), &records[1]), sbits = tvk_geterrinf();
    endPass();
    const auto counters = fleet.stop();
    for (const auto& [r, bits, got, sent] : {std::tuple{rr, rbits, in, fromHt}, {sr, sbits, root / "ht2/recv", toHt}}) {
        EXPECT_EQ(wrongFiles(got, sent), "");
        if (r != TVK_OK) EXPECT_TRUE(r < 0 && bits != 0) << outcome(r, bits) << "\n" << fleet.log();
        else EXPECT_EQ(std::pair(digestOf(got), bits & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN)), std::pair(digest(sent), 0));
    }
    EXPECT_GT(counters.at("ab_bits_flipped") + counters.at("ba_bits_flipped"), 0u);
    EXPECT_GT(counters.at("ab_bytes_dropped") + counters.at("ba_bytes_dropped"), 0u);
}

// An outage longer than lineParamB fails the job with the time-out bit within
// the timers, leaving no file, and so does the terminal's release; once the
// line is back the next terminal of the same pass is served. (A terminal that vanishes is Transfer's.)
TEST_F(LineFaults, AnOutageFailsTheJobInTimeAndTheNextTerminalIsServed) {
    const int a = 50, b = 800, c = 2, outageStart = 1000, outageMs = 4000;
    params = lineParams(a, b, c);
    // About two seconds at 115200 bit/s: the outage falls inside it.
    const FileMap big = {{"BIG.BIN", content(23000, 21)}}, next = {{"NEXT.TXT", content(500, 22)}};
    const auto ready = Clock::now();
    fs::create_directories(in);
    auto records = startSenders(big, next, {.baud = 115200, .outage = std::to_string(outageStart) + ":" +
                                                                      std::to_string(outageMs)});
    ASSERT_EQ(records.size(), 2u);
    ASSERT_LT(msSince(ready), outageStart) << "the transfer must start before the outage";
    const int r = receive(in, records[0]), bits = tvk_geterrinf();
    EXPECT_TRUE(r < 0 && (bits & TVK_ES_TIMEOUT)) << outcome(r, bits);
    // Every retry may wait lineParamA for an answer and lineParamB for progress.
    EXPECT_LT(msSince(ready) - outageStart, (c + 1) * (a + b) + 1000);
    EXPECT_TRUE(snapshot(in).empty()) << "no file, partial copy and all";
    EXPECT_EQ(tvk_disconnect(0, &records[0]), TVK_ETIMEOUT) << "a release while the line is down fails after its retries";
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0LL, outageStart + outageMs - msSince(ready) + 100)));
    EXPECT_EQ(receive(in, records[1]), TVK_OK) << line->log();
    EXPECT_EQ(readBytes((in / "NEXT.TXT").string()), next.at("NEXT.TXT"));
    endPass();
    const auto counters = line->stop();
    EXPECT_GT(counters.at("ab_bytes_lost_outage") + counters.at("ba_bytes_lost_outage"), 0u);
}

// A small file system mounted over the receiving directory; root may mount,
// a run without that right skips.
class SmallDisk : public LineFaults {
protected:
    void SetUp() override {
        fs::create_directories(in);
        if (::mount("tmpfs", in.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no small file system";
        mounted = true;
    }
    void TearDown() override {
        if (mounted) ::umount2(in.c_str(), MNT_DETACH);
    }
    bool mounted = false;
};

// The announced 9000 bytes fit, but every file takes a 4 KiB page: the job
// fails, the terminal keeps its data and sends it again once there is room.
TEST_F(SmallDisk, FilesThatDoNotFitFailTheJobAndTheTerminalSendsThemAgain) {
    FileMap files;
    for (unsigned i = 0; i < 30; ++i) files["F" + std::to_string(100 + i) + ".DAT"] = content(300, 50 + i);
    auto records = startSenders(files, {}, {.baud = 2000000, .outage = ""}, {"--debug"});
    ASSERT_EQ(records.size(), 1u) << line->log();
    EXPECT_EQ(receive(in, records[0]), TVK_EFAIL);
    EXPECT_TRUE(tvk_geterrinf() & TVK_ES_FILEOPEN) << tvk_geterrinf();
    EXPECT_EQ(wrongFiles(in, files), "");
    tvk_comminfo again{};
    EXPECT_EQ(tvk_disconnect(1, &again), TVK_OK);
    ASSERT_EQ(::mount("tmpfs", in.c_str(), "tmpfs", MS_REMOUNT, "size=1m"), 0);
    ASSERT_EQ(pollUntilFound(1, 1), 1) << "the terminal asks again";
    ASSERT_EQ(tvk_getcinffirst(&again), TVK_OK);
    EXPECT_EQ(receive(in, again), TVK_OK) << tvk_geterrinf();
    EXPECT_EQ(digestOf(in), digest(files)) << "every file, intact, and nothing else";
    endPass();
    line->stop();
    EXPECT_NE(line->log().find("box 1 HT0001: jobs ok 1 failed 1;"), std::string::npos) << line->log();
}

TEST_F(SmallDisk, AJobLargerThanTheFreeSpaceIsRefusedBeforeAnyDataFlows) {
    const FileMap old = {{"OLD.DAT", content(8000, 41)}}, files = {{"A.TXT", content(1000, 42)}, {"B.BIN", content(200000, 43)}};
    putFiles(in, old);
    auto records = startSenders(files, {}, {.baud = 2000000, .outage = ""}, {"--debug"});
    ASSERT_EQ(records.size(), 1u) << line->log();
    EXPECT_EQ(receive(in, records[0]), TVK_EFAIL);
    EXPECT_EQ(tvk_geterrinf(), TVK_ES_NOSPACE);
    EXPECT_EQ(digestOf(in), digest(old)) << "what was stored before stays";
    tvk_close();
    line->stop();
    EXPECT_EQ(line->log().find("START"), std::string::npos) << "no job started:\n" << line->log();
    EXPECT_EQ(digestOf(root / "ht1"), digest(files));
}

}  // namespace
}  // namespace quendril::test::faults
