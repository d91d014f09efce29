// The program from the Debian packages that tests/package/check-packages has
// unpacked into $QUENDRIL_PACKAGE_ROOT, as dpkg would install them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "filebytes.h"
#include "runcommand.h"
#include "tempdir.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

fs::path packageRoot() {
    const char* root = std::getenv("QUENDRIL_PACKAGE_ROOT");
    return root ? fs::path(root) : fs::path("QUENDRIL_PACKAGE_ROOT-is-unset");
}

// The program writes its default files where it starts; the desktop entry starts
// it in a folder of its own, never in the home folder where a terminal could
// reach the user's files: its Exec=sh -c "COMMAND" runs a stand-in that notes where.
TEST(Package, InstalledProgramAndDesktopEntryWork) {
    ScopedWorkDir scratch;
    const fs::path home = scratch.path() / "home";
    const std::string root = shellQuote(packageRoot().string());
    ASSERT_TRUE(fs::is_regular_file(packageRoot() / "usr/bin/quendril")) << packageRoot();
    fs::create_directories("work");
    const CommandResult r = runCommand("cd work && LD_LIBRARY_PATH=$(dirname " + root +
                                       "/usr/lib/*/libtervolk.so.2) QT_QPA_PLATFORM=offscreen "
                                       "QUENDRIL_SCREENSHOT=. timeout 30 " + root + "/usr/bin/quendril");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readBytes("work/hostpc.ini").substr(0, 35), "HOSTPC.INI16000308000100500300003\r\n");
    EXPECT_EQ(readBytes("work/HOSTPCID.INF"), "hostpcid.inf\r\n&&&&&&,,,\r\n");
    const std::string entry = readBytes((packageRoot() / "usr/share/applications/quendril.desktop").string());
    const std::size_t from = entry.find("\nExec=sh -c \"") + 13, to = entry.find("\"\n", from);
    ASSERT_TRUE(from > 13 && to != std::string::npos) << entry;
    const std::string command = entry.substr(from, to - from);
    ASSERT_EQ(command.find_first_of("\"\\$`"), std::string::npos) << "no escapes to undo: " << command;
    fs::create_directories(home / "bin");
    writeBytes((home / "bin/quendril").string(), "#!/bin/sh\npwd > \"$HOME/started-in\"\n");
    fs::permissions(home / "bin/quendril", fs::perms::owner_all);
    for (int start = 0; start < 2; ++start) {
        EXPECT_EQ(runCommand("HOME=" + shellQuote(home.string()) + " PATH=" + shellQuote((home / "bin").string()) +
                             ":/usr/bin:/bin sh -c " + shellQuote(command)).status, 0);
        EXPECT_EQ(readBytes((home / "started-in").string()), (home / "quendril").string() + "\n") << start;
    }
}

}  // namespace
}  // namespace quendril::test
