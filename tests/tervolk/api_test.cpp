// The library through its C API against htsim over lineemu: what the
// program relies on, on a real (emulated) line.
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <thread>
#include "filebytes.h"
#include "linerig.h"
#include "tempdir.h"
#include "termiosport.h"
#include "tervolk.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace quendril::test;
using Clock = std::chrono::steady_clock;
namespace {
bool sameFile(const std::string& a, const std::string& b) { return fs::exists(b) && readBytes(a) == readBytes(b); }

const tvk_openparam kParams = {7, 0, 0, 1, 40, 2000, 3, 0, 0};

// The pump counts its calls and their largest gap and can stop, directly or
// by line calls of its own; notes are checked.
struct Callbacks {
    int calls = 0, stopAfter = -1;
    bool callIn = false, sawHundred = false, wrongNote = false;
    int16_t nestedClose = 0, nestedPoll = 0;
    Clock::time_point last{}, stoppedAt{};
    Clock::duration maxGap{};
    std::string names;
    static void pump(void* user) {
        auto& p = *static_cast<Callbacks*>(user);
        auto now = Clock::now();
        if (p.calls++ > 0) p.maxGap = std::max(p.maxGap, now - p.last);
        p.last = now;
        if (p.calls != p.stopAfter) return;
        p.stoppedAt = now;
        int32_t mode = 1;
        if (p.callIn) p.nestedPoll = tvk_polling(&mode, 1), p.nestedClose = tvk_close();
        else tvk_stopreq();
    }
    static void note(void* user, int32_t hwnd, int32_t msg, int32_t wparam) {
        auto& n = *static_cast<Callbacks*>(user);
        n.wrongNote = n.wrongNote || msg != TVK_NOTIFY_MSG || hwnd != 77 || wparam < 0 || wparam > 100;
        n.sawHundred = n.sawHundred || wparam == 100;
        char buf[TVK_FNAME_LEN] = {};
        tvk_getcomfname(buf);
        if (n.names.find(buf) == std::string::npos) n.names += std::string(buf) + ";";
    }
};

// A line with htsim on the far end, the library on COM0, in a fresh directory.
class LineTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories("ht1"), fs::create_directories("in"), fs::create_directories("out"); }
    void start(const std::string& fleet, LineSettings s = {}, std::vector<std::string> extra = {}) {
        writeBytes("fleet.txt", fleet);
        if (s.baud == LineSettings{}.baud) s.baud = 2000000;
        rig = std::make_unique<LineRig>(s);
        rig->exportComPort(0);
        ::setenv("TVK_BAUD", std::to_string(s.baud).c_str(), 1);
        extra.insert(extra.begin(), {"--speed", std::to_string(s.baud), "--a", "40", "--b", "2000", "--c", "3"});
        rig->startHtsim(work.str() + "/fleet.txt", extra);
        tvk_sethwnd(77, TVK_NOTIFY_MSG);
        tvk_setpump(&Callbacks::pump, &cb);
        tvk_setnotify(&Callbacks::note, &cb);
    }
    void TearDown() override { tvk_close(), ::unsetenv("TVK_BAUD"), tvk_setpump(nullptr, nullptr), tvk_setnotify(nullptr, nullptr); }
    void accept(std::vector<std::string> ids = {"&&&&&&"}) {
        tvk_idtblclr();
        for (auto& id : ids) tvk_idtbladd(id.data());
    }
    // Polls back to back until `want` terminals answer (htsim may still be starting).
    int pollUntilFound(int boxes, int want = 1, std::chrono::milliseconds limit = 5000ms) {
        int32_t mode = 1;
        int r = 0;
        for (auto end = Clock::now() + limit; Clock::now() < end && (r = tvk_polling(&mode, boxes)) < want;) continue;
        return r;
    }
    std::string log() { return readBytes(rig->dir() + "/htsim.log"); }
    void openAndRead(std::vector<tvk_comminfo*> recs, tvk_openparam p = kParams, int boxes = 1) {
        ASSERT_EQ(tvk_open(0, &p), TVK_OK);
        accept();
        ASSERT_EQ(pollUntilFound(boxes, int(recs.size()), 10000ms), int(recs.size())) << log();
        for (size_t i = 0; i < recs.size(); ++i) ASSERT_EQ((i ? tvk_getcinfnext : tvk_getcinffirst)(recs[i]), TVK_OK);
    }
    void release() { EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK); }
    std::string box(int n, const std::string& rest, const std::string& job) {
        const std::string k = std::to_string(n);
        return "box " + k + " id=HT000" + k + rest + "\njob " + k + " " + job + "\n";
    }
    ScopedWorkDir work;
    std::unique_ptr<LineRig> rig;
    Callbacks cb;
    tvk_comminfo c{}, blank{};
    char inDir[3] = "in", outPattern[8] = "out/*.*";
};
}  // namespace

