// The windowed transfer between a master and a box over an in-process
// line with seeded faults.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
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
        ++ended;
        if (ok) ++endedOk;
    }
};

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
