// The Debian package that the package_build fixture made from this build
// tree: its files, its control fields, and the program installed from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "runcommand.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

std::string packagePath() {
    for (const auto& e : fs::directory_iterator(QUENDRIL_PACKAGE_DIR)) {
        if (e.path().extension() == ".deb") return e.path().string();
    }
    return {};
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        deb = packagePath();
        ASSERT_FALSE(deb.empty()) << "no package in " << QUENDRIL_PACKAGE_DIR;
    }
    std::string deb;
};

// Paths of everything but directories, as dpkg-deb -c names them ("./usr/...").
std::set<std::string> listedFiles(const std::string& listing) {
    std::set<std::string> files;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == 'd') continue;
        std::istringstream fields(line);
        std::string mode, owner, size, date, time, path;
        fields >> mode >> owner >> size >> date >> time >> path;
        files.insert(path);
    }
    return files;
}

TEST_F(Package, HoldsExactlyTheInstalledFiles) {
    const CommandResult r = runCommand("dpkg-deb -c " + shellQuote(deb));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::set<std::string> expected = {
        "./usr/bin/quendril",
        "./usr/bin/htsim",
        "./usr/bin/lineemu",
        "./usr/lib/libtervolk.so",
        "./usr/lib/libtervolk.so.2",
        "./usr/lib/libtervolk.so." QUENDRIL_PACKAGE_VERSION,
        "./usr/include/tervolk.h",
        "./usr/share/applications/quendril.desktop",
        "./usr/share/icons/hicolor/48x48/apps/quendril.png",
        "./usr/lib/systemd/system/quendril-auto@.service",
        "./usr/lib/systemd/system/quendril-auto@.timer",
        "./usr/share/doc/quendril/README.md",
        "./usr/share/doc/quendril/line-protocol.md",
        "./usr/share/doc/quendril/htsim.md",
        "./usr/share/doc/quendril/benchmarks.md",
        "./usr/share/doc/quendril/benchmarks-efficiency.png",
        "./usr/share/doc/quendril/benchmarks-cases.png",
        "./usr/share/doc/quendril/reliability.md",
    };
    // Test programs, benchmarks and static libraries must stay out.
    EXPECT_EQ(listedFiles(r.output), expected) << r.output;
}

TEST_F(Package, ControlFieldsDescribeTheProgram) {
    const std::string arch = trimmed(runCommand("dpkg --print-architecture").output);
    const struct {
        const char* field;
        std::string wanted;
        bool whole;  // the whole value, or a part of it
    } cases[] = {
        {"Package", "quendril", true},
        {"Version", QUENDRIL_PACKAGE_VERSION, true},
        {"Architecture", arch, true},
        {"Section", "utils", true},
        {"Maintainer", "QUENDRIL developers <quendril@example.org>", true},
        {"Depends", "libqt6widgets6", false},
        {"Depends", "libc6", false},
        {"Description", "Host for a fleet of handheld terminals on one serial line", false},
        {"Description", "htsim", false},
    };
    for (const auto& c : cases) {
        const CommandResult r = runCommand("dpkg-deb -f " + shellQuote(deb) + " " + c.field);
        ASSERT_EQ(r.status, 0) << c.field << ": " << r.output;
        const std::string value = trimmed(r.output);
        if (c.whole) {
            EXPECT_EQ(value, c.wanted) << c.field;
        } else {
            EXPECT_NE(value.find(c.wanted), std::string::npos) << c.field << ": " << value;
        }
    }
}