// Every result code and every status bit has its own text; anything else
// has the unknown one, never a null pointer.
TEST(LibraryApi, EveryResultCodeAndStatusBitHasItsOwnText) {
    std::set<std::string> texts;
    for (int32_t code = TVK_ESTOPPED; code <= TVK_OK; ++code) texts.insert(tvk_strerror(code));
    EXPECT_EQ(texts.size(), 12u);
    for (int32_t bit = 1; bit <= 0x4000; bit <<= 1)
        if (bit & 0x7D1F) texts.insert(tvk_statustext(bit));  // the defined bits
    EXPECT_EQ(texts.size(), 23u);
    for (int32_t other : {1, -12, INT32_MIN}) EXPECT_STREQ(tvk_strerror(other), "unknown result code");
    for (int32_t other : {0, 0x0200, TVK_ES_PARITY | TVK_ES_FATAL, -1})
        EXPECT_STREQ(tvk_statustext(other), "unknown status bit");
}

TEST(LibraryApi, RefusesBadArgumentsMissingAndBusyDevices) {
    ScopedWorkDir wd;
    int32_t mode = 1;
    tvk_comminfo info{};
    EXPECT_EQ(tvk_polling(&mode, 1), TVK_ENOTOPEN);
    EXPECT_EQ(tvk_filerecv(wd.str().data(), &info), TVK_ENOTOPEN);
    EXPECT_EQ(tvk_open(0, nullptr), TVK_EARG);
    ::setenv("QUENDRIL_COM1", (wd.str() + "/no-such-device").c_str(), 1);
    // Each bound: just outside is refused, on it the device is looked for.
    const std::pair<int32_t tvk_openparam::*, std::vector<int32_t>> fields[] = {
        {&tvk_openparam::baudCode, {-1, 0, 7, 8}}, {&tvk_openparam::parityCode, {-1, 0, 2, 3}},
        {&tvk_openparam::stopBits, {0, 1, 2, 3}}, {&tvk_openparam::lineParamA, {0, 1, 60000, 60001}},
        {&tvk_openparam::lineParamB, {0, 1, 600000, 600001}}, {&tvk_openparam::lineParamC, {-1, 0, 99, 100}}};
    tvk_openparam p = kParams;
    for (const auto& [field, values] : fields)
        for (size_t i = 0; i < values.size(); ++i) {
            tvk_openparam q = p;
            q.*field = values[i];
            EXPECT_EQ(tvk_open(1, &q), i == 0 || i == 3 ? TVK_EARG : TVK_ENODEV) << values[i];
        }
    EXPECT_EQ(std::tuple(tvk_open(-1, &p), tvk_open(100, &p)), std::tuple(TVK_EARG, TVK_EARG));
    writeBytes("plain-file", "x");
    ::setenv("QUENDRIL_COM1", (wd.str() + "/plain-file").c_str(), 1);
    EXPECT_EQ(tvk_open(1, &p), TVK_EBUSY);
    LineRig rig;
    rig.exportComPort(1);
    int holder = ::open(rig.pathA().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(tvk_open(1, &p), TVK_EBUSY);
    ::close(holder);
    ASSERT_EQ(tvk_open(1, &p), TVK_OK);
    for (int boxes : {0, 17}) EXPECT_EQ(tvk_polling(&mode, boxes), TVK_EARG);
    EXPECT_EQ(tvk_polling(nullptr, 1), TVK_EARG);
    EXPECT_EQ(tvk_filerecv(wd.str().data(), &info), TVK_EARG);
    EXPECT_EQ(tvk_getcinffirst(&info), TVK_ENOMORE);
    EXPECT_EQ(tvk_close(), TVK_OK);
    EXPECT_EQ(tvk_close(), TVK_ENOTOPEN);
    char a[] = "HT0001", b[] = "AB", out[7];
    tvk_idtblclr();
    EXPECT_EQ((std::tuple{tvk_idtbladd(a), tvk_idtbladd(b)}), std::tuple(TVK_OK, TVK_OK));
    EXPECT_EQ(tvk_idtbladd(nullptr), TVK_EARG);
    EXPECT_EQ(tvk_idtblgetidno(), 2);
    ASSERT_EQ(tvk_idtblgetid(1, out), TVK_OK);
    EXPECT_STREQ(out, "AB    ");
    EXPECT_EQ(tvk_idtblgetid(2, out), TVK_EARG);
    EXPECT_EQ(tvk_idtblgetid(-1, out), TVK_EARG);
    tvk_idtblclr();
    EXPECT_EQ(tvk_idtblgetidno(), 0);
}

// Records come in box order through the ID table; a slow terminal answers
// within lineParamA, a late one after its polls, a slower one never.
TEST_F(LineTest, PollingReadsRecordsAsTheIdTableAndTheTimersAllow) {
    writeBytes("ht1/a.bin", content(1000, 1));
    writeBytes("ht1/b.bin", content(234, 2));
    start(box(1, " rev=07 delay=15", "send " + work.str() + "/ht1") + "box 2\n" + box(3, "", "recv type=4") +
          "box 4 id=ZZ0004\njob 4 install\n" + box(5, " delay=150", "recv") + box(6, " appear=6", "recv"));
    tvk_openparam p = kParams;
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    accept({"HT0001", "HT0003"});
    ASSERT_EQ(pollUntilFound(6, 2), 2) << log();
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(std::string(c.htId, 6) + std::string(c.aux1, 2), "HT000107");
    EXPECT_EQ(std::tuple(c.aux2, c.transDir, c.fileCount, c.totalSize), std::tuple(1, TVK_DIR_TO_PC, 2, 1234));
    ASSERT_EQ(tvk_getcinfnext(&c), TVK_OK);
    EXPECT_EQ(std::tuple(std::string(c.htId, 6), c.aux2, c.transDir, c.transType),
              std::tuple("HT0003", 3, TVK_DIR_TO_HT, 4));
    EXPECT_EQ(tvk_getcinfnext(&c), TVK_ENOMORE);
    accept();
    ASSERT_EQ(pollUntilFound(6, 4), 4) << "the late terminal appears after its polls";
    for (int box : {1, 3, 4, 6}) {
        ASSERT_EQ((box == 1 ? tvk_getcinffirst : tvk_getcinfnext)(&c), TVK_OK);
        EXPECT_EQ(c.aux2, box);
        EXPECT_EQ(c.transType, box == 4 ? TVK_TYPE_APPL : box == 3 ? 4 : box == 6 ? 3 : 0) << box;
    }
    int32_t mode = 1;
    auto t0 = Clock::now();
    EXPECT_EQ(tvk_polling(&mode, 16), 4);
    EXPECT_LT(Clock::now() - t0, 12 * 60ms) << "a box that does not answer costs one response time, no more";
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    // Job arguments are checked before the line is used.
    for (auto [receive, text, result, bits] : {std::tuple(true, "nowhere", TVK_EFILE, TVK_ES_FILEOPEN),
                                               std::tuple(false, "in/*.txt", TVK_EARG, 0),
                                               std::tuple(false, "nowhere/*.*", TVK_EFILE, TVK_ES_FILEOPEN)}) {
        std::string arg = text;
        EXPECT_EQ(receive ? tvk_filerecv(arg.data(), &c) : tvk_filesend(arg.data(), &c), result) << text;
        EXPECT_EQ(tvk_geterrinf(), bits) << text;
    }
    tvk_comminfo noBox = c;
    noBox.aux2 = 17;
    EXPECT_EQ(std::tuple(tvk_filerecv(inDir, &noBox), tvk_disconnect(0, &noBox), tvk_disconnect(2, &c)),
              std::tuple(TVK_EARG, TVK_EARG, TVK_EARG));
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_OK);
    EXPECT_TRUE(sameFile("ht1/a.bin", "in/a.bin"));
    EXPECT_EQ(tvk_disconnect(0, &c), TVK_OK);
    cb.stopAfter = cb.calls + 2;
    t0 = Clock::now();
    EXPECT_EQ(tvk_polling(&mode, 16), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - t0, 200ms) << "a stop while boxes stay silent still ends the poll quickly";
}

