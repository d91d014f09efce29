// The windowed transfer between a master and a box over an in-process
// line with seeded faults.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "channel.h"
#include "master.h"
#include "station.h"
#include "tempdir.h"
#include "testfiles.h"
#include "tervolk.h"

using namespace tvk;
using tvktest::Channel;
using tvktest::Faults;
namespace fs = std::filesystem;

namespace {

using tvktest::readAll;
using tvktest::writeRandomFile;

LineTimers fastTimers(int retries = 6) {
    LineTimers t;
    t.bitsPerSecond = 4000000;  // the channel has no line rate: keep the timers short
    t.responseMs = 60;
    t.progressMs = 1000;
    t.retries = retries;
    return t;
}

// A terminal that sends the files of one directory or stores into another.
class TestTerminal : public Terminal {
public:
    std::string sendDir, recvDir;
    std::atomic<int> ended{0}, endedOk{0};
    std::function<void(bool ok)> onEnded;
    std::optional<Record> answerPoll(bool& idle) override {
        idle = true;
        return std::nullopt;
    }
    std::optional<std::vector<SourceFile>> filesToSend() override {
        bool ok = false;
        auto files = listSendFiles(sendDir, ok);
        if (!ok) return std::nullopt;
        return files;
    }
    std::optional<std::string> receiveDir(const StartJob&) override { return recvDir; }
    void jobEnded(bool ok, size_t, uint64_t) override {
        if (onEnded) onEnded(ok);
        ++ended;
        if (ok) ++endedOk;
    }
};

// The caller's answers to the checks of a receive.
class Checks : public JobChecks {
public:
    std::string refuseName;
    bool refuseCommit = false;
    int commitsAsked = 0;
    bool mayStore(const std::string& name) override { return name != refuseName; }
    bool mayCommit() override {
        ++commitsAsked;
        return !refuseCommit;
    }
};

// The box's end of the line, flipping a bit of a marked byte in the data it
// sends and sealing the frame again: the line delivers it, but the file's
// own checksum no longer matches.
class TamperingPort final : public Port {
public:
    static constexpr std::string_view kMarker = "TAMPER";
    explicit TamperingPort(Port& inner) : inner_(inner) {}
    long readSome(uint8_t* buf, size_t cap) override { return inner_.readSome(buf, cap); }
    long writeSome(const uint8_t* p, size_t n) override {
        std::vector<Frame> frames;
        decoder_.feed(p, n, frames);
        std::vector<uint8_t> out;
        for (Frame& f : frames) {
            auto at = std::search(f.payload.begin(), f.payload.end(), kMarker.begin(), kMarker.end());
            if (at != f.payload.end()) *at ^= 1;
            encodeFrame(f, false, out);
        }
        inner_.writeSome(out.data(), out.size());
        return long(n);
    }
    int wait(bool wantWrite, int ms) override { return inner_.wait(wantWrite, ms); }

private:
    Port& inner_;
    FrameDecoder decoder_{false};
};

// Replaces the disk sync for one test.
struct ScopedDiskSync {
    explicit ScopedDiskSync(DiskSync sync) { setDiskSync(std::move(sync)); }
    ~ScopedDiskSync() { setDiskSync({}); }
};

size_t partFilesIn(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().rfind(".tvk-part-", 0) == 0;
    return n;
}

// The box side runs on its own thread, answering whatever reaches it.
class BoxThread {
public:
    BoxThread(Port& port, Terminal& t) : link_(port, fastTimers()), station_(1, t) {
        link_.setBoxSide(true);
        thread_ = std::thread([this] {
            Frame f;
            while (!quit_) {
                if (link_.receive(f, Clock::now() + Ms(10)) == Got::Frame) station_.handle(link_, f);
            }
        });
    }
    ~BoxThread() {
        quit_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> quit_{false};
    Link link_;
    BoxStation station_;
    std::thread thread_;
};

void makeSourceFiles(const fs::path& dir) {
    fs::create_directories(dir);
    writeRandomFile(dir / "big.bin", 150000, 1);
    writeRandomFile(dir / "mid.dat", 5000, 2);
    writeRandomFile(dir / "empty.txt", 0, 3);
    for (int i = 0; i < 20; ++i) writeRandomFile(dir / ("small" + std::to_string(i)), 100 + size_t(i) * 7, uint32_t(10 + i));
}

void expectSameFiles(const fs::path& a, const fs::path& b, const std::string& what) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(a)) {
        ++n;
        EXPECT_TRUE(readAll(e.path()) == readAll(b / e.path().filename())) << what << ": " << e.path().filename();
    }
    size_t m = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(b)) ++m;
    EXPECT_EQ(n, m) << what;
}

