// The program's Execute run (execute with the real library) against htsim
// over lineemu: a terminal that vanishes, Cancel at each stage of the run and
// a full disk while appending. Cancel comes from a thread of its own, as the
// window's Cancel button reaches a run on its worker thread.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "appendjob.h"
#include "faultrig.h"
#include "run.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test::faults {
namespace {

using namespace std::chrono_literals;

struct Cell {
    int16_t index;
    std::string id;
    int16_t state;
    bool operator==(const Cell&) const = default;
};

// Records the cells and error lines the run shows.
class RecordingView : public NoRunView {
public:
    std::vector<Cell> cells;
    std::function<void(const Cell&)> onCell;
    std::vector<int16_t> errCodes;

    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override {
        if (htid.empty()) return;
        cells.push_back({winNum, htid, stat});
        if (onCell) onCell(cells.back());
    }
    void dispErrStat(const std::string&, int16_t errCode) override { errCodes.push_back(errCode); }
};

// Line calls seen through the run's table: when each job ended, and the
// polls made after Cancel.
struct CallLog {
    std::atomic<int> polls{0};
    std::atomic<bool> sendReturned{false};
    std::atomic<bool> cancelled{false};
    int pollsAfterCancel = 0;
    std::vector<std::pair<int16_t, long long>> recvResults;  // result, ms taken
};
CallLog* calls = nullptr;

int16_t loggedFilesend(char* pattern, CommInfo* info) {
    const int16_t r = tvkLibrary().filesend(pattern, info);
    calls->sendReturned = true;
    return r;
}
int16_t loggedFilerecv(char* dir, CommInfo* info) {
    const auto t0 = Clock::now();
    const int16_t r = tvkLibrary().filerecv(dir, info);
    calls->recvResults.emplace_back(r, msSince(t0));
    return r;
}
int16_t loggedPolling(int32_t* mode, int32_t boxCount) {
    ++calls->polls;
    if (calls->cancelled) ++calls->pollsAfterCancel;
    return tvkLibrary().polling(mode, boxCount);
}

TvkTable loggedLibrary() {
    TvkTable t = tvkLibrary();
    t.filesend = loggedFilesend;
    t.filerecv = loggedFilerecv;
    t.polling = loggedPolling;
    return t;
}

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        calls = &log;
        fs::create_directories(root / "TEMP");
    }
    void TearDown() override {
        calls = nullptr;
        if (HasFailure() && line) std::cerr << "htsim.log:\n" << line->htsimLog() << "\n";
    }

    // hostpc.ini for COM0, boxes 1..boxes, every directory under the work
    // directory; the run reads it itself.
    void writeIni(int boxes, bool append, const tvk_openparam& p) {
        Settings s = defaultSettings();
        s.comPort = "00";
        s.baudCode = "07";
        s.ioBoxCount = (boxes < 10 ? "0" : "") + std::to_string(boxes);
        s.lineParamA = std::to_string(p.lineParamA);
        s.lineParamB = std::to_string(p.lineParamB);
        s.lineParamC = std::to_string(p.lineParamC);
        for (const char* d : {"ap", "recv", "send"}) fs::create_directories(root / d);
        s.apDir = (root / "ap").string();
        s.recvDir = (root / "recv").string();
        s.sendDir = (root / "send").string();
        s.fileKind = "ALL";
        s.appendWord = append ? "APPEND" : "";
        Files files(prompt);
        ASSERT_TRUE(writeSettings(files, s));
    }

    // Starts the line at 2 Mbit/s and runs Execute to its end; Cancel comes
    // when cancelWhen says so or after `limit`.
    void run(const std::string& fleet, int boxes, bool append = false, tvk_openparam p = lineParams(40, 800, 2),
             LineSettings s = fastLine(), const std::function<bool()>& cancelWhen = {}, Clock::duration limit = 30s) {
        writeIni(boxes, append, p);
        // The previous line goes first: it restores the environment it changed.
        line.reset();
        line = std::make_unique<FleetLine>(root / "fleet.txt", fleet, s, p);
        log.cancelled = cancelled = false;
        quendril::Run r(library, view, prompt, (root / "TEMP").string());
        const auto deadline = Clock::now() + limit;
        std::atomic<bool> returned{false};
        Clock::time_point cancelledAt{};
        // Cancel from a thread of its own when cancelWhen says so, or when the
        // run outlives its deadline (then `overran` tells the test).
        std::thread canceller([&] {
            for (; !returned; std::this_thread::sleep_for(1ms)) {
                overran = Clock::now() > deadline;
                if (!overran && !(cancelWhen && cancelWhen())) continue;
                cancelledAt = Clock::now();
                cancelled = log.cancelled = true;
                requestStop(r);
                return;
            }
        });
        end = execute(r);
        const auto returnedAt = Clock::now();
        returned = true;
        canceller.join();
        using std::chrono::milliseconds;
        returnedAfterCancelMs = cancelled ? std::chrono::duration_cast<milliseconds>(returnedAt - cancelledAt).count() : -1;
        tvk_openparam again = p;
        lineFreeAfterRun = tvk_open(0, &again) == TVK_OK;
        tvk_close();
        line->stop();
    }

    // Runs Execute until cancelWhen presses Cancel; the run must end at once,
    // poll no more and leave the port free and no staged copy behind.
    void runAndCancel(const std::string& fleet, const std::function<bool()>& cancelWhen, const std::string& stage) {
        view = RecordingView{};
        log.sendReturned = false;
        log.polls = 0;
        log.pollsAfterCancel = 0;
        for (const char* d : {"recv", "TEMP"}) fs::remove_all(root / d);
        fs::create_directories(root / "TEMP");
        run(fleet, 2, false, lineParams(40, 800, 2), fastLine(), cancelWhen);
        EXPECT_TRUE(cancelled);
        EXPECT_FALSE(overran);
        EXPECT_EQ(end, RunEnd::AllDone);
        EXPECT_LT(returnedAfterCancelMs, 500) << "the run ends soon after Cancel";
        EXPECT_LE(log.pollsAfterCancel, 1) << "no polling after Cancel";
        EXPECT_TRUE(lineFreeAfterRun) << "the run released the port";
        EXPECT_TRUE(fs::is_empty(root / "TEMP")) << "no staged copies are left";
        std::cout << "[faults] program: Cancel during " << stage << ": run ended " << returnedAfterCancelMs
                  << " ms later, " << log.pollsAfterCancel << " polls after it\n";
    }

    static LineSettings fastLine() {
        LineSettings s;
        s.baud = 2000000;
        return s;
    }

    static bool hasEntries(const fs::path& dir) { return fs::exists(dir) && !fs::is_empty(dir); }

    ScopedWorkDir work;
    fs::path root = work.path();
    TestPrompt prompt;
    RecordingView view;
    CallLog log;
    const TvkTable library = loggedLibrary();
    std::unique_ptr<FleetLine> line;
    RunEnd end = RunEnd::AllDone;
    bool cancelled = false;
    bool overran = false;
    long long returnedAfterCancelMs = -1;
    bool lineFreeAfterRun = false;
};

