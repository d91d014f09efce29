// The windowed transfer between a master and a box over an in-process line
// with seeded faults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <condition_variable>
#include <deque>
#include <functional>
#include <random>
#include <thread>
#include "boxrig.h"
#include "filebytes.h"
#include "master.h"
#include "memline.h"
#include "tempdir.h"
#include "tervolk.h"
#include "transfer.h"
#include "tvkline.h"

using namespace tvk;
using namespace quendril::test;
namespace fs = std::filesystem;

namespace {
// The channel has no line rate: keep the timers short.
LineTimers fastTimers(int retries = 6, int progressMs = 1000) {
    return {.bitsPerSecond = 4000000, .responseMs = 60, .progressMs = progressMs, .retries = retries};
}

// The master's answers to a receive's checks, and what the box's terminal
// heard of its jobs.
struct TestTerminal : JobChecks {
    std::atomic<int> ended{0}, endedOk{0};
    std::function<void(bool)> onEnded;
    std::string refuseName;
    bool refuseCommit = false;
    int commitsAsked = 0;
    void jobEnded(bool stored) {
        if (onEnded) onEnded(stored);
        endedOk += stored, ++ended;
    }
    bool mayStore(const std::string& name) override { return name != refuseName; }
    bool mayCommit() override { return ++commitsAsked, !refuseCommit; }
};

// One job between the master and a box thread in a fresh directory.
struct JobRig {
    ScopedWorkDir wd;
    Channel ch;
    TestTerminal term;
    std::unique_ptr<BoxThread> box;
    LineTimers timers = fastTimers();
    uint32_t status = 0;
    bool versionOneBox = false;
    BoxProtocol protocol;
    size_t repaired = 0;  // frames that error correction set right, on the receiving side
    // Large, mid-sized, empty and small files, or the caller's.
    explicit JobRig(Faults f = {}, uint32_t seed = 1, bool withFiles = false) : ch(f, seed) {
        fs::create_directories("dst");
        fs::create_directories("src");
        for (size_t i = 0; withFiles && i < 5; ++i)
            writeBytes("src/f" + std::to_string(i), content(i == 0 ? 20000 : i == 1 ? 3000 : i * 50 - 100, unsigned(i)));
    }
    int run(bool masterReceives, const ReceiveOptions& options = {}, bool sameBox = false) {
        if (!sameBox) {
            box = std::make_unique<BoxThread>(ch.b, BoxSetup{.versionOne = versionOneBox, .sevenBits = timers.sevenBits});
            box->box.term.onEnded = [this](bool stored) { term.jobEnded(stored); };
        }
        Link link(ch.a, timers);
        bool ok = false;
        JobChecks yes;  // the library's own answers where the test gives none
        const ReceiveOptions withChecks = options.checks ? options : ReceiveOptions{options.announced, &yes};
        int r = masterReceives ? receiveFiles(link, 1, "dst", nullptr, status, protocol, withChecks)
                               : sendFiles(link, 1, listSendFiles("src", ok, &yes), 3, nullptr, status, protocol);
        repaired = masterReceives ? link.repairedFrames() : tvkbox_repaired_frames(&box->box.box);
        return r;
    }
    // Final names in dst hold the source's bytes; all of them when `all`.
    void expectFiles(bool all) {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator("dst")) {
            EXPECT_EQ(readBytes(e.path()), readBytes("src" / e.path().filename())) << e.path();
            ++n;
        }
        EXPECT_TRUE(!all || n == size_t(std::distance(fs::directory_iterator("src"), {})));
    }
    // The master's abort, or the box's watchdog, ends the box's job.
    void expectFailedWithoutPartFiles() {
        for (auto until = Clock::now() + std::chrono::seconds(5); term.ended == 0 && Clock::now() < until;)
            std::this_thread::sleep_for(Ms(5));
        EXPECT_EQ(std::pair(term.ended.load(), term.endedOk.load()), std::pair(1, 0));
        for (const auto& e : fs::directory_iterator("dst"))
            EXPECT_FALSE(e.path().filename().string().starts_with(".tvk-part-"));
    }
};
}  // namespace