// Final names in dir hold either the source's bytes or nothing.
void expectNoWrongFile(const fs::path& src, const fs::path& dst, const std::string& what) {
    for (const auto& e : fs::directory_iterator(dst)) {
        auto name = e.path().filename();
        ASSERT_TRUE(fs::exists(src / name)) << what << ": stray " << name;
        EXPECT_TRUE(readAll(e.path()) == readAll(src / name)) << what << ": " << name;
    }
}

struct FaultCase {
    const char* what;
    Faults faults;
};

const FaultCase kFaultCases[] = {
    {"clean", {}},
    {"first request lost", {0, 0, 0, 0, 0, 0, 1}},
    {"first answer lost too", {0, 0, 0, 0, 0, 0, 2}},
    {"echoing line", {0, 0, 0, 0, 0, 0, 0, true}},
    {"bit errors", {2e-5, 0, 0, 0, 0, 0}},
    {"dropped frames", {0, 0.05, 0, 0, 0, 0}},
    {"duplicated frames", {0, 0, 0.1, 0, 0, 0}},
    {"reordered frames", {0, 0, 0, 0.1, 0, 0}},
    {"truncated frames", {0, 0, 0, 0, 0.05, 0}},
    {"everything at once", {1e-5, 0.03, 0.03, 0.03, 0.03, 0}},
};

}  // namespace

TEST(Transfer, IntactFilesThroughFaultsInBothDirections) {
    for (bool masterReceives : {true, false}) {
        for (const auto& c : kFaultCases) {
            std::string what = std::string(masterReceives ? "receive, " : "send, ") + c.what;
            quendril::test::ScopedWorkDir wd;
            makeSourceFiles("src");
            fs::create_directory("dst");
            Channel ch(c.faults, masterReceives ? 42 : 7);
            TestTerminal term;
            term.sendDir = "src";
            term.recvDir = "dst";
            BoxThread box(ch.b(), term);
            Link link(ch.a(), fastTimers());
            uint32_t status = 0;
            bool ok = false;
            int r = masterReceives ? receiveFiles(link, 1, "dst", nullptr, status)
                                   : sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status);
            ASSERT_EQ(r, TVK_OK) << what << " status " << status;
            expectSameFiles("src", "dst", what);
            EXPECT_EQ(status & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN | TVK_ES_TIMEOUT), 0u) << what;
            EXPECT_EQ(term.endedOk, 1) << what;
        }
    }
}