TEST_F(ProgramRun, VanishedTerminalIsShownFailedAndTheRunServesTheNext) {
    const auto gone = content(200000, 51), next = content(3000, 52), last = content(10, 53);
    putFile(root / "ht1/GONE.BIN", gone);
    putFile(root / "ht2/NEXT.TXT", next);
    putFile(root / "ht3/LAST.TXT", last);
    const std::string r = root.string();
    run("box 1 id=HT0001 vanish=30000\njob 1 send " + r + "/ht1\nbox 2 id=HT0002\njob 2 send " + r +
            "/ht2\nbox 3 id=HT0003\njob 3 send " + r + "/ht3\njob 3 end\n",
        3);
    EXPECT_FALSE(cancelled) << "the run ended on the terminal's end of work";
    EXPECT_EQ(end, RunEnd::JobFailed);
    EXPECT_EQ(digestOf(root / "recv"), digest({{"NEXT.TXT", next}, {"LAST.TXT", last}}));
    const std::vector<Cell> finals = {{0, "HT0001", kHtErrorEnd}, {1, "HT0002", kHtDone}, {2, "HT0003", kHtDone}};
    for (const Cell& c : finals) {
        EXPECT_NE(std::find(view.cells.begin(), view.cells.end(), c), view.cells.end()) << c.id << " " << c.state;
    }
    ASSERT_FALSE(log.recvResults.empty());
    EXPECT_LT(log.recvResults.front().first, 0);
    EXPECT_LT(log.recvResults.front().second, 3 * (40 + 800) + 1000) << "the job fails within the timers";
    ASSERT_FALSE(view.errCodes.empty());
    EXPECT_TRUE(view.errCodes.front() & TVK_ES_TIMEOUT) << view.errCodes.front();
    EXPECT_TRUE(fs::is_empty(root / "TEMP"));
    std::cout << "[faults] program: vanished terminal failed after " << log.recvResults.front().second
              << " ms, the next two served\n";
}