TEST_F(LineTest, StopsEndTransfersAndPollsAndTheLineStaysUsable) {
    writeBytes("ht1/big.bin", content(200000, 7));
    writeBytes("out/big.bin", content(200000, 15));
    start(box(1, "", "send " + work.str() + "/ht1") + box(2, " dir=" + work.str() + "/ht2", "recv"));
    tvk_comminfo down{};
    openAndRead({&c, &down}, kParams, 2);
    cb.stopAfter = cb.calls + 20;
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - cb.stoppedAt, 150ms) << "within a frame time and lineParamA";
    EXPECT_FALSE(fs::exists("in/big.bin"));
    cb.stopAfter = cb.calls + 20;
    EXPECT_EQ(tvk_filesend(outPattern, &down), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - cb.stoppedAt, 150ms);
    release();  // the box heard the abort and answers the release
    EXPECT_TRUE(fs::is_empty("ht2/recv")) << "no file, not even a temporary one, is left at the terminal";
    tvk_stopreq();  // between calls: taken by the next line call, once
    int32_t mode = 1;
    EXPECT_EQ(tvk_polling(&mode, 1), TVK_ESTOPPED);
    EXPECT_EQ(pollUntilFound(1), 1) << "the terminal still wants its job";
    cb.callIn = true;  // line calls from inside a callback are refused and stop the running call
    cb.stopAfter = cb.calls + 10;
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_ESTOPPED);
    EXPECT_EQ(std::tuple(cb.nestedPoll, cb.nestedClose), std::tuple(TVK_EBUSY, TVK_EBUSY));
    release();
    EXPECT_EQ(pollUntilFound(1), 1);
    ASSERT_EQ(tvk_getcinffirst(&c), TVK_OK);
    cb = {};
    EXPECT_EQ(tvk_filerecv(inDir, &c), TVK_OK) << log();
    EXPECT_EQ(tvk_geterrinf(), 0);
    EXPECT_TRUE(sameFile("ht1/big.bin", "in/big.bin"));
    EXPECT_TRUE(cb.sawHundred && !cb.wrongNote && cb.names.find("big.bin;") != std::string::npos) << cb.names;
    EXPECT_TRUE(cb.calls > 10 && cb.maxGap < 500ms) << "the pump runs all along the call (every 50 ms, timed loosely)";
    release();
    EXPECT_EQ(tvk_close(), TVK_OK);
}

