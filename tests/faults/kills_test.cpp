// SIGKILL at random moments: while writeSettings replaces hostpc.ini, while append
// jobs are finished, and while the real program receives a file. Afterwards
// hostpc.ini is the old or the new one, every destination of an append holds
// its old bytes and the new ones exactly once, and every received file is
// complete or absent.
#include <gtest/gtest.h>

#include <signal.h>

#include <random>
#include <thread>

#include "appendjob.h"
#include "faultrig.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test::faults {
namespace {

using namespace std::chrono_literals;

// Kills child at once and reaps it.
void killNow(ChildProcess& child) {
    ::kill(child.pid(), SIGKILL);
    child.wait(5000ms);
}

TEST(Kills, HostpcIniIsAlwaysTheOldOrTheNewFile) {
    ScopedWorkDir work;
    ChildProcess({QUENDRIL_FAULT_WORKER, "--once", "B"}).wait(10000ms);
    const std::string b = readBytes("hostpc.ini");
    ChildProcess({QUENDRIL_FAULT_WORKER, "--once", "A"}).wait(10000ms);
    const std::string a = readBytes("hostpc.ini");
    ASSERT_FALSE(a.empty());
    ASSERT_NE(a, b);
    std::mt19937 rng(2026);
    int sawA = 0, sawB = 0;
    const int runs = 60;
    for (int i = 0; i < runs; ++i) {
        ChildProcess writer({QUENDRIL_FAULT_WORKER}, {"/dev/null", "/dev/null", "/dev/null"});
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 30000));
        killNow(writer);
        const std::string now = readBytes("hostpc.ini");
        ASSERT_TRUE(now == a || now == b) << "run " << i << ": hostpc.ini damaged, " << now.size() << " bytes";
        (now == a ? sawA : sawB)++;
    }
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0) << "the kills fell among the writes";
    std::cout << "[faults] SIGKILL during writeSettings: " << runs << " kills, old/new " << sawA << "/" << sawB
              << ", never damaged\n";
}

// A committed append job as a run leaves it when it is killed after telling
// the terminal: copies of four files in TEMP, destinations with old bytes
// (one in another letter case, one missing).
struct AppendScene {
    fs::path root;
    std::map<std::string, std::string> oldBytes = {
        {"Sales.dat", content(1000, 1)}, {"COUNT.DAT", content(10, 2)}, {"LOG.TXT", content(700000, 3)}};
    std::map<std::string, std::string> copies = {{"SALES.DAT", content(2000000, 4)}, {"count.dat", content(3000, 5)},
                                                 {"LOG.TXT", content(1000000, 6)}, {"NEW.BIN", content(500000, 7)}};
    // Destination name -> what it must hold once the job is done.
    std::map<std::string, std::string> done() const {
        return {{"Sales.dat", oldBytes.at("Sales.dat") + copies.at("SALES.DAT")},
                {"COUNT.DAT", oldBytes.at("COUNT.DAT") + copies.at("count.dat")},
                {"LOG.TXT", oldBytes.at("LOG.TXT") + copies.at("LOG.TXT")},
                {"NEW.BIN", copies.at("NEW.BIN")}};
    }

    void prepare() {
        fs::remove_all(root / "dest");
        fs::remove_all(root / "TEMP");
        for (const auto& [name, bytes] : oldBytes) putFile(root / "dest" / name, bytes);
        TestPrompt prompt;
        Files files(prompt);
        std::optional<AppendJob> job = AppendJob::begin(files, (root / "TEMP").string(), "HT0001", (root / "dest").string());
        ASSERT_TRUE(job);
        for (const auto& [name, bytes] : copies) putFile(fs::path(job->dir()) / name, bytes);
        ASSERT_TRUE(job->commit());
    }
};

