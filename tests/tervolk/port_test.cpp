// The serial port's locking against other users of the line, on a
// pseudo-terminal from lineemu.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "linerig.h"
#include "tempdir.h"
#include "termiosport.h"
#include "testfiles.h"
#include "tervolk.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quendril::test::ChildProcess;
using quendril::test::LineRig;
using tvktest::readAll;

namespace {

// Lock files go to a directory of the test's own.
class PortLock : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("TVK_LOCK_DIR")) saved_ = old;
        ::setenv("TVK_LOCK_DIR", dir_.str().c_str(), 1);
    }
    void TearDown() override {
        if (saved_) ::setenv("TVK_LOCK_DIR", saved_->c_str(), 1);
        else ::unsetenv("TVK_LOCK_DIR");
    }

    // Side a is a symlink to /dev/pts/N, whose lock is LCK..pts_N.
    fs::path lockFile() const {
        const fs::path device = fs::canonical(rig_.pathA());
        EXPECT_EQ(device.parent_path(), "/dev/pts");
        return dir_.path() / ("LCK..pts_" + device.filename().string());
    }

    static std::string hdb(pid_t pid) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", int(pid));
        return text;
    }

    // TermiosPort::open's result in a process of its own.
    int openElsewhere() {
        pid_t child = ::fork();
        if (child == 0) {
            tvk::TermiosPort port;
            int r = port.open(rig_.pathA(), {});
            port.close();
            ::_exit(-r);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 1;
        return -WEXITSTATUS(status);
    }

    quendril::test::ScopedWorkDir dir_;
    LineRig rig_;
    std::optional<std::string> saved_;
};

// lineemu keeps the device open, so the exclusive flag would outlive the port
// and refuse a second open to anyone but root; the probe shows it even to root.
TEST_F(PortLock, CloseLeavesTheDeviceOpenableAgain) {
    int probe = ::open(rig_.pathA().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    for (int pass = 1; pass <= 2; ++pass) {
        tvk::TermiosPort port;
        ASSERT_EQ(port.open(rig_.pathA(), {}), TVK_OK) << "pass " << pass;
        int exclusive = -1;
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1) << "pass " << pass;
        port.close();
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "pass " << pass;
    }
    ::close(probe);
}

TEST_F(PortLock, AnotherProcessIsRefusedWhileThePortIsOpen) {
    {
        tvk::TermiosPort port;
        ASSERT_EQ(port.open(rig_.pathA(), {}), TVK_OK);
        EXPECT_EQ(readAll(lockFile()), hdb(::getpid()));
        EXPECT_EQ(openElsewhere(), TVK_EBUSY);
    }
    EXPECT_FALSE(fs::exists(lockFile()));
    EXPECT_EQ(openElsewhere(), TVK_OK);
}

TEST_F(PortLock, TakesOverOnlyALockWhoseProcessIsGone) {
    ChildProcess live({"/bin/sleep", "60"});
    ChildProcess gone({"/bin/true"});
    ASSERT_TRUE(gone.wait(10s).has_value());
    struct Row {
        const char* what;
        std::optional<std::string> lock;  // none: the lock directory is missing
        int expected;
    };
    const Row rows[] = {
        {"live holder", hdb(live.pid()), TVK_EBUSY},
        {"live holder of another user, unless root", hdb(1), TVK_EBUSY},
        {"exited holder", hdb(gone.pid()), TVK_OK},
        {"no PID", std::string("garbage\n"), TVK_OK},
        {"no lock directory", std::nullopt, TVK_OK},
    };
    const fs::path lock = lockFile();
    for (const Row& row : rows) {
        if (row.lock) std::ofstream(lock) << *row.lock;
        else ::setenv("TVK_LOCK_DIR", (dir_.str() + "/missing").c_str(), 1);
        tvk::TermiosPort port;
        EXPECT_EQ(port.open(rig_.pathA(), {}), row.expected) << row.what;
        if (row.lock) {
            EXPECT_EQ(readAll(lock), row.expected == TVK_OK ? hdb(::getpid()) : *row.lock) << row.what;
        }
        fs::remove(lock);
    }
}

}  // namespace