TEST(Transfer, LineThatDiesFailsWithTheRightBitsAndNoWrongFile) {
    struct Case {
        const char* what;
        bool masterReceives;
        uint64_t cutAfter;
    } cases[] = {
        {"receive, line dies early", true, 2000},
        {"receive, line dies late", true, 120000},
        {"send, line dies early", false, 2000},
        {"send, line dies late", false, 120000},
    };
    for (const auto& c : cases) {
        quendril::test::ScopedWorkDir wd;
        makeSourceFiles("src");
        fs::create_directory("dst");
        Faults f;
        f.cutAfter = c.cutAfter;
        Channel ch(f, 3);
        TestTerminal term;
        term.sendDir = "src";
        term.recvDir = "dst";
        uint32_t status = 0;
        int r = 0;
        auto t0 = Clock::now();
        {
            BoxThread box(ch.b(), term);
            LineTimers t = fastTimers(2);
            t.progressMs = 600;
            Link link(ch.a(), t);
            bool ok = false;
            r = c.masterReceives ? receiveFiles(link, 1, "dst", nullptr, status)
                                 : sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status);
        }  // the box gives up its job when it leaves
        EXPECT_LT(r, 0) << c.what;
        EXPECT_TRUE(status & (TVK_ES_TIMEOUT | TVK_ES_TRANSFER)) << c.what << " status " << status;
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5)) << c.what;
        expectNoWrongFile("src", "dst", c.what);
    }
}

TEST(Transfer, FrameSizeFollowsTheErrorRateAndLostFramesComeBackInPieces) {
    quendril::test::ScopedWorkDir wd;
    writeRandomFile("big.bin", 400000, 9);
    BatchReader reader({{"big.bin", "big.bin", 400000}}, nullptr);
    WindowSender tx(reader, 1);
    Channel ch;
    Link link(ch.a(), fastTimers());
    auto noInterrupt = [] { return false; };
    const size_t first = tx.frameSize();
    ASSERT_EQ(tx.sendWindow(link, noInterrupt), Got::Frame);
    const size_t sent1 = link.framesSent;
    AckInfo all;
    all.cum = uint16_t(sent1);
    EXPECT_TRUE(tx.applyAck(all));
    EXPECT_EQ(tx.frameSize(), first * 2) << "a clean window doubles the frames";
    ASSERT_EQ(tx.sendWindow(link, noInterrupt), Got::Frame);
    const size_t sent2 = link.framesSent - sent1;
    // Only the last frame of the second window arrived.
    AckInfo most;
    most.cum = all.cum;
    most.set(sent2 - 2);
    EXPECT_TRUE(tx.applyAck(most));
    EXPECT_LT(tx.frameSize(), first / 2) << "a bad window shrinks them";
    EXPECT_GE(tx.frameSize(), kFrameMin);
    ASSERT_EQ(tx.sendWindow(link, noInterrupt), Got::Frame);
    EXPECT_GT(link.framesSent - sent1 - sent2, 2 * (sent2 - 1)) << "the lost frames were resent in pieces";
    EXPECT_EQ(tx.stats().framesResent, sent2 - 1);
    AckInfo nowhere;
    nowhere.cum = uint16_t(all.cum + 200);
    EXPECT_FALSE(tx.applyAck(nowhere)) << "an acknowledgement from nowhere is ignored";
}

TEST(Transfer, HighBitErrorRateStillDeliversIntactFiles) {
    quendril::test::ScopedWorkDir wd;
    makeSourceFiles("src");
    fs::create_directory("dst");
    Faults f;
    f.bitErrorRate = 1e-4;
    Channel ch(f, 11);
    TestTerminal term;
    term.recvDir = "dst";
    BoxThread box(ch.b(), term);
    Link link(ch.a(), fastTimers(6));
    bool ok = false;
    uint32_t status = 0;
    EXPECT_EQ(sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status), TVK_OK);
    expectSameFiles("src", "dst", "high bit-error rate");
}