// The package unpacked into a scratch root, as dpkg would install it.
class InstalledPackage : public Package {
protected:
    void SetUp() override {
        Package::SetUp();
        if (HasFatalFailure()) return;
        std::string templ = (fs::temp_directory_path() / "quendril-deb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        scratch = templ;
        root = scratch / "root";
        const CommandResult r = runCommand("dpkg-deb -x " + shellQuote(deb) + " " + shellQuote(root.string()));
        ASSERT_EQ(r.status, 0) << r.output;
    }
    void TearDown() override {
        std::error_code ec;
        if (!scratch.empty()) fs::remove_all(scratch, ec);
    }
    fs::path scratch;
    fs::path root;
};

TEST_F(InstalledPackage, ProgramFindsTheLibraryBesideIt) {
    const fs::path program = root / "usr/bin/quendril";
    const CommandResult r = runCommand("ldd " + shellQuote(program.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("not found"), std::string::npos) << r.output;
    const std::string wanted = "libtervolk.so.2 => " + (root / "usr/bin/../lib/libtervolk.so.2").string();
    EXPECT_NE(r.output.find(wanted), std::string::npos) << r.output;
}

// In a directory without settings the program writes its default files;
// QUENDRIL_SCREENSHOT makes it save its window and end by itself.
TEST_F(InstalledPackage, ProgramStartsAndShowsItsWindow) {
    const fs::path work = scratch / "work";
    fs::create_directories(work);
    const CommandResult r =
        runCommand("cd " + shellQuote(work.string()) + " && QT_QPA_PLATFORM=offscreen QUENDRIL_SCREENSHOT=" +
            shellQuote(work.string()) + " timeout 30 " + shellQuote((root / "usr/bin/quendril").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::exists(work / "main-idle.png"));
    EXPECT_EQ(readBytes(work / "hostpc.ini").substr(0, 35), "HOSTPC.INI16000308000100500300003\r\n");
    EXPECT_EQ(readBytes(work / "HOSTPCID.INF"), "hostpcid.inf\r\n&&&&&&,,,\r\n");
}

TEST_F(InstalledPackage, ToolsRunAndExplainThemselves) {
    const struct {
        const char* program;
        const char* usage;
    } cases[] = {{"htsim", "usage: htsim --device PATH --fleet FILE"}, {"lineemu", "usage: lineemu --a PATH --b PATH"}};
    for (const auto& c : cases) {
        const CommandResult r = runCommand(shellQuote((root / "usr/bin" / c.program).string()) + " --help");
        EXPECT_EQ(r.status, 0) << c.program << ": " << r.output;
        EXPECT_NE(r.output.find(c.usage), std::string::npos) << c.program << ": " << r.output;
    }
}

// The entry starts the program in a folder of its own, made on first start,
// never in the home folder where a terminal could reach the user's files.
TEST_F(InstalledPackage, DesktopEntryStartsTheProgramInAFolderOfItsOwnWithItsIcon) {
    const std::string entry = readBytes(root / "usr/share/applications/quendril.desktop");
    for (const char* line : {"[Desktop Entry]\n", "\nType=Application\n", "\nName=QUENDRIL\n", "\nIcon=quendril\n",
                             "\nTerminal=false\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
    // Exec=sh -c "COMMAND": run COMMAND with a stand-in quendril that notes
    // where it was started.
    const std::string prefix = "\nExec=sh -c \"";
    const std::size_t at = entry.find(prefix);
    ASSERT_NE(at, std::string::npos) << entry;
    const std::size_t from = at + prefix.size();
    const std::size_t to = entry.find("\"\n", from);
    ASSERT_NE(to, std::string::npos);
    const std::string command = entry.substr(from, to - from);
    ASSERT_EQ(command.find_first_of("\"\\$`"), std::string::npos) << "no escapes to undo: " << command;
    const fs::path home = root / "home";
    fs::create_directories(home / "bin");
    runCommand("printf '#!/bin/sh\\npwd > \"$HOME/started-in\"\\n' > " + shellQuote((home / "bin/quendril").string()) +
               " && chmod +x " + shellQuote((home / "bin/quendril").string()));
    for (int start = 0; start < 2; ++start) {
        const CommandResult r = runCommand("HOME=" + shellQuote(home.string()) + " PATH=" +
                                           shellQuote((home / "bin").string()) + ":/usr/bin:/bin sh -c " +
                                           shellQuote(command));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(trimmed(readBytes(home / "started-in")), (home / "quendril").string()) << "start " << start;
    }
    EXPECT_TRUE(fs::exists(root / "usr/bin/quendril"));
    const std::string icon = readBytes(root / "usr/share/icons/hicolor/48x48/apps/quendril.png");
    ASSERT_GE(icon.size(), 24u);
    EXPECT_EQ(icon.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // Width and height in the PNG header match the folder the icon is in.
    EXPECT_EQ(icon.substr(16, 8), std::string("\0\0\0\x30\0\0\0\x30", 8));
}

}  // namespace
}  // namespace quendril::test
