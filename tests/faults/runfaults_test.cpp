// The program's Execute run (execute with the real library) against htsim
// over lineemu: Cancel at each stage of the run, from a thread of its own as
// the window's Cancel button reaches it, and a full disk while appending.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <functional>

#include "fakeline.h"
#include "faultrig.h"
#include "run.h"
#include "testprompt.h"

namespace quendril::test::faults {
namespace {

// Polls and sends the run makes, counted through its library table.
std::atomic<int> polls{0}, sends{0};
TvkTable countingLibrary() {
    TvkTable t = tvkLibrary();
    t.polling = [](int32_t* mode, int32_t boxes) { return ++polls, tvkLibrary().polling(mode, boxes); };
    t.filesend = [](const char* pattern, CommInfo* info) {
        const int16_t r = tvkLibrary().filesend(pattern, info);
        return ++sends, r;
    };
    return t;
}

class ProgramRun : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure() && line) std::cerr << "htsim.log:\n" << line->log() << "\n";
    }
    // Writes hostpc.ini for COM0 and boxes 1..boxes, starts the line at 2
    // Mbit/s and runs Execute to its end; Cancel comes when cancelWhen says
    // so, or after 30 s.
    void run(const std::string& fleet, int boxes, bool append = false, const std::function<bool()>& cancelWhen = {}) {
        const tvk_openparam p = lineParams(40, 800, 3);
        for (const char* d : {"/ap", "/recv", "/send", "/TEMP"}) fs::create_directories(root + d);
        writeBytes("hostpc.ini", "HOSTPC.INI0" + std::to_string(boxes) + "000708000100400080003\r\n" + root + "/ap\r\n" + root +
                                     "/recv\r\n" + root + "/send\r\nALL\r\nHOSTPCID.INF\r\n" + (append ? "APPEND" : ""));
        line.reset();  // the previous line goes first: it restores the environment it changed
        line = std::make_unique<FleetLine>(root + "/fleet.txt", fleet, LineSettings{.baud = 2000000, .outage = ""}, p);
        polls = sends = 0;
        quendril::Run r(library, view, prompt, root + "/TEMP");
        std::atomic<bool> returned{false};
        Clock::time_point cancelledAt{};
        int pollsAtCancel = 0;
        cancelled = false;
        std::thread canceller([&] {
            for (const auto deadline = Clock::now() + 30s; !returned; std::this_thread::sleep_for(1ms)) {
                if (Clock::now() < deadline && !(cancelWhen && cancelWhen())) continue;
                cancelledAt = Clock::now();
                pollsAtCancel = polls;
                cancelled = true;
                requestStop(r);
                return;
            }
        });
        end = execute(r);
        const auto returnedAt = Clock::now();
        returned = true;
        canceller.join();
        afterCancelMs = cancelled ? std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - cancelledAt).count() : -1;
        pollsAfterCancel = polls - pollsAtCancel;
        tvk_openparam again = p;
        lineFreeAfterRun = tvk_open(0, &again) == TVK_OK;
        tvk_close();
        line->stop();
    }
    ScopedWorkDir work;
    std::string root = work.str();
    TestPrompt prompt;
    RecordingView view{[](const std::string&) {}};
    const TvkTable library = countingLibrary();
    std::unique_ptr<FleetLine> line;
    RunEnd end = RunEnd::AllDone;
    bool cancelled = false, lineFreeAfterRun = false;
    long long afterCancelMs = -1;
    int pollsAfterCancel = 0;
};