TEST(Transfer, PeerFloodingGarbageOrEndlessFramesFailsWithinTheTimers) {
    struct Case {
        const char* what;
        bool withDelimiters;
        uint32_t bits;
    } cases[] = {
        {"garbage", true, TVK_ES_TIMEOUT},
        {"endless frame", false, TVK_ES_BUFFULL},
    };
    for (const auto& c : cases) {
        for (bool masterReceives : {true, false}) {
            quendril::test::ScopedWorkDir wd;
            makeSourceFiles("src");
            fs::create_directory("dst");
            Channel ch;
            std::atomic<bool> quit{false};
            std::thread flood([&] {
                std::mt19937 rng(5);
                std::vector<uint8_t> junk(512);
                while (!quit) {
                    for (auto& b : junk) b = c.withDelimiters ? uint8_t(rng()) : uint8_t(rng() | 1);
                    ch.b().writeSome(junk.data(), junk.size());
                    std::this_thread::sleep_for(Ms(1));
                }
            });
            LineTimers t = fastTimers(2);
            t.progressMs = 500;
            Link link(ch.a(), t);
            uint32_t status = 0;
            bool ok = false;
            auto t0 = Clock::now();
            int r = masterReceives ? receiveFiles(link, 1, "dst", nullptr, status)
                                   : sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status);
            auto took = Clock::now() - t0;
            quit = true;
            flood.join();
            EXPECT_LT(r, 0) << c.what;
            status |= link.takeStatus();
            EXPECT_TRUE(status & c.bits) << c.what << " status " << status;
            EXPECT_LT(took, std::chrono::seconds(3)) << c.what;
            EXPECT_TRUE(fs::is_empty("dst")) << c.what;
        }
    }
}

// A peer that keeps answering with frames that never move the job forward:
// each call must still end within its own timers with the proper result.
TEST(Transfer, StaleOrUselessFramesCannotExtendAWait) {
    enum class Job { Receive, Send, Poll };
    struct Case {
        const char* what;
        Job job;
        std::vector<Frame> flood;
        int result;
        uint32_t bits;
    } cases[] = {
        // Data frames outside the window and without the final bit: heard,
        // but the transfer does not move.
        {"frames without final bit",
         Job::Receive,
         {Frame{1, FrameType::Data, false, true, 0x4000, {1, 2, 3}}},
         TVK_EFAIL,
         TVK_ES_TRANSFER},
        // READY starts the job; acknowledgements of an old P frame follow,
        // which leave the window unanswered.
        {"stale acks",
         Job::Send,
         {Frame{1, FrameType::Ready, true, true, 0, {}}, Frame{1, FrameType::Ack, true, true, 0x7777, encodeAck({})}},
         TVK_ETIMEOUT,
         TVK_ES_TIMEOUT},
        // Answers to a poll long gone.
        {"stale poll answers", Job::Poll, {Frame{1, FrameType::Idle, true, true, 0x7777, {}}}, 0, 0},
    };
    for (const auto& c : cases) {
        quendril::test::ScopedWorkDir wd;
        makeSourceFiles("src");
        fs::create_directory("dst");
        Channel ch;
        LineTimers t = fastTimers(2);
        t.progressMs = 300;
        std::atomic<bool> quit{false};
        std::thread flood([&] {
            Link peer(ch.b(), t);
            peer.setBoxSide(true);
            while (!quit)
                for (const Frame& f : c.flood) {
                    peer.send(f);
                    std::this_thread::sleep_for(Ms(2));
                }
        });
        Link link(ch.a(), t);
        uint32_t status = 0;
        int r = 0;
        Record rec;
        BoxAnswer answer = BoxAnswer::Terminal;
        bool ok = false;
        auto t0 = Clock::now();
        switch (c.job) {
        case Job::Receive: r = receiveFiles(link, 1, "dst", nullptr, status); break;
        case Job::Send: r = sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status); break;
        case Job::Poll: answer = pollBox(link, 1, rec); break;
        }
        auto took = Clock::now() - t0;
        quit = true;
        flood.join();
        // Three turns of lineParamB at most, with room for a loaded machine.
        EXPECT_LT(took, Ms(3 * t.progressMs + 1500)) << c.what;
        if (c.job == Job::Poll) {
            EXPECT_EQ(answer, BoxAnswer::Silent) << c.what;
            continue;
        }
        EXPECT_EQ(r, c.result) << c.what;
        EXPECT_TRUE(status & c.bits) << c.what << " status " << status;
        EXPECT_TRUE(fs::is_empty("dst")) << c.what;
    }
}