TEST(Transfer, IntactFilesThroughFaultsInBothDirections) {
    const std::pair<const char*, Faults> cases[] = {{"first request lost", {.dropFirst = 1}},
        {"first answer lost too", {.dropFirst = 2}}, {"echoing line", {.echo = true}}, {"7-bit line", {}},
        {"bit errors", {.bitErrorRate = 1e-4}}, {"dropped frames", {.dropRate = 0.05}},
        {"duplicated frames", {.dupRate = 0.1}}, {"truncated frames", {.truncRate = 0.05}},
        {"reordered frames", {.reorderRate = 0.1}}, {"version-1 box, bit errors", {.bitErrorRate = 1e-4}},
        {"version-1 box, first answer lost", {.dropFirst = 2}}};
    for (bool masterReceives : {true, false})
        for (const auto& [what, faults] : cases) {
            SCOPED_TRACE(std::string(masterReceives ? "receive, " : "send, ") + what);
            JobRig rig(faults, masterReceives ? 42 : 7, true);
            rig.timers.sevenBits = what[0] == '7';
            rig.versionOneBox = what[0] == 'v';
            ASSERT_EQ(rig.run(masterReceives), TVK_OK) << rig.status;
            rig.expectFiles(true);
            EXPECT_EQ(rig.status & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN | TVK_ES_TIMEOUT), 0u);
            EXPECT_EQ(rig.term.endedOk, 1);
            EXPECT_EQ(rig.protocol.versionOne, rig.versionOneBox) << "the master falls back for a version-1 box only";
            // On a noisy line error correction turns on, if both sides have it.
            if (faults.bitErrorRate > 0) {
                EXPECT_EQ(rig.repaired > 0, !rig.versionOneBox) << rig.repaired;
            }
        }
}

TEST(Transfer, LineThatDiesFailsWithTheRightBitsAndNoWrongFile) {
    for (bool masterReceives : {true, false})
        for (uint64_t cut : {1, 2000, 15000}) {
            SCOPED_TRACE(std::to_string(masterReceives) + " " + std::to_string(cut));
            JobRig rig({.cutAfter = cut}, 3, true);
            rig.timers = fastTimers(2, 600);
            auto t0 = Clock::now();
            EXPECT_LT(rig.run(masterReceives), 0);
            EXPECT_TRUE(rig.status & (TVK_ES_TIMEOUT | TVK_ES_TRANSFER)) << rig.status;
            EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
            rig.expectFiles(false);
            // The line comes back; the release was lost, but the next poll
            // ends the job the box still holds, and the job runs afresh.
            {
                std::lock_guard l(rig.ch.m);
                rig.ch.faults.cutAfter = 0;
            }
            Link link(rig.ch.a, rig.timers);
            Record rec;
            EXPECT_EQ(pollBox(link, 1, rec), BoxAnswer::Idle);
            EXPECT_EQ(rig.term.endedOk, 0);
            if (cut > 1) rig.expectFailedWithoutPartFiles();  // the first characters brought it a job
            rig.status = 0;
            EXPECT_EQ(rig.run(masterReceives, {}, true), TVK_OK) << rig.status;
            rig.expectFiles(true);
        }
}

TEST(Transfer, FrameSizeFollowsTheErrorRateAndLostFramesComeBackInPieces) {
    ScopedWorkDir wd;
    writeBytes("big.bin", content(400000, 9));
    BatchReader reader({{"big.bin", "big.bin", 400000}}, nullptr);
    WindowSender tx(reader, 1);
    Channel ch;
    Link link(ch.a, fastTimers());
    const size_t first = tx.frameSize();
    ASSERT_EQ(tx.sendWindow(link), Got::Frame);
    const size_t sent1 = link.framesSent;
    AckInfo all{uint16_t(sent1), {}, 0};
    EXPECT_TRUE(tx.applyAck(all));
    EXPECT_EQ(tx.frameSize(), first * 2);
    ASSERT_EQ(tx.sendWindow(link), Got::Frame);
    const size_t sent2 = link.framesSent - sent1;
    AckInfo most = all;  // only the last frame of the second window arrived
    most.set(sent2 - 2);
    EXPECT_TRUE(tx.applyAck(most));
    EXPECT_LT(tx.frameSize(), first / 2);
    EXPECT_GE(tx.frameSize(), kFrameMin);
    ASSERT_EQ(tx.sendWindow(link), Got::Frame);
    EXPECT_GT(link.framesSent - sent1 - sent2, 2 * (sent2 - 1)) << "resent in pieces";
    EXPECT_EQ(tx.stats().framesResent, sent2 - 1);
    EXPECT_FALSE(tx.applyAck({uint16_t(all.cum + 200), {}, 0}));
}

