// The library through its C API against htsim over lineemu: what the
// program relies on, on a real (emulated) line.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "linerig.h"
#include "tempdir.h"
#include "testfiles.h"
#include "tervolk.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quendril::test::LineRig;
using quendril::test::LineSettings;
using Clock = std::chrono::steady_clock;

namespace {

using tvktest::readAll;
using tvktest::writeRandomFile;

bool sameFile(const fs::path& a, const fs::path& b) { return fs::exists(b) && readAll(a) == readAll(b); }

tvk_openparam lineParams(int a = 40, int b = 2000, int c = 3, bool seven = false) {
    tvk_openparam p{};
    p.baudCode = 7;
    p.sevenBits = seven ? 1 : 0;
    p.parityCode = seven ? 2 : 0;
    p.stopBits = 1;
    p.lineParamA = a;
    p.lineParamB = b;
    p.lineParamC = c;
    return p;
}

// The program's pump: counts calls and their largest gap, and can stop.
struct Pump {
    int calls = 0;
    int stopAfter = -1;
    bool callIn = false;  // the pump tries line calls of its own
    int16_t nestedClose = 0, nestedPoll = 0;
    Clock::time_point last{};
    Clock::duration maxGap{};
    Clock::time_point stoppedAt{};
    static void fn(void* user) {
        auto* p = static_cast<Pump*>(user);
        auto now = Clock::now();
        if (p->calls++ > 0) p->maxGap = std::max(p->maxGap, now - p->last);
        p->last = now;
        if (p->calls == p->stopAfter) {
            p->stoppedAt = now;
            if (p->callIn) {
                int32_t mode = 1;
                p->nestedPoll = tvk_polling(&mode, 1);
                p->nestedClose = tvk_close();
            } else {
                tvk_stopreq();
            }
        }
    }
};

struct Notes {
    int count = 0;
    int lastPercent = -1;
    bool sawHundred = false;
    bool wrongMsg = false;
    std::string names;
    static void fn(void* user, int32_t hwnd, int32_t msg, int32_t wparam) {
        auto* n = static_cast<Notes*>(user);
        ++n->count;
        n->wrongMsg = n->wrongMsg || msg != TVK_NOTIFY_MSG || hwnd != 77 || wparam < 0 || wparam > 100;
        n->lastPercent = wparam;
        n->sawHundred = n->sawHundred || wparam == 100;
        char buf[TVK_FNAME_LEN];
        std::memset(buf, 0, sizeof buf);
        tvk_getcomfname(buf);
        if (n->names.find(buf) == std::string::npos) n->names += std::string(buf) + ";";
    }
};

// A line with htsim on the far end, the library on COM0, in a fresh directory.
class LineTest : public ::testing::Test {
protected:
    void start(const std::string& fleet, const LineSettings& s = fastLine(), std::vector<std::string> extra = {}) {
        {
            std::ofstream(work.path() / "fleet.txt") << fleet;
        }
        rig = std::make_unique<LineRig>(s);
        rig->exportComPort(0);
        ::setenv("TVK_BAUD", std::to_string(s.baud).c_str(), 1);
        extra.insert(extra.begin(), {"--speed", std::to_string(s.baud), "--a", "40", "--b", "2000", "--c", "3"});
        rig->startHtsim((work.path() / "fleet.txt").string(), extra);
        tvk_sethwnd(77, TVK_NOTIFY_MSG);
        tvk_setpump(&Pump::fn, &pump);
        tvk_setnotify(&Notes::fn, &notes);
    }
    void TearDown() override {
        tvk_close();
        ::unsetenv("TVK_BAUD");
        tvk_setpump(nullptr, nullptr);
        tvk_setnotify(nullptr, nullptr);
    }
    static LineSettings fastLine() {
        LineSettings s;
        s.baud = 2000000;
        return s;
    }
    void acceptAll() {
        tvk_idtblclr();
        char any[] = "&&&&&&";
        tvk_idtbladd(any);
    }
    // Polls like the program, back to back, until `want` terminals answer
    // (htsim may still be starting).
    int pollUntilFound(int boxes, int want = 1, std::chrono::milliseconds limit = 5000ms) {
        auto end = Clock::now() + limit;
        int32_t mode = 1;
        int r = 0;
        while (Clock::now() < end && (r = tvk_polling(&mode, boxes)) < want) {
        }
        return r;
    }
    std::string log() { return readAll(fs::path(rig->dir()) / "htsim.log"); }
    // Opens the line, accepts any terminal and reads the first record.
    void openAndReadFirst(tvk_comminfo& c, const tvk_openparam& param = lineParams()) {
        tvk_openparam p = param;
        ASSERT_EQ(tvk_open(0, &p), TVK_OK);
        acceptAll();
        ASSERT_EQ(pollUntilFound(1), 1) << log();
        ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    }