// One job between the master and a box thread in a fresh directory: the
// box sends the files of src, or stores into dst.
struct JobRig {
    quendril::test::ScopedWorkDir wd;
    Channel ch;
    TestTerminal term;
    TamperingPort tampering{ch.b()};
    std::unique_ptr<BoxThread> box;
    Link link{ch.a(), fastTimers()};
    uint32_t status = 0;
    JobRig() {
        fs::create_directories("src");
        fs::create_directories("dst");
        term.sendDir = "src";
        term.recvDir = "dst";
    }
    int receive(const ReceiveOptions& options = {}, bool tamper = false) {
        box = std::make_unique<BoxThread>(tamper ? tampering : ch.b(), term);
        return receiveFiles(link, 1, "dst", nullptr, status, options);
    }
    int send() {
        box = std::make_unique<BoxThread>(ch.b(), term);
        bool ok = false;
        return sendFiles(link, 1, listSendFiles("src", ok), 3, nullptr, status);
    }
};

// A file the master cannot store fails the job: the master says why, the
// terminal hears of it and keeps its data, and the job's other files arrive.
TEST(Transfer, AFileTheMasterCannotStoreFailsTheJobAndTheTerminalKeepsItsData) {
    enum class InTheWay { Nothing, Directory, Link, DanglingLink };
    struct Case {
        const char* what;
        InTheWay inTheWay;
        bool refuseStore, refuseCommit, tamper;
        uint32_t bits;
    } cases[] = {
        {"refused by the store check", InTheWay::Nothing, true, false, false, TVK_ES_FILEOPEN},
        {"a directory in the way", InTheWay::Directory, false, false, false, TVK_ES_FILEOPEN},
        {"a link to a file in the way", InTheWay::Link, false, false, false, TVK_ES_FILEOPEN},
        {"a dangling link in the way", InTheWay::DanglingLink, false, false, false, TVK_ES_FILEOPEN},
        {"checksum mismatch", InTheWay::Nothing, false, false, true, TVK_ES_TRANSFER},
        {"commit refused", InTheWay::Nothing, false, true, false, TVK_ES_FILEOPEN},
    };
    for (const auto& c : cases) {
        JobRig rig;
        writeRandomFile("src/a.txt", 100, 1);
        std::ofstream("src/victim", std::ios::binary) << "data " << TamperingPort::kMarker << " data";
        writeRandomFile("src/z.bin", 30000, 2);
        std::ofstream("target") << "TARGET";
        if (c.inTheWay == InTheWay::Directory) fs::create_directory("dst/victim");
        if (c.inTheWay == InTheWay::Link) fs::create_symlink("../target", "dst/victim");
        if (c.inTheWay == InTheWay::DanglingLink) fs::create_symlink("../nowhere", "dst/victim");
        Checks checks;
        if (c.refuseStore) checks.refuseName = "victim";
        checks.refuseCommit = c.refuseCommit;
        ReceiveOptions options;
        options.checks = &checks;
        EXPECT_EQ(rig.receive(options, c.tamper), TVK_EFAIL) << c.what;
        EXPECT_EQ(rig.status & (TVK_ES_FILEOPEN | TVK_ES_TRANSFER | TVK_ES_PROTOCOL | TVK_ES_TIMEOUT), c.bits) << c.what;
        EXPECT_EQ(rig.term.ended, 1) << c.what;
        EXPECT_EQ(rig.term.endedOk, 0) << c.what << ": the terminal keeps its data";
        EXPECT_EQ(checks.commitsAsked, c.refuseCommit ? 1 : 0) << c.what << ": asked only when every file is stored";
        EXPECT_TRUE(readAll("dst/a.txt") == readAll("src/a.txt")) << c.what;
        EXPECT_TRUE(readAll("dst/z.bin") == readAll("src/z.bin")) << c.what;
        EXPECT_EQ(fs::exists(fs::symlink_status("dst/victim")), c.refuseCommit || c.inTheWay != InTheWay::Nothing)
            << c.what;
        EXPECT_EQ(fs::is_directory("dst/victim"), c.inTheWay == InTheWay::Directory) << c.what;
        EXPECT_EQ(fs::is_symlink("dst/victim"), c.inTheWay == InTheWay::Link || c.inTheWay == InTheWay::DanglingLink)
            << c.what;
        EXPECT_EQ(readAll("target"), "TARGET") << c.what;
        EXPECT_FALSE(fs::exists("nowhere")) << c.what;
        EXPECT_EQ(partFilesIn("dst"), 0u) << c.what;
    }
}