// The sender's shape for a measured error rate, in integers on both sides.
// The expected shapes are those of the floating-point model (maximum of
// payload per line character over sizes and strengths) that it replaced.
TEST(Transfer, FrameShapeFollowsTheErrorRateAndRecoversOnACleanLine) {
    struct Case {
        double perChar;
        uint32_t cap, frameMax;
        int maxStrength;
        uint32_t size;
        int strength;
    };
    const Case cases[] = {
        {1e-7, 4096, 4160, 8, 4096, 0}, {1e-6, 4096, 4160, 8, 3316, 0}, {1e-5, 4096, 4160, 8, 4096, 1},
        {1e-5, 4096, 4160, 0, 1048, 0}, {1e-4, 4096, 4160, 8, 2048, 1}, {1e-4, 4096, 4160, 0, 331, 0},
        {3e-4, 4096, 4160, 8, 2048, 2}, {1e-3, 4096, 4160, 8, 1024, 2}, {1e-3, 4096, 4160, 0, 104, 0},
        {3e-3, 4096, 4160, 8, 1024, 4}, {3e-3, 1024, 1024, 8, 972, 5},  {1e-2, 4096, 4160, 8, 512, 6},
        {1e-2, 4096, 4160, 0, 64, 0},   {3e-2, 4096, 4160, 8, 128, 8},  {0.5, 4096, 4160, 8, 64, 8},
        {3e-5, 1024, 1024, 8, 1011, 1}, {3e-5, 1024, 1024, 4, 1011, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.perChar) + " " + std::to_string(c.cap) + " " + std::to_string(c.maxStrength));
        tvk_shape s;
        tvk_shape_init(&s, c.cap, 65536, c.frameMax, c.maxStrength);
        const size_t chars = 100000000;
        tvk_shape_adapt(&s, 0, 10, chars, uint32_t(c.perChar * chars));
        EXPECT_NEAR(s.frame_size, c.size, c.size / 200.0);
        EXPECT_EQ(s.strength, c.strength);
        EXPECT_LE(s.frame_size, tvk_max_payload_at(c.frameMax, s.strength));
    }
    // The largest protected payload: its block fits the plain body of the
    // largest frame, one byte more would not.
    for (size_t frameMax : {64, 288, 1011, 1024, 4160})
        for (int t = 0; t <= TVK_STRENGTH_MAX; ++t) {
            const size_t most = tvk_max_payload_at(frameMax, t), body = kHeaderLen + kCrcLen;
            EXPECT_LE(tvk_fec_length(body + most, t), body + frameMax) << frameMax << " " << t;
            EXPECT_GT(tvk_fec_length(body + most + 1, t), body + frameMax) << frameMax << " " << t;
        }

    // Clean windows double frames and windows up to their caps; a window
    // mostly lost halves the window, never below four frames; clean
    // windows after it bring frames back and error correction off.
    tvk_shape s;
    tvk_shape_init(&s, 2304, 20000, 4160, 8);
    EXPECT_EQ(s.frame_size, 1024u);
    EXPECT_EQ(s.window_bytes, 16384u);
    tvk_shape_adapt(&s, 0, 16, 17000, 0);
    EXPECT_EQ(s.frame_size, 2048u);
    EXPECT_EQ(s.window_bytes, 20000u);
    tvk_shape_adapt(&s, 0, 8, 17000, 0);
    EXPECT_EQ(s.frame_size, 2304u);
    tvk_shape_adapt(&s, 9, 10, 20000, 400);  // a burst: most of the window lost
    EXPECT_GT(s.strength, 0);
    EXPECT_LT(s.frame_size, 2304u);
    EXPECT_EQ(s.window_bytes, std::max(10000u, 4 * s.frame_size));
    const uint32_t corrected = 400;
    tvk_shape_adapt(&s, 0, 8, 20000, corrected);  // one clean window halves the estimate only
    EXPECT_GT(s.strength, 0);
    int clean = 1;
    while ((s.strength > 0 || s.frame_size < 2304u) && clean < 40) tvk_shape_adapt(&s, 0, 8, 20000, corrected), ++clean;
    EXPECT_EQ(s.strength, 0);
    EXPECT_EQ(s.frame_size, 2304u);
    EXPECT_GT(clean, 8);
    EXPECT_LT(clean, 20);
    EXPECT_EQ(s.window_bytes, 20000u);
}