    quendril::test::ScopedWorkDir work;
    std::unique_ptr<LineRig> rig;
    Pump pump;
    Notes notes;
};

}  // namespace

TEST(LibraryApi, RefusesBadArgumentsMissingAndBusyDevices) {
    quendril::test::ScopedWorkDir wd;
    tvk_openparam p = lineParams();
    int32_t mode = 1;
    tvk_comminfo info{};
    char dir[] = ".";
    EXPECT_EQ(tvk_polling(&mode, 1), TVK_ENOTOPEN);
    EXPECT_EQ(tvk_filerecv(dir, &info), TVK_ENOTOPEN);
    EXPECT_EQ(tvk_open(0, nullptr), TVK_EARG);
    tvk_openparam bad = p;
    bad.baudCode = 8;
    EXPECT_EQ(tvk_open(0, &bad), TVK_EARG);
    ::setenv("QUENDRIL_COM1", (wd.str() + "/no-such-device").c_str(), 1);
    EXPECT_EQ(tvk_open(1, &p), TVK_ENODEV);
    std::ofstream("plain-file") << "x";
    ::setenv("QUENDRIL_COM1", (wd.str() + "/plain-file").c_str(), 1);
    EXPECT_EQ(tvk_open(1, &p), TVK_EBUSY) << "not a terminal";
    LineRig rig;
    rig.exportComPort(1);
    int holder = ::open(rig.pathA().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(tvk_open(1, &p), TVK_EBUSY) << "another user holds the line";
    ::close(holder);
    ASSERT_EQ(tvk_open(1, &p), TVK_OK);
    EXPECT_EQ(tvk_polling(nullptr, 1), TVK_EARG);
    EXPECT_EQ(tvk_polling(&mode, 17), TVK_EARG);
    EXPECT_EQ(tvk_filerecv(dir, &info), TVK_EARG) << "a record without a box";
    EXPECT_EQ(tvk_getcinffirst(&info), TVK_ENOMORE);
    EXPECT_EQ(tvk_close(), TVK_OK);
    ::unsetenv("QUENDRIL_COM1");
}

TEST(LibraryApi, IdTableKeepsWhatWasAdded) {
    tvk_idtblclr();
    char a[] = "HT0001", b[] = "AB";
    EXPECT_EQ(tvk_idtbladd(a), TVK_OK);
    EXPECT_EQ(tvk_idtbladd(b), TVK_OK);
    EXPECT_EQ(tvk_idtbladd(nullptr), TVK_EARG);
    EXPECT_EQ(tvk_idtblgetidno(), 2);
    char out[7];
    ASSERT_EQ(tvk_idtblgetid(1, out), TVK_OK);
    EXPECT_STREQ(out, "AB    ");
    EXPECT_EQ(tvk_idtblgetid(2, out), TVK_EARG);
    tvk_idtblclr();
    EXPECT_EQ(tvk_idtblgetidno(), 0);
}

TEST_F(LineTest, PollingReadsRecordsInBoxOrderThroughTheIdTable) {
    fs::create_directories("ht1");
    writeRandomFile("ht1/a.bin", 1000, 1);
    writeRandomFile("ht1/b.bin", 234, 2);
    start("box 1 id=HT0001 rev=07\njob 1 send " + work.str() + "/ht1\n"
          "box 2\n"
          "box 3 id=HT0003\njob 3 recv type=4\n"
          "box 4 id=ZZ0004\njob 4 install\n");
    tvk_openparam p = lineParams();
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    tvk_idtblclr();
    char id1[] = "HT0001", id3[] = "HT0003";
    tvk_idtbladd(id1);
    tvk_idtbladd(id3);
    ASSERT_EQ(pollUntilFound(5, 2), 2) << log();
    tvk_comminfo c{};
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(std::string(c.htId, 6), "HT0001");
    EXPECT_EQ(std::string(c.aux1, 2), "07");
    EXPECT_EQ(c.aux2, 1);
    EXPECT_EQ(c.transDir, TVK_DIR_TO_PC);
    EXPECT_EQ(c.fileCount, 2);
    EXPECT_EQ(c.totalSize, 1234);
    ASSERT_EQ(tvk_getcinfnext(&c), TVK_OK);
    EXPECT_EQ(std::string(c.htId, 6), "HT0003");
    EXPECT_EQ(c.aux2, 3);
    EXPECT_EQ(c.transDir, TVK_DIR_TO_HT);
    EXPECT_EQ(c.transType, 4);
    EXPECT_EQ(tvk_getcinfnext(&c), TVK_ENOMORE);
    EXPECT_EQ(tvk_getcinfnext(&c), TVK_ENOMORE);
    acceptAll();
    ASSERT_EQ(pollUntilFound(5, 3), 3);
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    ASSERT_EQ(tvk_getcinfnext(&c), TVK_OK);
    ASSERT_EQ(tvk_getcinfnext(&c), TVK_OK);
    EXPECT_EQ(std::string(c.htId, 6), "ZZ0004");
    EXPECT_EQ(c.transType, TVK_TYPE_APPL);
    // A box that does not exist costs one response time, no more.
    int32_t mode = 1;
    auto t0 = Clock::now();
    EXPECT_EQ(tvk_polling(&mode, 16), 3);
    EXPECT_LT(Clock::now() - t0, 12 * 60ms);
    EXPECT_EQ(tvk_disconnect(1, &c), TVK_OK);
}

TEST_F(LineTest, JobsOfAPassAreServedAndNotReportedAgain) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    fs::create_directories("out");
    writeRandomFile("ht1/big.bin", 200000, 3);
    writeRandomFile("ht1/small.txt", 10, 4);
    writeRandomFile("out/prog.exe", 40000, 5);
    writeRandomFile("out/.hidden", 10, 6);
    start("box 2 id=HT0002\njob 2 send " + work.str() + "/ht1\n"
          "box 5 id=HT0005 dir=" + work.str() + "/ht5\njob 5 recv\njob 5 install\njob 5 end\n");
    tvk_openparam p = lineParams();
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    acceptAll();
    ASSERT_EQ(pollUntilFound(6, 2), 2);
    tvk_comminfo recv{}, send{};
    ASSERT_EQ(tvk_getcinffirst(&recv), TVK_OK);
    ASSERT_EQ(tvk_getcinfnext(&send), TVK_OK);
    char inDir[] = "in";
    ASSERT_EQ(tvk_filerecv(inDir, &recv), TVK_OK) << log();
    EXPECT_EQ(tvk_geterrinf(), 0);
    EXPECT_TRUE(sameFile("ht1/big.bin", "in/big.bin"));
    EXPECT_TRUE(sameFile("ht1/small.txt", "in/small.txt"));
    EXPECT_TRUE(notes.sawHundred);
    EXPECT_FALSE(notes.wrongMsg);
    EXPECT_NE(notes.names.find("big.bin;"), std::string::npos) << notes.names;
    EXPECT_LT(pump.maxGap, 50ms) << "the pump ran at least every 50 ms, the longest gap was "
                                 << std::chrono::duration<double, std::milli>(pump.maxGap).count() << " ms";
    char pattern[] = "out/*.*";
    ASSERT_EQ(tvk_filesend(pattern, &send), TVK_OK) << log();
    EXPECT_TRUE(sameFile("out/prog.exe", "ht5/recv/prog.exe"));
    EXPECT_FALSE(fs::exists("ht5/recv/.hidden"));
    tvk_comminfo blank{};
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);

    // Next pass: only the terminal with a new job answers.
    ASSERT_EQ(pollUntilFound(6), 1);
    tvk_comminfo inst{};
    ASSERT_EQ(tvk_getcinffirst(&inst), TVK_OK);
    EXPECT_EQ(inst.aux2, 5);
    EXPECT_EQ(inst.transType, TVK_TYPE_APPL);
    ASSERT_EQ(tvk_filesend(pattern, &inst), TVK_OK);
    EXPECT_TRUE(sameFile("out/prog.exe", "ht5/app/prog.exe"));
    // The re-poll after an install: the terminal reports the end of its work.
    tvk_idtblclr();
    tvk_idtbladd(inst.htId);
    ASSERT_EQ(pollUntilFound(6, 1, 1000ms), 1);
    tvk_comminfo last{};
    ASSERT_EQ(tvk_getcinffirst(&last), TVK_OK);
    EXPECT_EQ(last.transDir, TVK_DIR_END);
    EXPECT_EQ(tvk_disconnect(0, &last), TVK_OK);
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
    acceptAll();
    int32_t mode = 1;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tvk_polling(&mode, 6), 0) << "all work is done";
}