TEST_F(ProgramRun, CancelAtEachStageEndsTheRunAndFreesTheLine) {
    struct Case {
        const char* stage;
        std::string fleet;
        std::function<bool()> cancelWhen;
        std::function<void()> check;
    };
    const std::string r = root.string();
    const auto big = content(1500000, 61);
    putFile(root / "ht/BIG.BIN", big);
    putFile(root / "send/BIG.BIN", big);
    const Case cases[] = {
        {"polling", "box 1 id=HT0001 appear=1000000\njob 1 recv\n", [this] { return log.polls >= 5; }, [] {}},
        {"receive", "box 1 id=HT0001\njob 1 send " + r + "/ht\n", [this] { return hasEntries(root / "recv"); },
         [&] {
             EXPECT_FALSE(fs::exists(root / "recv/BIG.BIN")) << "no partial file under its final name";
             EXPECT_EQ(wrongFiles(root / "recv", {}), "");
         }},
        {"transmit", "box 1 id=HT0001 dir=" + r + "/t1\njob 1 recv\n",
         [this] { return hasEntries(root / "t1/recv"); },
         [&] {
             EXPECT_EQ(wrongFiles(root / "t1/recv", {}), "") << "the terminal keeps no partial file";
             EXPECT_TRUE(readBytes((root / "send/BIG.BIN").string()) == big);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        runAndCancel(c.fleet, c.cancelWhen, c.stage);
        c.check();
    }
}

// Cancel while the run re-polls the terminal it just installed: the run must
// end there and serve nobody else.
TEST_F(ProgramRun, CancelDuringTheRepollAfterAnInstallEndsTheRun) {
    const std::string r = root.string();
    const auto prog = content(5000, 62);
    putFile(root / "ap/PROG.EXE", prog);
    putFile(root / "later/LATER.TXT", content(100, 63));
    runAndCancel("box 1 id=HT0001 dir=" + r + "/t2\njob 1 install\nbox 2 id=HT0002\njob 2 send " + r + "/later\n",
                 [this] { return log.sendReturned.load(); }, "the re-poll after an install");
    EXPECT_EQ(digestOf(root / "t2/app"), digest({{"PROG.EXE", prog}})) << "the install itself completed";
    EXPECT_TRUE(fs::is_empty(root / "recv")) << "the terminal after the install is not served";
}

// A noisy line under the whole run: a terminal's cell turns "done" only when
// its files are intact where they were going; a failed job shows red with
// its error word and is asked for again in a later pass.
TEST_F(ProgramRun, NoisyLineNeverShowsAWrongFileAsDone) {
    const std::map<std::string, std::string> fromHt = {{"A.TXT", content(4000, 91)}, {"B.BIN", content(9000, 92)}};
    const std::map<std::string, std::string> toHt = {{"P.LOD", content(6000, 93)}};
    for (const auto& [name, bytes] : fromHt) putFile(root / "ht1" / name, bytes);
    for (const auto& [name, bytes] : toHt) putFile(root / "send" / name, bytes);
    const std::string r = root.string();
    const std::string fleet = "box 1 id=HT0001\njob 1 send " + r + "/ht1 repeat=2\njob 1 end\nbox 2 id=HT0002 dir=" +
                              r + "/t2\njob 2 recv repeat=2\n";
    for (double ber : {1e-4, 1e-3}) {
        SCOPED_TRACE("BER " + std::to_string(ber));
        view = RecordingView{};
        int done = 0, failed = 0;
        view.onCell = [&](const Cell& c) {
            if (c.state == kHtWaiting) return;
            (c.state == kHtDone ? done : failed)++;
            if (c.state != kHtDone) return;
            const bool sender = c.id == "HT0001";
            EXPECT_EQ(digestOf(root / (sender ? "recv" : "t2/recv")), digest(sender ? fromHt : toHt)) << "shown done";
        };
        for (const char* d : {"recv", "t2"}) fs::remove_all(root / d);
        fs::create_directories(root / "recv");
        LineSettings s = fastLine();
        s.bitErrorRate = ber;
        s.seed = 7;
        run(fleet, 2, false, lineParams(40, 800, 3), s, {}, 4s);  // then Cancel ends the run
        EXPECT_EQ(wrongFiles(root / "recv", fromHt), "");
        EXPECT_EQ(wrongFiles(root / "t2/recv", toHt), "");
        int redWithoutWord = 0;
        for (int16_t code : view.errCodes) redWithoutWord += code == 0;
        EXPECT_GE(static_cast<int>(view.errCodes.size()) - redWithoutWord, failed) << "each red cell has its error word";
        EXPECT_GT(done + failed, 0) << "jobs were served";
        std::cout << "[faults] program on a line with BER " << ber << ": " << done << " jobs shown done, " << failed
                  << " shown failed" << (overran ? ", run cancelled at its deadline" : "") << "\n";
    }
}

// Appending onto a 64 KiB file system that holds the stored file: the run
// reports the failure in a box whose OK ends the program.
class FullDiskAppend : public ProgramRun {
protected:
    struct Unmount {
        fs::path dir;
        ~Unmount() {
            if (!dir.empty()) ::umount2(dir.c_str(), MNT_DETACH);
        }
    };

    // False when no such file system can be mounted here.
    bool appendOntoFullDisk() {
        fs::create_directories(root / "recv");
        if (::mount("tmpfs", (root / "recv").c_str(), "tmpfs", 0, "size=64k") != 0) {
            mountError = std::strerror(errno);
            return false;
        }
        unmount.dir = root / "recv";
        putFile(root / "recv/Data.txt", stored);
        putFile(root / "ht/DATA.TXT", arriving);
        run("box 1 id=HT0001\njob 1 send " + root.string() + "/ht\njob 1 end\n", 1, true);
        return true;
    }

    const std::string stored = content(40000, 71), arriving = content(40000, 72);
    std::string mountError;
    Unmount unmount;
};

// The terminal was told: the copy stays pending, whole, and the next start
// appends it once there is room.
TEST_F(FullDiskAppend, KeepsTheStoredFileAndTheReceivedCopyUntilThereIsRoom) {
    if (!appendOntoFullDisk()) GTEST_SKIP() << "no small file system: " << mountError;
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(end, RunEnd::FileFailed);
    ASSERT_EQ(prompt.shown.size(), 1u) << "the failed append is reported";
    EXPECT_EQ(prompt.shown[0].text, "Not enough free area\r" + root.string() + "/recv/Data.txt");
    EXPECT_EQ(digestOf(root / "recv"), digest({{"Data.txt", stored}})) << "the stored file keeps its bytes";
    std::vector<std::string> kept;
    for (const auto& [name, bytes] : snapshot(root / "TEMP")) {
        if (bytes == arriving) kept.push_back(name);
    }
    EXPECT_EQ(kept.size(), 1u) << "the received copy stays in the temporary directory";
    ASSERT_EQ(::mount(nullptr, (root / "recv").c_str(), nullptr, MS_REMOUNT, "size=1m"), 0) << std::strerror(errno);
    const std::vector<PendingJob> resumed = resumePendingAppends((root / "TEMP").string());
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_TRUE(resumed[0].appended);
    EXPECT_EQ(digestOf(root / "recv"), digest({{"Data.txt", stored + arriving}})) << "appended exactly once";
    EXPECT_TRUE(fs::is_empty(root / "TEMP"));
    std::cout << "[faults] program: full disk while appending: reported, program ended, the copy kept; appended "
                 "at the next start once there was room\n";
}

}  // namespace
}  // namespace quendril::test::faults