// Without a pump only the line wakes a waiting call: a stop from another
// thread has to end the wait itself.
TEST_F(LineTest, StopFromAnotherThreadEndsAWaitWithoutAPump) {
    start("box 2\n");
    tvk_setpump(nullptr, nullptr);
    tvk_openparam p = kParams;
    p.lineParamA = 5000;  // the silent box 1 is waited for five seconds
    ASSERT_EQ(tvk_open(0, &p), TVK_OK);
    accept();
    std::thread stopper([] { std::this_thread::sleep_for(100ms), tvk_stopreq(); });
    int32_t mode = 1;
    const auto t0 = Clock::now();
    EXPECT_EQ(tvk_polling(&mode, 1), TVK_ESTOPPED);
    EXPECT_LT(Clock::now() - t0, 600ms) << "the stop ends the wait at once";
    stopper.join();
}

// The slowest line, 7 data bits with even parity (binary data packed into
// 7-bit characters) and the shortest stall timer a user may set: a frame or
// window still crossing the line must not run either side's timers out.
TEST_F(LineTest, SlowSevenBitLineCarriesBinaryFilesBothWaysWithTheShortestTimers) {
    writeBytes("ht1/up.bin", content(60, 21));
    writeBytes("out/down.bin", content(60, 22));
    start(box(1, "", "send " + work.str() + "/ht1") + box(2, " dir=" + work.str() + "/ht2", "recv"),
          {.baud = 1200, .dataBits = 7, .parity = "even", .outage = ""}, {"--seven-bits", "--parity", "even", "--a", "30", "--b", "500"});
    tvk_comminfo down{};
    openAndRead({&c, &down}, {0, 1, 2, 1, 30, 500, 3, 0, 0}, 2);
    EXPECT_EQ((std::pair{tvk_filerecv(inDir, &c), tvk_geterrinf()}), (std::pair<int16_t, int16_t>(TVK_OK, 0))) << log();
    EXPECT_EQ((std::pair{tvk_filesend(outPattern, &down), tvk_geterrinf()}), (std::pair<int16_t, int16_t>(TVK_OK, 0))) << log();
    EXPECT_TRUE(sameFile("ht1/up.bin", "in/up.bin") && sameFile("out/down.bin", "ht2/recv/down.bin"));
}