TEST_F(LineTest, StopEndsTransferAndPollingAndTheLineCanStillBeReleased) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    writeRandomFile("ht1/big.bin", 400000, 7);
    start("box 1 id=HT0001\njob 1 send " + work.str() + "/ht1\n");
    tvk_comminfo c{};
    openAndReadFirst(c);
    pump.stopAfter = pump.calls + 20;
    char inDir[] = "in";
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_ESTOPPED);
    auto late = Clock::now() - pump.stoppedAt;
    EXPECT_LT(late, 150ms) << "within a frame time and lineParamA";
    EXPECT_FALSE(fs::exists("in/big.bin"));
    tvk_comminfo blank{};
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
    // A stop between calls is taken by the next line call, once.
    tvk_stopreq();
    int32_t mode = 1;
    EXPECT_EQ(tvk_polling(&mode, 1), TVK_ESTOPPED);
    EXPECT_EQ(pollUntilFound(1), 1) << "the terminal still wants its job";
    pump.stopAfter = -1;
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_OK) << log();
    EXPECT_TRUE(sameFile("ht1/big.bin", "in/big.bin"));
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
    EXPECT_EQ(tvk_close(), TVK_OK);
}

TEST_F(LineTest, NoisyLineStillDeliversIntactFiles) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    writeRandomFile("ht1/noisy.bin", 200000, 8);
    LineSettings s = fastLine();
    s.bitErrorRate = 2e-5;
    s.dropRate = 2e-5;
    s.seed = 5;
    start("box 1 id=HT0001\njob 1 send " + work.str() + "/ht1\n", s);
    tvk_comminfo c{};
    openAndReadFirst(c);
    char inDir[] = "in";
    ASSERT_EQ(tvk_filerecv(inDir, &c), TVK_OK) << log();
    EXPECT_TRUE(sameFile("ht1/noisy.bin", "in/noisy.bin"));
}