// The worker's start-up is not the append: the clock starts when it says
// it begins.
ChildProcess startResuming(const std::string& temp, const fs::path& started) {
    fs::remove(started);
    fs::remove(started.string() + ".done");
    ChildProcess worker({QUENDRIL_FAULT_WORKER, "--resume", temp, started.string()});
    while (!fs::exists(started) && worker.running()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    return worker;
}

TEST(Kills, AppendIsExactWhereverItIsKilled) {
    ScopedWorkDir work;
    AppendScene scene{work.path()};
    const std::string temp = (work.path() / "TEMP").string();
    const fs::path started = work.path() / "started";
    scene.prepare();
    ChildProcess first = startResuming(temp, started);
    const auto t0 = Clock::now();
    while (!fs::exists(started.string() + ".done") && first.running()) std::this_thread::sleep_for(100us);
    const long long fullMs = std::max<long long>(msSince(t0), 1);
    ASSERT_EQ(first.wait(30000ms), 0);
    ASSERT_EQ(digestOf(work.path() / "dest"), digest(scene.done()));

    std::mt19937 rng(2027);
    const int runs = 50;
    int midway = 0, torn = 0;
    for (int i = 0; i < runs; ++i) {
        scene.prepare();
        ChildProcess worker = startResuming(temp, started);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % (fullMs * 1000)));
        killNow(worker);
        const auto atKill = snapshot(work.path() / "dest");
        const bool finished = atKill == scene.done() && fs::is_empty(temp);
        midway += !finished && atKill != scene.oldBytes;
        for (const auto& [name, bytes] : atKill) {
            const auto old = scene.oldBytes.find(name);
            torn += bytes != scene.done().at(name) && (old == scene.oldBytes.end() || bytes != old->second);
        }
        // The next start finishes the job.
        for (const PendingJob& job : resumePendingAppends(temp)) {
            EXPECT_TRUE(job.appended) << "run " << i << ": " << job.jobDir;
        }
        ASSERT_EQ(digestOf(work.path() / "dest"), digest(scene.done())) << "run " << i << ": not exactly once";
        ASSERT_TRUE(fs::is_empty(temp)) << "run " << i;
    }
    EXPECT_GT(midway, runs / 4) << "the kills fell inside the appends";
    std::cout << "[faults] SIGKILL while appending 4 files (3.5 MB) onto 3 old files: " << runs << " kills over "
              << fullMs << " ms; " << midway << " left the job half done, " << torn
              << " a destination torn; after the next start every destination held its old bytes and the new "
                 "ones exactly once\n";
}

#ifdef QUENDRIL_BIN
// hostpc.ini and the ID file for the real program: COM0 at 115200, box 1.
void writeProgramSettings(const fs::path& root) {
    Settings s = defaultSettings();
    s.comPort = "00";
    s.baudCode = "07";
    s.ioBoxCount = "01";
    s.recvDir = (root / "recv").string();
    s.fileKind = "ALL";
    s.lineParamA = "0100";
    s.lineParamB = "05000";
    s.lineParamC = "05";
    TestPrompt prompt;
    Files files(prompt);
    ASSERT_TRUE(writeSettings(files, s));
    writeBytes((root / "HOSTPCID.INF").string(), "hostpcid.inf\r\n&&&&&&,,,\r\n");
}

TEST(Kills, ProgramKilledWhileReceivingLeavesOnlyCompleteFiles) {
    ScopedWorkDir work;
    const fs::path root = work.path();
    const std::map<std::string, std::string> sent = {{"A.TXT", content(2000, 81)}, {"B.BIN", content(300000, 82)}};
    for (const auto& [name, bytes] : sent) putFile(root / "ht" / name, bytes);
    fs::create_directories(root / "recv");
    writeProgramSettings(root);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int partialAtKill = 0;
    const int delaysMs[] = {0, 150, 600};
    for (int delay : delaysMs) {
        SCOPED_TRACE("kill " + std::to_string(delay) + " ms into the receive");
        fs::remove_all(root / "recv");
        fs::create_directories(root / "recv");
        LineSettings s;
        s.baud = 115200;
        FleetLine line(root / "fleet.txt", "box 1 id=HT0001\njob 1 send " + (root / "ht").string() + "\n", s,
                       lineParams(100, 5000, 5));
        ChildProcess program({QUENDRIL_BIN, "AUTO"}, {"/dev/null", (root / "quendril.log").string(),
                                                     (root / "quendril.log").string()});
        const auto limit = Clock::now() + 20s;
        while (Clock::now() < limit && fs::is_empty(root / "recv") && program.running()) {
            std::this_thread::sleep_for(2ms);
        }
        ASSERT_FALSE(fs::is_empty(root / "recv")) << "the receive never started\n"
                                                   << readBytes((root / "quendril.log").string()) << line.htsimLog();
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        killNow(program);
        line.stop();
        EXPECT_EQ(wrongFiles(root / "recv", sent), "");
        partialAtKill += !fs::exists(root / "recv/B.BIN");
    }
    EXPECT_EQ(partialAtKill, 3) << "every kill fell inside the large file's transfer";
    std::cout << "[faults] SIGKILL of quendril AUTO while receiving at 115200: 3 kills, no partial file under a "
                 "final name\n";
}
#endif

}  // namespace
}  // namespace quendril::test::faults