// The run ends soon after Cancel, polls no more, frees the port and leaves
// no partial file under a final name and no staged copy; Cancel while the
// run re-polls the terminal it just installed serves nobody else.
TEST_F(ProgramRun, CancelAtEachStageEndsTheRunAndFreesTheLine) {
    const auto big = content(1500000, 61);
    putFiles(root + "/ht", {{"BIG.BIN", big}});
    putFiles(root + "/send", {{"BIG.BIN", big}});
    putFiles(root + "/ap", {{"PROG.EXE", content(5000, 62)}});
    putFiles(root + "/later", {{"LATER.TXT", content(100, 63)}});
    const auto has = [this](const std::string& d) { return fs::exists(root + d) && !fs::is_empty(root + d); };
    const struct {
        const char* stage;
        std::string fleet;
        std::function<bool()> cancelWhen;
        const char* checked;  // a directory that must hold no damaged file
    } cases[] = {
        {"polling", "box 1 id=HT0001 appear=1000000\njob 1 recv\n", [] { return polls >= 5; }, "/recv"},
        {"receive", "box 1 id=HT0001\njob 1 send " + root + "/ht\n", [&] { return has("/recv"); }, "/recv"},
        {"transmit", "box 1 id=HT0001 dir=" + root + "/t1\njob 1 recv\n", [&] { return has("/t1/recv"); }, "/t1/recv"},
        {"re-poll after an install", "box 1 id=HT0001 dir=" + root + "/t2\njob 1 install\nbox 2 id=HT0002\njob 2 send " +
             root + "/later\n", [] { return sends > 0; }, "/recv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stage);
        for (const char* d : {"/recv", "/TEMP"}) fs::remove_all(root + d);
        run(c.fleet, 2, false, c.cancelWhen);
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(end, RunEnd::AllDone);
        EXPECT_LT(afterCancelMs, 500) << "the run ends soon after Cancel";
        EXPECT_LE(pollsAfterCancel, 1) << "no polling after Cancel";
        EXPECT_TRUE(lineFreeAfterRun) << "the run released the port";
        EXPECT_TRUE(fs::is_empty(root + "/TEMP")) << "no staged copies are left";
        EXPECT_EQ(wrongFiles(root + c.checked, {}), "") << "no partial file under its final name";
    }
    EXPECT_EQ(readBytes(root + "/send/BIG.BIN"), big);
    EXPECT_EQ(digestOf(root + "/t2/app"), digestOf(root + "/ap")) << "the install itself completed";
}

// Appending onto a 64 KiB file system that holds the stored file: the failure
// shows in a box whose OK ends the program; the stored file keeps its bytes,
// the received copy stays pending, and the next start appends it once there
// is room.
TEST_F(ProgramRun, FullDiskWhileAppendingKeepsBothFilesUntilThereIsRoom) {
    const std::string recv = root + "/recv", stored = content(40000, 71), arriving = content(40000, 72);
    fs::create_directories(recv);
    if (::mount("tmpfs", recv.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no small file system";
    const std::unique_ptr<const char, void (*)(const char*)> unmount(recv.c_str(), [](const char* d) { ::umount2(d, MNT_DETACH); });
    putFiles(recv, {{"Data.txt", stored}});
    putFiles(root + "/ht", {{"DATA.TXT", arriving}});
    run("box 1 id=HT0001\njob 1 send " + root + "/ht\njob 1 end\n", 1, true);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(end, RunEnd::FileFailed);
    ASSERT_EQ(prompt.shown.size(), 1u) << "the failed append is reported";
    EXPECT_EQ(prompt.shown[0].text, "Not enough free area\r" + recv + "/Data.txt");
    EXPECT_EQ(digestOf(recv), digest({{"Data.txt", stored}}));
    int kept = 0;
    for (const auto& [name, bytes] : snapshot(root + "/TEMP")) kept += bytes == arriving;
    EXPECT_EQ(kept, 1) << "the received copy stays in the temporary directory";
    ASSERT_EQ(::mount(nullptr, recv.c_str(), nullptr, MS_REMOUNT, "size=1m"), 0);
    const std::vector<PendingJob> resumed = resumePendingAppends(root + "/TEMP");
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_TRUE(resumed[0].appended);
    EXPECT_EQ(digestOf(recv), digest({{"Data.txt", stored + arriving}})) << "appended exactly once";
    EXPECT_TRUE(fs::is_empty(root + "/TEMP"));
}

}  // namespace
}  // namespace quendril::test::faults