// The port's lock file (LCK..pts_N for side a's /dev/pts/N, with an HDB PID)
// and exclusive flag against other users of the line.
TEST(PortLock, RefusesOtherUsersWhileOpenAndTakesOverOnlyDeadLocks) {
    ScopedWorkDir dir;
    LineRig rig;
    ::setenv("TVK_LOCK_DIR", dir.str().c_str(), 1);
    const fs::path device = fs::canonical(rig.pathA()), lock = dir.path() / ("LCK..pts_" + device.filename().string());
    auto hdb = [](pid_t pid) {
        char text[16];
        return std::string(text, size_t(std::snprintf(text, sizeof text, "%10d\n", int(pid))));
    };
    auto openElsewhere = [&] {
        pid_t child = ::fork();
        if (child == 0) {  // closed before _exit, which would skip the destructor and leave the line exclusive
            tvk::TermiosPort other;
            const int r = other.open(rig.pathA(), {});
            other.close();
            ::_exit(-r);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? -WEXITSTATUS(status) : 1;
    };
    // lineemu keeps the device open, so an exclusive flag left set would refuse
    // a second open to anyone but root; the probe shows it even to root.
    int probe = ::open(rig.pathA().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), exclusive = -1;
    tvk::TermiosPort port;
    ASSERT_EQ(port.open(rig.pathA(), {}), TVK_OK);
    EXPECT_TRUE(::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive == 1);
    EXPECT_EQ(readBytes(lock), hdb(::getpid()));
    EXPECT_EQ(openElsewhere(), TVK_EBUSY);
    port.close();
    EXPECT_TRUE(::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    EXPECT_FALSE(fs::exists(lock));
    ::close(probe);
    EXPECT_EQ(openElsewhere(), TVK_OK);
    ChildProcess live({"/bin/sleep", "60"}), gone({"/bin/true"});
    ASSERT_TRUE(gone.wait(10s).has_value());
    const std::pair<std::optional<std::string>, int> rows[] = {{hdb(live.pid()), TVK_EBUSY},
        {hdb(1), TVK_EBUSY} /* another user's, unless root */, {hdb(gone.pid()), TVK_OK}, {"garbage\n", TVK_OK},
        {std::nullopt, TVK_OK} /* no lock directory */};
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text.value_or("no lock directory"));
        if (text) writeBytes(lock, *text);
        else ::setenv("TVK_LOCK_DIR", (dir.str() + "/missing").c_str(), 1);
        tvk::TermiosPort other;
        EXPECT_EQ(other.open(rig.pathA(), {}), expected);
        EXPECT_EQ(readBytes(lock), !text ? "" : expected == TVK_OK ? hdb(::getpid()) : *text);
        fs::remove(lock);
    }
    ::unsetenv("TVK_LOCK_DIR");
}