// A peer flooding garbage, endless frames or frames that never move the job
// forward: each call still ends within its own timers with the proper result.
TEST(Transfer, FloodsAndUselessFramesCannotExtendAWait) {
    enum Job { Receive, Send, Poll, Release };
    const Frame stale{1, FrameType::Ack, true, true, 0x7777, encodeAck({}, false)};
    const std::tuple<Job, std::vector<Frame>, uint8_t, int, uint32_t> cases[] = {
        {Receive, {}, 0, 0, TVK_ES_TIMEOUT},  // garbage
        {Send, {}, 0, 0, TVK_ES_TIMEOUT},
        {Receive, {}, 1, 0, TVK_ES_BUFFULL},  // an endless frame
        {Send, {}, 1, 0, TVK_ES_BUFFULL},
        // heard, but outside the window and without the final bit
        {Receive, {Frame{1, FrameType::Data, false, true, 0x4000, {1, 2, 3}}}, 0, TVK_EFAIL, TVK_ES_TRANSFER},
        // READY starts the job; acknowledgements of an old P frame leave the window unanswered
        {Send, {Frame{1, FrameType::Ready, true, true, 0, {}}, stale}, 0, TVK_ETIMEOUT, TVK_ES_TIMEOUT},
        {Poll, {Frame{1, FrameType::Idle, true, true, 0x7777, {}}}, 0, 0, 0},  // answers to a poll long gone
        {Release, {}, 0, 0, 0},
    };
    for (const auto& [job, flood, noDelimiter, result, bits] : cases) {
        SCOPED_TRACE(std::to_string(job) + " " + std::to_string(flood.size()) + " " + std::to_string(noDelimiter));
        JobRig rig({}, 1, true);
        LineTimers t = fastTimers(2, 300);
        std::atomic<bool> quit{false};
        std::thread peerThread([&, &flood = flood, noDelimiter = noDelimiter] {
            Link peer(rig.ch.b, t);
            peer.setBoxSide(true);
            std::mt19937 rng(5);
            std::vector<uint8_t> junk(512);
            while (!quit) {
                for (auto& b : junk) b = uint8_t(rng() | noDelimiter);
                if (flood.empty()) rig.ch.b.writeSome(junk.data(), junk.size());
                for (const Frame& f : flood) peer.send(f);
                std::this_thread::sleep_for(Ms(2));
            }
        });
        Link link(rig.ch.a, t);
        Record rec;
        bool ok = false;
        auto t0 = Clock::now();
        BoxProtocol protocol;
        int r = job == Receive ? receiveFiles(link, 1, "dst", nullptr, rig.status, protocol)
              : job == Send    ? sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, rig.status, protocol)
              : job == Poll    ? int(pollBox(link, 1, rec) == BoxAnswer::Silent) - 1
                               : int(releaseBox(link, 1)) - 1;
        auto took = Clock::now() - t0;
        quit = true;
        peerThread.join();
        EXPECT_LT(took, Ms(3 * t.progressMs + 1500));
        EXPECT_EQ(r, job == Poll ? 0 : result ? result : std::min(r, -1));
        EXPECT_EQ((rig.status | link.takeStatus()) & bits, bits) << rig.status;
        EXPECT_TRUE(fs::is_empty("dst"));
    }
}

