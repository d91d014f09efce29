// scripts/demo --auto with the programs of this build tree: both passes end
// by themselves, every job's files arrive intact, and nothing is left running.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "runcommand.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = QUENDRIL_SOURCE_DIR;

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.is_regular_file()) names.insert(e.path().filename().string());
    }
    return names;
}

// Processes whose command line names the given path.
int processesNaming(const std::string& path) {
    int count = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::string cmdline = readBytes(e.path() / "cmdline");
        for (char& c : cmdline) {
            if (c == '\0') c = ' ';
        }
        if (cmdline.find(path) != std::string::npos) ++count;
    }
    return count;
}

class Demo : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "quendril-demo-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        scratch = templ;
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << "demo output:\n" << output << '\n';
        std::error_code ec;
        fs::remove_all(scratch, ec);
    }

    // Runs the demo without a display, so the program runs offscreen.
    int runDemo(const fs::path& work, const fs::path& bin = QUENDRIL_BIN_DIR) {
        const CommandResult r = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY QUENDRIL_DEMO_BIN=" +
                                           shellQuote(bin.string()) + " QUENDRIL_DEMO_DIR=" +
                                           shellQuote(work.string()) + " " +
                                           shellQuote((kSource / "scripts/demo").string()) + " --auto");
        output = r.output;
        return r.status;
    }

    fs::path scratch;
    std::string output;
};

TEST_F(Demo, AutoServesEveryJobInBothPassesAndStopsTheLine) {
    const fs::path work = scratch / "run";
    ASSERT_EQ(runDemo(work), 0);
    EXPECT_NE(output.find("== Pass 1-normal"), std::string::npos);
    EXPECT_NE(output.find("== Pass 2-append"), std::string::npos);
    // Each pass reports the program's own time, once.
    std::size_t timings = 0;
    for (std::size_t at = 0; (at = output.find("\n-- quendril AUTO took ", at)) != std::string::npos; ++at) ++timings;
    EXPECT_EQ(timings, 2u);
    EXPECT_EQ(output.find("no terminal was served"), std::string::npos);

    const fs::path samples = kSource / "demo";
    const auto sample = [&](const char* p) { return readBytes(samples / p); };
    const struct {
        const char* received;
        std::string wanted;
    } files[] = {
        // Receive, then append mode adds the next day's data to the namesake.
        {"pc/recv/HT0001/SALES.DAT", sample("terminals/HT0001/day1/SALES.DAT") + sample("terminals/HT0001/day2/SALES.DAT")},
        {"pc/recv/HT0001/COUNT.DAT", sample("terminals/HT0001/day1/COUNT.DAT")},
        {"pc/recv/ORDERS.DAT", sample("terminals/HT0005/day1/ORDERS.DAT") + sample("terminals/HT0005/day2/ORDERS.DAT")},
        {"pc/recv/STATUS.TXT", sample("terminals/HT0005/status/STATUS.TXT")},
        // Transmit: LOD, OTR, ALL from a terminal's own folder, and the global ALL.
        {"terminals/HT0002/recv/ITEMS.LOD", sample("pc/send/ITEMS.LOD")},
        {"terminals/HT0002/recv/PRICES.LOD", sample("pc/send/PRICES.LOD")},
        {"terminals/HT0003/recv/NOTICE.TXT", sample("pc/send/NOTICE.TXT")},
        {"terminals/HT0003/recv/STAFF.CSV", sample("pc/send/STAFF.CSV")},
        {"terminals/HT0004/recv/ROUTE.TXT", sample("pc/send-HT0004/ROUTE.TXT")},
        {"terminals/HT0004/recv/MOVES.LOD", sample("pc/send-HT0004/MOVES.LOD")},
        {"terminals/HT0005/recv/ITEMS.LOD", sample("pc/send/ITEMS.LOD")},
        {"terminals/HT0005/recv/STAFF.CSV", sample("pc/send/STAFF.CSV")},
        // AP install sends the whole application folder.
        {"terminals/HT0004/app/COUNTER.BIN", sample("pc/ap/COUNTER.BIN")},
        {"terminals/HT0004/app/COUNTER.INI", sample("pc/ap/COUNTER.INI")},
        {"terminals/HT0004/app/COUNTER.MAP", sample("pc/ap/COUNTER.MAP")},
        {"terminals/HT0004/app/MENU.LOD", sample("pc/ap/MENU.LOD")},
    };
    for (const auto& f : files) {
        ASSERT_FALSE(f.wanted.empty()) << "sample for " << f.received;
        EXPECT_EQ(readBytes(work / f.received), f.wanted) << f.received;
    }

    const struct {
        const char* dir;
        std::set<std::string> names;
    } folders[] = {
        {"pc/recv", {"ORDERS.DAT", "STATUS.TXT"}},
        {"terminals/HT0002/recv", {"ITEMS.LOD", "PRICES.LOD"}},
        {"terminals/HT0003/recv", {"NOTICE.TXT", "STAFF.CSV"}},
        {"terminals/HT0005/recv", {"ITEMS.LOD", "NOTICE.TXT", "PRICES.LOD", "STAFF.CSV"}},
        {"TEMP", {}},
    };
    for (const auto& f : folders) EXPECT_EQ(namesIn(work / f.dir), f.names) << f.dir;

    EXPECT_EQ(processesNaming(work.string()), 0) << "lineemu or htsim still running";
}

// A fleet that cannot open its end of the line ends the demo with htsim's
// reason, before the program runs, and stops the line.
TEST_F(Demo, SaysWhenHtsimCannotOpenTheLine) {
    const fs::path bin = scratch / "bin", work = scratch / "run";
    fs::create_directories(bin);
    for (const char* real : {"quendril", "lineemu"}) {
        fs::create_symlink(fs::path(QUENDRIL_BIN_DIR) / real, bin / real);
    }
    std::ofstream(bin / "htsim") << "#!/bin/sh\necho \"htsim: cannot open $2 (busy)\" >&2\nexit 2\n";
    fs::permissions(bin / "htsim", fs::perms::owner_all);
    EXPECT_EQ(runDemo(work, bin), 1);
    EXPECT_NE(output.find("Pass 1-normal: htsim could not open the line: cannot open " + (work / "line/fleet").string() +
                          " (busy)\n"),
              std::string::npos);
    EXPECT_EQ(output.find("quendril AUTO took"), std::string::npos);
    EXPECT_EQ(processesNaming(work.string()), 0) << "lineemu still running";
}

TEST_F(Demo, LeavesAFolderOfTheUsersAlone) {
    const fs::path mine = scratch / "mine";
    fs::create_directories(mine);
    std::ofstream(mine / "notes.txt") << "keep me";
    EXPECT_EQ(runDemo(mine), 1);
    EXPECT_NE(output.find("not empty"), std::string::npos);
    EXPECT_EQ(readBytes(mine / "notes.txt"), "keep me");
}

}  // namespace
}  // namespace quendril::test