TEST_F(LineTest, SevenBitLineCarriesBinaryFiles) {
    fs::create_directories("ht1");
    fs::create_directories("out");
    writeRandomFile("out/binary.bin", 50000, 9);
    LineSettings s = fastLine();
    s.dataBits = 7;
    s.parity = "even";
    start("box 1 id=HT0001 dir=" + work.str() + "/ht1\njob 1 recv\n", s, {"--seven-bits", "--parity", "even"});
    tvk_comminfo c{};
    openAndReadFirst(c, lineParams(40, 2000, 3, true));
    char pattern[] = "out/*.*";
    ASSERT_EQ(tvk_filesend(pattern, &c), TVK_OK) << log();
    EXPECT_TRUE(sameFile("out/binary.bin", "ht1/recv/binary.bin"));
}

TEST_F(LineTest, VanishingTerminalAndHostileNameFailWithoutWrongFiles) {
    fs::create_directories("ht1");
    fs::create_directories("ht2");
    fs::create_directories("in");
    writeRandomFile("ht1/gone.bin", 200000, 10);
    writeRandomFile("ht2/a.txt", 100, 11);
    writeRandomFile("ht2/b.txt", 100, 12);
    start("box 1 id=HT0001 vanish=30000\njob 1 send " + work.str() + "/ht1\n"
          "box 2 id=HT0002\njob 2 send " + work.str() + "/ht2 as=../evil.txt\n");
    tvk_openparam p = lineParams(40, 2000, 2);
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    acceptAll();
    ASSERT_EQ(pollUntilFound(2, 2), 2);
    tvk_comminfo gone{}, hostile{};
    ASSERT_EQ(tvk_getcinffirst(&gone), TVK_OK);
    ASSERT_EQ(tvk_getcinfnext(&hostile), TVK_OK);
    char inDir[] = "in";
    auto t0 = Clock::now();
    EXPECT_LT(tvk_filerecv(inDir, &gone), 0);
    EXPECT_TRUE(tvk_geterrinf() & TVK_ES_TIMEOUT) << tvk_geterrinf();
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_FALSE(fs::exists("in/gone.bin"));
    EXPECT_EQ(tvk_filerecv(inDir, &hostile), TVK_EFAIL) << log();
    EXPECT_TRUE(tvk_geterrinf() & TVK_ES_FILEOPEN);
    EXPECT_FALSE(fs::exists("evil.txt"));
    EXPECT_TRUE(sameFile("ht2/b.txt", "in/b.txt")) << "the other files still arrive";
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("in")) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(LineTest, LateAndSlowTerminalsAsTheTimersAllow) {
    start("box 1 id=HT0001 appear=6\njob 1 recv\n"
          "box 2 id=HT0002 delay=15\njob 2 recv\n"
          "box 3 id=HT0003 delay=150\njob 3 recv\n");
    tvk_openparam p = lineParams();
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    acceptAll();
    ASSERT_EQ(pollUntilFound(3), 1) << "the slow box answers within lineParamA, the late one not yet";
    tvk_comminfo c{};
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(c.aux2, 2);
    int32_t mode = 1;
    int found = 0;
    for (int i = 0; i < 8 && found < 2; ++i) found = tvk_polling(&mode, 3);
    EXPECT_EQ(found, 2) << "the late terminal appears after its polls";
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(c.aux2, 1);
    // A stop while boxes stay silent still ends the poll quickly.
    pump.stopAfter = pump.calls + 2;
    auto t0 = Clock::now();
    EXPECT_EQ(tvk_polling(&mode, 16), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - t0, 200ms);
}