// A file the master cannot store fails the job: the master says why, the
// terminal hears of it and keeps its data, and the job's other files arrive.
TEST(Transfer, AFileTheMasterCannotStoreFailsTheJobAndTheTerminalKeepsItsData) {
    enum InTheWay { Nothing, Directory, Link, Refused, CommitRefused };
    for (InTheWay how : {Nothing, Directory, Link, Refused, CommitRefused}) {
        SCOPED_TRACE(how);
        JobRig rig;
        writeBytes("src/a.txt", content(100, 1));
        writeBytes("src/victim", content(100, 2));
        writeBytes("src/z.bin", content(30000, 3));
        writeBytes("target", "TARGET");
        if (how == Directory) fs::create_directory("dst/victim");
        if (how == Link) fs::create_symlink("../target", "dst/victim");
        rig.term.refuseName = how == Refused ? "victim" : "";
        rig.term.refuseCommit = how == CommitRefused;
        ReceiveOptions options;
        options.checks = &rig.term;
        if (how == Nothing) options.announced = 200 + 1000;  // the terminal sends more than it announced
        EXPECT_EQ(rig.run(true, options), TVK_EFAIL);
        EXPECT_EQ(rig.status & (TVK_ES_FILEOPEN | TVK_ES_TRANSFER | TVK_ES_PROTOCOL | TVK_ES_TIMEOUT | TVK_ES_OVERSIZE),
                  uint32_t(how == Nothing ? TVK_ES_OVERSIZE : TVK_ES_FILEOPEN));
        rig.expectFailedWithoutPartFiles();
        EXPECT_EQ(rig.term.commitsAsked, how == CommitRefused);
        EXPECT_EQ(readBytes("dst/a.txt"), readBytes("src/a.txt"));
        EXPECT_EQ(readBytes("dst/z.bin"), how == Nothing ? "" : readBytes("src/z.bin"));
        EXPECT_EQ(fs::exists(fs::symlink_status("dst/victim")), how != Refused);
        EXPECT_EQ(fs::is_directory("dst/victim"), how == Directory);
        EXPECT_EQ(fs::is_symlink("dst/victim"), how == Link);
        EXPECT_EQ(readBytes("target"), "TARGET");
    }
}

// The first file fails at the box; the master stops the rest and tells the
// box, which drops the file it was receiving at once.
TEST(Transfer, ABoxThatCannotStoreAFileFailsTheMastersSend) {
    JobRig rig;
    writeBytes("src/a.victim", content(100, 1));
    writeBytes("src/z.bin", content(300000, 2));
    fs::create_directory("dst/a.victim");
    EXPECT_EQ(rig.run(false), TVK_EFAIL);
    EXPECT_TRUE(rig.status & TVK_ES_TRANSFER) << rig.status;
    EXPECT_TRUE(fs::is_directory("dst/a.victim"));
    EXPECT_FALSE(fs::exists("dst/z.bin"));
    rig.expectFailedWithoutPartFiles();
}

// The terminal may delete a file once told it arrived, so the file is synced,
// renamed and its directory synced first; a slow disk holds the answer back.
TEST(Transfer, TheTerminalHearsOfAFileOnlyOnceItIsOnDisk) {
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const std::string& e) { std::lock_guard l(m); events.push_back(e); };
    JobRig rig;
    writeBytes("src/one.bin", content(20000, 1));
    setDiskSync([&](int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        note((S_ISDIR(st.st_mode) ? "directory sync" : "file synced") +
             std::string(fs::exists("dst/one.bin") ? " after the rename" : " before the rename"));
        if (S_ISDIR(st.st_mode)) std::this_thread::sleep_for(Ms(300)), note("directory synced");
        return true;
    });
    rig.term.onEnded = [&](bool ok) { note(ok ? "terminal told: stored" : "terminal told: failed"); };
    EXPECT_EQ(rig.run(true), TVK_OK) << rig.status;
    setDiskSync({});
    std::lock_guard l(m);
    EXPECT_EQ(events, (std::vector<std::string>{"file synced before the rename", "directory sync after the rename",
                                                "directory synced", "terminal told: stored"}));
}
