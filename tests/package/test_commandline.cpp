// The program's command line: --help and --version answer and exit, anything
// but AUTO is refused with status 2; none of them needs a display or leaves a
// file in the folder it was started in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runcommand.h"

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
        {"--version", 0, {"quendril " QUENDRIL_VERSION "\n"}, ""},
        {"--bogus", 2, {}, "unknown option '--bogus'"},
        {"-h", 2, {}, "unknown option '-h'"},
        {"AUTO --verbose", 2, {}, "unknown option '--verbose'"},
        {"extra args", 2, {}, "unexpected argument 'extra" + alone},
        {"auto now", 2, {}, "unexpected argument 'now" + alone},
        {"--help AUTO", 2, {}, "unexpected argument 'AUTO" + alone},
        {"''", 2, {}, "unexpected argument '" + alone},
    };
    std::string templ = (fs::temp_directory_path() / "quendril-args-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    const fs::path scratch = templ, work = scratch / "work", err = scratch / "stderr";
    fs::create_directory(work);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        // No display: a window started by mistake fails at once instead of waiting.
        const CommandResult r = runCommand("(cd " + shellQuote(work.string()) +
                                           " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 " +
                                           shellQuote(QUENDRIL_PROGRAM) + " " + c.args + " 2>" +
                                           shellQuote(err.string()) + ")");
        EXPECT_EQ(r.status, c.status);
        if (c.out.empty()) {
            EXPECT_EQ(r.output, "");
        }
        for (const std::string& part : c.out) EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
        const std::string wanted = c.error.empty() ? "" : "quendril: " + c.error + "\nTry 'quendril --help'.\n";
        EXPECT_EQ(readBytes(err), wanted);
        EXPECT_TRUE(fs::is_empty(work));
    }
    fs::remove_all(scratch);
}

}  // namespace
}  // namespace quendril::test
