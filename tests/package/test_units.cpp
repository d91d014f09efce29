// The systemd service and timer of the unattended pass: what they run and
// when, and that systemd itself accepts them for a working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "runcommand.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

const fs::path kPackaging = QUENDRIL_PACKAGING_DIR;

TEST(SystemdUnits, RunAutoInTheInstanceFolderEveryEvening) {
    const struct {
        const char* file;
        const char* line;
    } cases[] = {
        {"quendril-auto@.service", "\nType=oneshot\n"},
        {"quendril-auto@.service", "\nExecStart=/usr/bin/quendril AUTO\n"},
        {"quendril-auto@.service", "\nWorkingDirectory=%f\n"},
        {"quendril-auto@.service", "\nEnvironment=QT_QPA_PLATFORM=offscreen\n"},
        {"quendril-auto@.service", "\nTimeoutStartSec="},
        {"quendril-auto@.timer", "\nOnCalendar=*-*-* 18:00:00\n"},
        {"quendril-auto@.timer", "\nPersistent=true\n"},
        {"quendril-auto@.timer", "\nWantedBy=timers.target\n"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(readBytes(kPackaging / c.file).find(c.line), std::string::npos) << c.file << ": " << c.line;
    }
    EXPECT_EQ(readBytes(kPackaging / "quendril-auto@.timer").find("\nUnit="), std::string::npos)
        << "the timer starts the service of its own instance";
}

// An instance for /srv/quendril, with the built program in place of the
// installed one, as verify wants the program to exist.
TEST(SystemdUnits, SystemdAcceptsThemForAWorkingFolder) {
    if (runCommand("command -v systemd-analyze").status != 0) GTEST_SKIP() << "no systemd-analyze";
    std::string templ = (fs::temp_directory_path() / "quendril-units-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    const fs::path dir = templ;
    const std::string instance = "quendril-auto@srv-quendril";
    std::string service = readBytes(kPackaging / "quendril-auto@.service");
    const std::string installed = "/usr/bin/quendril";
    const std::size_t at = service.find(installed);
    ASSERT_NE(at, std::string::npos);
    service.replace(at, installed.size(), QUENDRIL_PROGRAM);
    std::ofstream(dir / (instance + ".service"), std::ios::binary) << service;
    fs::copy_file(kPackaging / "quendril-auto@.timer", dir / (instance + ".timer"));

    const CommandResult r = runCommand("cd " + shellQuote(dir.string()) + " && systemd-analyze verify ./" +
                                       instance + ".service ./" + instance + ".timer");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quendril::test