// The box runs no watchdog in these rigs: only the master's abort ends its job.
void expectBoxJobFailed(JobRig& rig) {
    for (auto until = Clock::now() + std::chrono::seconds(5); rig.term.ended == 0 && Clock::now() < until;)
        std::this_thread::sleep_for(Ms(5));
    EXPECT_EQ(rig.term.ended, 1);
    EXPECT_EQ(rig.term.endedOk, 0);
}

// The first file fails; the master stops the rest and tells the box, which
// drops the file it was receiving at once.
TEST(Transfer, ABoxThatCannotStoreAFileFailsTheMastersSend) {
    JobRig rig;
    writeRandomFile("src/a.victim", 100, 1);
    writeRandomFile("src/z.bin", 300000, 2);
    fs::create_directory("dst/a.victim");
    EXPECT_EQ(rig.send(), TVK_EFAIL);
    EXPECT_TRUE(rig.status & TVK_ES_TRANSFER) << rig.status;
    EXPECT_TRUE(fs::is_directory("dst/a.victim"));
    EXPECT_FALSE(fs::exists("dst/z.bin"));
    expectBoxJobFailed(rig);
    EXPECT_EQ(partFilesIn("dst"), 0u);
}

TEST(Transfer, ATerminalThatSendsMoreThanItAnnouncedIsAborted) {
    JobRig rig;
    writeRandomFile("src/a.txt", 100, 1);
    writeRandomFile("src/z.bin", 150000, 2);
    ReceiveOptions options;
    options.announced = 100 + 1000;
    EXPECT_EQ(rig.receive(options), TVK_EFAIL);
    EXPECT_TRUE(rig.status & TVK_ES_OVERSIZE) << rig.status;
    EXPECT_TRUE(readAll("dst/a.txt") == readAll("src/a.txt")) << "what was stored before stays";
    EXPECT_FALSE(fs::exists("dst/z.bin"));
    EXPECT_EQ(partFilesIn("dst"), 0u);
    expectBoxJobFailed(rig);
}

// The terminal may delete a file once it is told that the file arrived, so
// the file is synced, renamed and its directory synced before that; a slow
// disk holds the acknowledgement back.
TEST(Transfer, TheTerminalHearsOfAFileOnlyOnceItIsOnDisk) {
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const std::string& e) {
        std::lock_guard<std::mutex> l(m);
        events.push_back(e);
    };
    JobRig rig;
    writeRandomFile("src/one.bin", 20000, 1);
    ScopedDiskSync sync([&](int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        const char* renamed = fs::exists("dst/one.bin") ? " after the rename" : " before the rename";
        if (!S_ISDIR(st.st_mode)) {
            note(std::string("file synced") + renamed);
            return true;
        }
        note(std::string("directory sync") + renamed);
        std::this_thread::sleep_for(Ms(300));
        note("directory synced");
        return true;
    });
    rig.term.onEnded = [&](bool ok) { note(ok ? "terminal told: stored" : "terminal told: failed"); };
    EXPECT_EQ(rig.receive(), TVK_OK) << rig.status;
    std::lock_guard<std::mutex> l(m);
    EXPECT_EQ(events, (std::vector<std::string>{"file synced before the rename", "directory sync after the rename",
                                                "directory synced", "terminal told: stored"}));
}
