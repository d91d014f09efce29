// SIGKILL at many moments: while writeSettings replaces hostpc.ini and while
// append jobs are finished. Afterwards hostpc.ini is the old or the new one,
// and every destination of an append holds its old bytes and the new ones
// exactly once. (A kill of the receiving program is an end-to-end test.)
#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "appendjob.h"
#include "faultrig.h"
#include "testprompt.h"

namespace quendril::test::faults {
namespace {

// Starts the worker and waits until it says its work begins: the clock of a
// kill starts there, past its start-up.
ChildProcess startWorker(std::vector<std::string> args) {
    fs::remove("started");
    args.insert(args.begin(), QUENDRIL_FAULT_WORKER);
    args.push_back("started");
    ChildProcess worker(args, {"/dev/null", "/dev/null", "/dev/null"});
    while (!fs::exists("started") && worker.running()) std::this_thread::sleep_for(100us);
    return worker;
}
void killNow(ChildProcess& child) {
    ::kill(child.pid(), SIGKILL);
    child.wait(5000ms);
}

TEST(Kills, HostpcIniIsAlwaysTheOldOrTheNewFile) {
    ScopedWorkDir work;
    std::string contents[2];
    for (int i : {1, 0}) {
        ChildProcess({QUENDRIL_FAULT_WORKER, "--once", i ? "B" : "A"}).wait(10000ms);
        contents[i] = readBytes("hostpc.ini");
    }
    ASSERT_NE(contents[0], contents[1]);
    std::mt19937 rng(2026);
    int saw[2] = {0, 0};
    for (int i = 0; i < 40; ++i) {
        ChildProcess writer = startWorker({});
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
        killNow(writer);
        const std::string now = readBytes("hostpc.ini");
        ASSERT_TRUE(now == contents[0] || now == contents[1]) << "kill " << i << ": hostpc.ini torn, " << now.size();
        ++saw[now == contents[1]];
    }
    EXPECT_TRUE(saw[0] > 0 && saw[1] > 0) << "the kills fell among the writes: " << saw[0] << "/" << saw[1];
}

// A committed append job as a run leaves it when it is killed after telling
// the terminal: copies of four files in TEMP, destinations with old bytes
// (one in another letter case, one missing).
TEST(Kills, AppendIsExactWhereverItIsKilled) {
    ScopedWorkDir work;
    const FileMap old = {{"Sales.dat", content(1000, 1)}, {"COUNT.DAT", content(10, 2)}, {"LOG.TXT", content(200000, 3)}},
                copies = {{"SALES.DAT", content(600000, 4)}, {"count.dat", content(3000, 5)},
                          {"LOG.TXT", content(300000, 6)}, {"NEW.BIN", content(150000, 7)}},
                done = {{"Sales.dat", old.at("Sales.dat") + copies.at("SALES.DAT")},
                        {"COUNT.DAT", old.at("COUNT.DAT") + copies.at("count.dat")},
                        {"LOG.TXT", old.at("LOG.TXT") + copies.at("LOG.TXT")}, {"NEW.BIN", copies.at("NEW.BIN")}};
    const std::string temp = work.str() + "/TEMP", dest = work.str() + "/dest";
    const auto prepare = [&] {
        fs::remove_all(dest);
        fs::remove_all(temp);
        putFiles(dest, old);
        TestPrompt prompt;
        Files files(prompt);
        std::optional<AppendJob> job = AppendJob::begin(files, temp, "HT0001", dest);
        ASSERT_TRUE(job);
        putFiles(job->dir(), copies);
        ASSERT_TRUE(job->commit());
    };
    // The faster of two appends until TEMP empties: neither a cold run nor a sanitized exit stretches the kills.
    long long fullUs = 1000000000;
    for (int i = 0; i < 2; ++i) {
        prepare();
        ChildProcess whole = startWorker({"--resume", temp});
        long long us = 1;
        for (const auto t0 = Clock::now(); !fs::is_empty(temp) && whole.running(); std::this_thread::sleep_for(20us))
            us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count() + 20;
        fullUs = std::min(fullUs, us);
        ASSERT_EQ(whole.wait(30000ms), 0);
        ASSERT_EQ(digestOf(dest), digest(done));
    }
    std::mt19937 rng(2027);
    const int runs = 20;
    int midway = 0;
    for (int i = 0; i < runs; ++i) {
        prepare();
        ChildProcess worker = startWorker({"--resume", temp});
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % fullUs));
        killNow(worker);
        const FileMap atKill = snapshot(dest);
        midway += atKill != old && !(atKill == done && fs::is_empty(temp));
        // The next start finishes the job.
        for (const PendingJob& job : resumePendingAppends(temp)) EXPECT_TRUE(job.appended) << "kill " << i;
        ASSERT_EQ(digestOf(dest), digest(done)) << "kill " << i << ": not exactly once";
        ASSERT_TRUE(fs::is_empty(temp)) << "kill " << i;
    }
    EXPECT_GT(midway, runs / 4) << "the kills fell inside the appends";
}

}  // namespace
}  // namespace quendril::test::faults
