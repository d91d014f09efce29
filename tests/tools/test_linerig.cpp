// The rig must never leave a process or a directory behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "linerig.h"
#include "tempdir.h"

using namespace quendril::test;
using namespace std::chrono_literals;

namespace {

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

TEST(ChildProcess, ReportsExitStatusAndStopsStubbornChildren) {
    struct Case {
        const char* script;
        std::chrono::milliseconds grace;
        int status;
    };
    const Case cases[] = {
        {"exit 3", 2000ms, 3},
        {"sleep 30", 2000ms, 128 + SIGTERM},
        {"trap '' TERM; sleep 30 & wait", 200ms, 128 + SIGKILL},
    };
    for (const auto& c : cases) {
        ChildProcess child({"/bin/sh", "-c", c.script});
        pid_t pid = child.pid();
        if (c.status == 3) EXPECT_EQ(child.wait(5000ms), 3);
        else std::this_thread::sleep_for(100ms);  // let the shell set its trap
        EXPECT_EQ(child.stop(c.grace), c.status) << c.script;
        EXPECT_FALSE(alive(pid)) << c.script;
    }
}

TEST(ChildProcess, StopAlsoEndsWhatTheChildStarted) {
    ScopedWorkDir work;
    // A grandchild that ignores SIGTERM and counts into a file while it lives.
    ChildProcess child({"/bin/sh", "-c",
                        "trap '' TERM; (n=0; while :; do n=$((n+1)); echo $n > tick; sleep 0.02; done) & wait"});
    auto tick = [] {
        std::ifstream in("tick");
        long n = -1;
        in >> n;
        return n;
    };
    for (int i = 0; i < 200 && tick() < 2; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_GE(tick(), 2);
    EXPECT_EQ(child.stop(200ms), 128 + SIGKILL);
    long last = tick();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(tick(), last) << "the grandchild still runs";
}

TEST(ChildProcess, WaitGivesUpAtTheTimeoutAndTheDestructorStops) {
    pid_t pid = 0;
    {
        ChildProcess child({"/bin/sleep", "30"});
        pid = child.pid();
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(child.wait(100ms).has_value());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_TRUE(child.running());
    }
    EXPECT_FALSE(alive(pid));
}

TEST(ChildProcess, MissingProgramIsAnError) {
    EXPECT_THROW(ChildProcess({"/nonexistent/program"}), std::runtime_error);
}

TEST(LineRig, ExportsTheComPortAndCleansUp) {
    ::setenv("QUENDRIL_COM1", "/dev/previous", 1);
    ::unsetenv("QUENDRIL_COM0");
    std::string dir;
    {
        LineRig rig;
        dir = rig.dir();
        rig.exportComPort(0);
        rig.exportComPort(1);
        EXPECT_EQ(std::string(std::getenv("QUENDRIL_COM0")), rig.pathA());
        EXPECT_EQ(std::string(std::getenv("QUENDRIL_COM1")), rig.pathA());
        EXPECT_TRUE(std::filesystem::is_symlink(rig.pathB()));
    }
    EXPECT_EQ(std::getenv("QUENDRIL_COM0"), nullptr);
    EXPECT_EQ(std::string(std::getenv("QUENDRIL_COM1")), "/dev/previous");
    EXPECT_FALSE(std::filesystem::exists(dir));
    ::unsetenv("QUENDRIL_COM1");
}

TEST(LineRig, ReportsALineemuThatCannotStart) {
    LineSettings s;
    s.parity = "mark";
    try {
        LineRig rig(s);
        FAIL() << "started with a bad parity";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("bad value for --parity"), std::string::npos) << e.what();
    }
}