TEST_F(LineTest, HtsimRepeatsJobsCountsThemAndExitsWhenDone) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    writeRandomFile("ht1/a.bin", 100, 13);
    writeRandomFile("ht1/b.bin", 200, 14);
    start("box 1 id=HT0001\njob 1 send " + work.str() + "/ht1 repeat=2\n", fastLine(), {"--exit-when-done"});
    tvk_comminfo c{};
    openAndReadFirst(c);
    char inDir[] = "in";
    tvk_comminfo blank{};
    for (int pass = 0; pass < 2; ++pass) {
        if (pass > 0) {
            ASSERT_EQ(pollUntilFound(1), 1) << "the repeated job is asked for again";
            ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
        }
        ASSERT_EQ(tvk_filerecv(inDir, &c), TVK_OK);
        EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
    }
    auto rc = rig->htsim().wait(3000ms);
    ASSERT_TRUE(rc.has_value()) << "htsim is still running";
    EXPECT_EQ(*rc, 0);
    EXPECT_NE(log().find("box 1 HT0001: jobs ok 2 failed 0; sent 4 files 600 bytes; received 0 files 0 bytes"),
              std::string::npos)
        << log();
}

TEST_F(LineTest, StopWhileSendingLeavesNoPartialFileAtTheTerminal) {
    fs::create_directories("out");
    writeRandomFile("out/big.bin", 400000, 15);
    start("box 1 id=HT0001 dir=" + work.str() + "/ht1\njob 1 recv\n");
    tvk_comminfo c{};
    openAndReadFirst(c);
    pump.stopAfter = pump.calls + 20;
    char pattern[] = "out/*.*";
    EXPECT_EQ(tvk_filesend(pattern, &c), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - pump.stoppedAt, 150ms);
    tvk_comminfo blank{};
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK) << "the box heard the abort and answers the release";
    EXPECT_TRUE(fs::is_empty("ht1/recv")) << "no file, not even a temporary one, is left at the terminal";
}

