// The program's command line and the systemd units that run it unattended:
// --help and --version answer and exit, anything but AUTO is refused with
// status 2, and none of them needs a display or leaves a file behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "filebytes.h"
#include "runcommand.h"
#include "tempdir.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

TEST(CommandLine, AnswersOrRefusesWithoutTouchingTheFolder) {
    const std::string alone = "' (AUTO, --help and --version stand alone)";
    const struct {
        const char* args;
        int status;
        std::vector<std::string> out;  // parts of standard output; none: it stays empty
        std::string error;             // the refusal's line on standard error
    } cases[] = {
        {"--help", 0, {"usage: quendril", "'quendril AUTO' runs Execute unattended", "2 settings or ID file error",
                       "3 the line could not be opened", "4 a local file", "130 or 143"}, ""},
        {"--version", 0, {"quendril " QUENDRIL_VERSION "\n"}, ""}, {"-h", 2, {}, "unknown option '-h'"},
        {"AUTO --verbose", 2, {}, "unknown option '--verbose'"}, {"auto now", 2, {}, "unexpected argument 'now" + alone},
        {"--help AUTO", 2, {}, "unexpected argument 'AUTO" + alone}, {"''", 2, {}, "unexpected argument '" + alone},
    };
    ScopedWorkDir scratch;
    fs::create_directory("work");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        // No display: a window started by mistake fails at once instead of waiting.
        const CommandResult r = runCommand("(cd work && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 " +
                                           shellQuote(QUENDRIL_PROGRAM) + " " + c.args + " 2>../stderr)");
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(!c.out.empty() || r.output.empty()) << r.output;
        for (const std::string& part : c.out) EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
        EXPECT_EQ(readBytes("stderr"), c.error.empty() ? "" : "quendril: " + c.error + "\nTry 'quendril --help'.\n");
        EXPECT_TRUE(fs::is_empty("work"));
    }
}

// The service runs AUTO in the instance's folder every evening; systemd itself
// accepts an instance for /srv/quendril, with the built program in place of
// the installed one, as verify wants the program to exist (the manual page
// it names is installed only with the package).
TEST(SystemdUnits, RunAutoInTheInstanceFolderEveryEveningAndSystemdAcceptsThem) {
    std::string service = readBytes(QUENDRIL_SERVICE);
    const std::string timer = readBytes(QUENDRIL_TIMER);
    for (const char* line : {"\nType=oneshot\n", "\nExecStart=" QUENDRIL_INSTALLED_PROGRAM " AUTO\n", "\nWorkingDirectory=%f\n",
                             "\nEnvironment=QT_QPA_PLATFORM=offscreen\n", "\nTimeoutStartSec="}) {
        EXPECT_NE(service.find(line), std::string::npos) << line;
    }
    EXPECT_NE(timer.find("\nOnCalendar=*-*-* 18:00:00\n"), std::string::npos);
    EXPECT_EQ(timer.find("\nUnit="), std::string::npos) << "the timer starts the service of its own instance";
    if (runCommand("command -v systemd-analyze").status != 0) GTEST_SKIP() << "no systemd-analyze";
    ScopedWorkDir dir;
    const std::string instance = "quendril-auto@srv-quendril", installed = QUENDRIL_INSTALLED_PROGRAM;
    service.replace(service.find(installed), installed.size(), QUENDRIL_PROGRAM);
    writeBytes(instance + ".service", service);
    writeBytes(instance + ".timer", timer);
    const CommandResult r = runCommand("systemd-analyze verify --man=no ./" + instance + ".service ./" + instance + ".timer");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
}

}  // namespace
}  // namespace quendril::test