TEST_F(LineTest, LineCallsFromInsideACallbackAreRefusedAndStopTheRunningCall) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    writeRandomFile("ht1/big.bin", 400000, 16);
    start("box 1 id=HT0001\njob 1 send " + work.str() + "/ht1\n");
    tvk_comminfo c{};
    openAndReadFirst(c);
    pump.callIn = true;
    pump.stopAfter = pump.calls + 10;
    char inDir[] = "in";
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_ESTOPPED);
    EXPECT_EQ(pump.nestedPoll, TVK_EBUSY);
    EXPECT_EQ(pump.nestedClose, TVK_EBUSY);
    tvk_comminfo blank{};
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK) << "the line is still open";
    EXPECT_EQ(tvk_close(), TVK_OK);
}

TEST_F(LineTest, JobArgumentsAreCheckedBeforeTheLineIsUsed) {
    fs::create_directories("ht1");
    fs::create_directories("in");
    writeRandomFile("ht1/a.bin", 100, 17);
    start("box 1 id=HT0001\njob 1 send " + work.str() + "/ht1\n");
    tvk_comminfo c{};
    openAndReadFirst(c);
    struct Case {
        const char* what;
        bool receive;
        std::string arg;
        int16_t result;
        int16_t bits;
    } cases[] = {
        {"missing receive directory", true, "nowhere", TVK_EFILE, TVK_ES_FILEOPEN},
        {"pattern without *.*", false, "in/*.txt", TVK_EARG, 0},
        {"missing send directory", false, "nowhere/*.*", TVK_EFILE, TVK_ES_FILEOPEN},
    };
    for (const auto& k : cases) {
        std::vector<char> arg(k.arg.begin(), k.arg.end());
        arg.push_back('\0');
        int16_t r = k.receive ? tvk_filerecv(arg.data(), &c) : tvk_filesend(arg.data(), &c);
        EXPECT_EQ(r, k.result) << k.what;
        EXPECT_EQ(tvk_geterrinf(), k.bits) << k.what;
    }
    char inDir[] = "in";
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_OK) << "the terminal still waits for its job";
    EXPECT_TRUE(sameFile("ht1/a.bin", "in/a.bin"));
}

// The program's default line speed and the slowest one, with the shortest
// stall timer a user may set: a frame or window still crossing the line
// must not run either side's timers out.
TEST_F(LineTest, SlowLinesCarryFilesBothWaysWithTheShortestTimers) {
    struct Case {
        uint32_t baud;
        int32_t baudCode;
        size_t bytes;
    };
    const Case cases[] = {{9600, 3, 3000}, {1200, 0, 260}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        const fs::path dir = work.path() / std::to_string(c.baud);
        fs::create_directories(dir / "ht1");
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "out");
        writeRandomFile(dir / "ht1" / "up.bin", c.bytes, 21);
        writeRandomFile(dir / "out" / "down.bin", c.bytes, 22);
        LineSettings s;
        s.baud = c.baud;
        start("box 1 id=HT0001\njob 1 send " + (dir / "ht1").string() + "\nbox 2 id=HT0002 dir=" +
                  (dir / "ht2").string() + "\njob 2 recv\n",
              s, {"--a", "30", "--b", "500"});
        tvk_openparam p = lineParams(30, 500, 3);
        p.baudCode = c.baudCode;
        ASSERT_EQ(tvk_open(0, &p), TVK_OK);
        acceptAll();
        ASSERT_EQ(pollUntilFound(2, 2, 10000ms), 2) << log();
        tvk_comminfo up{}, down{};
        ASSERT_EQ(tvk_getcinffirst(&up), TVK_OK);
        ASSERT_EQ(tvk_getcinfnext(&down), TVK_OK);
        std::string inDir = (dir / "in").string(), pattern = (dir / "out" / "*.*").string();
        EXPECT_EQ(tvk_filerecv(inDir.data(), &up), TVK_OK) << log();
        EXPECT_EQ(tvk_geterrinf(), 0);
        EXPECT_TRUE(sameFile(dir / "ht1" / "up.bin", dir / "in" / "up.bin"));
        EXPECT_EQ(tvk_filesend(pattern.data(), &down), TVK_OK) << log();
        EXPECT_EQ(tvk_geterrinf(), 0);
        EXPECT_TRUE(sameFile(dir / "out" / "down.bin", dir / "ht2" / "recv" / "down.bin"));
        tvk_comminfo blank{};
        EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
        tvk_close();
        rig.reset();
    }
}
