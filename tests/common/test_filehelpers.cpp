#include <cerrno>

#include "fixture.h"
#include "messages.h"

namespace quendril {
namespace {

using test::FileTest;
using test::ProgramEnded;
using test::readBytes;
using test::writeBytes;

TEST(AddBackslash, AppendsSeparatorOnlyWhenMissing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "/"}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/x/y", "/x/y/"}, {"a\\", "a\\/"},
    };
    for (auto [in, out] : cases) {
        addBackslash(in);
        EXPECT_EQ(in, out);
    }
}

TEST(FileErrNumber, MapsOperatingSystemErrors) {
    const std::vector<std::pair<std::errc, int16_t>> cases = {
        {std::errc::permission_denied, 70},       {std::errc::operation_not_permitted, 70},
        {std::errc::read_only_file_system, 70},   {std::errc::no_space_on_device, 61},
        {std::errc::file_too_large, 61},          {std::errc::io_error, 57},
        {std::errc::no_such_device, 68},          {std::errc::no_such_device_or_address, 68},
        {std::errc::not_a_directory, 76},         {std::errc::file_exists, 58},
        {std::errc::too_many_files_open, 67},     {std::errc::too_many_files_open_in_system, 67},
        {std::errc::is_a_directory, 75},          {std::errc::filename_too_long, 52},
        {std::errc::device_or_resource_busy, 55}, {std::errc::timed_out, 71},
        {std::errc::cross_device_link, 74},       {std::errc::not_supported, 75},
    };
    for (const auto& [e, n] : cases) {
        EXPECT_EQ(fileErrNumber(std::make_error_code(e), "x"), n) << static_cast<int>(e);
    }
    EXPECT_EQ(fileErrNumber({}, "x"), 0);
    // errno values reported by the system category map the same way.
    EXPECT_EQ(fileErrNumber(std::error_code(EACCES, std::system_category()), "x"), 70);
    EXPECT_EQ(fileErrNumber(std::error_code(EDQUOT, std::system_category()), "x"), 61);
    // Errors of other kinds (here a stream error) are no operating-system condition.
    EXPECT_EQ(fileErrNumber(std::make_error_code(std::io_errc::stream), "x"), 75);
}

class NotFoundMapping : public FileTest {};

TEST_F(NotFoundMapping, MissingParentIsPathNotFound) {
    std::filesystem::create_directory("present");
    const auto enoent = std::make_error_code(std::errc::no_such_file_or_directory);
    EXPECT_EQ(fileErrNumber(enoent, "present/file"), 53);
    EXPECT_EQ(fileErrNumber(enoent, "file"), 53);
    EXPECT_EQ(fileErrNumber(enoent, "missing/file"), 76);
    EXPECT_EQ(fileErrNumber(enoent, "missing/deeper/file"), 76);
}

class KillFile : public FileTest {};

TEST_F(KillFile, DeletesFileAndIgnoresMissingOne) {
    writeBytes("a.txt", "x");
    killFile("a.txt");
    EXPECT_FALSE(exists("a.txt"));
    killFile("a.txt");
    killFile("nodir/a.txt");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(KillFile, PatternDeletesMatchingFilesOnly) {
    writeBytes("a.txt", "x");
    writeBytes("B.TXT", "x");
    writeBytes("c.dat", "x");
    std::filesystem::create_directory("d.txt");
    killFile(dir.str() + "/*.txt");
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_FALSE(exists("B.TXT"));
    EXPECT_TRUE(exists("c.dat"));
    EXPECT_TRUE(exists("d.txt"));
    killFile("*.none");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(KillFile, LeavesDirectoriesAlone) {
    std::filesystem::create_directory("sub");
    killFile("sub");
    EXPECT_TRUE(exists("sub"));
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(KillFile, InjectedNotFoundIsNoFailure) {
    writeBytes("a.txt", "x");
    injectFileFault(53);
    killFile("a.txt");
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(exists("a.txt"));
}

TEST_F(KillFile, RetryRepeatsUntilDone) {
    writeBytes("a.txt", "x");
    injectFileFault(57, 2);
    host.answers = {kAnswerRetry, kAnswerRetry};
    killFile("a.txt");
    ASSERT_EQ(host.shown.size(), 2u);
    EXPECT_EQ(host.shown[1].text, "Device I/O error\ra.txt");
    EXPECT_FALSE(exists("a.txt"));
}

TEST_F(KillFile, CancelKeepsFileAndOkEndsProgram) {
    writeBytes("a.txt", "x");
    injectFileFault(68);
    host.answers = {kAnswerCancel};
    killFile("a.txt");
    EXPECT_TRUE(exists("a.txt"));
    EXPECT_EQ(host.endCount, 0);

    injectFileFault(70);
    EXPECT_THROW(killFile("a.txt"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Protected\ra.txt");
    EXPECT_EQ(host.shown.back().buttons, BoxButtons::Ok);
    EXPECT_TRUE(exists("a.txt"));
}

class MakeDir : public FileTest {};

TEST_F(MakeDir, CreatesAndAcceptsExistingDirectory) {
    makeDir("new");
    EXPECT_TRUE(std::filesystem::is_directory("new"));
    makeDir("new");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(MakeDir, FailuresGoThroughTheBox) {
    struct Case {
        std::string path;
        std::string text;
    };
    writeBytes("file", "x");
    const std::vector<Case> cases = {
        {"file", "A file of same name exists already\rfile"},
        {"missing/sub", "No Pass\rmissing/sub"},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(makeDir(c.path), ProgramEnded);
        EXPECT_EQ(host.shown.back().text, c.text);
    }
    EXPECT_EQ(host.endCount, 2);
}

class LineInput : public FileTest {};

TEST_F(LineInput, AcceptsEveryLineEnd) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\r\nb\n\nc", {"a", "", "b", "", "c"}},
        {std::string("n\0l\r\n\0", 6), {std::string("n\0l", 3), std::string("\0", 1)}},
        {"\r\n", {""}},
        {"", {}},
    };
    for (const auto& [bytes, lines] : cases) {
        writeBytes("t.txt", bytes);
        InputFile f;
        ASSERT_TRUE(openInput(f, "t.txt"));
        std::vector<std::string> got;
        while (!f.atEnd()) {
            got.emplace_back("old");
            lineInput(f, got.back());
        }
        EXPECT_EQ(got, lines);
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(LineInput, ReadsLineOfSeveralMegabytes) {
    const std::string big(5 * 1024 * 1024, 'x');
    writeBytes("big.txt", big + "\r\nend");
    InputFile f;
    ASSERT_TRUE(openInput(f, "big.txt"));
    std::string line;
    lineInput(f, line);
    EXPECT_EQ(line, big);
    lineInput(f, line);
    EXPECT_EQ(line, "end");
    EXPECT_TRUE(f.atEnd());
}

TEST_F(LineInput, PastEndShowsGenericBoxAndEnds) {
    writeBytes("t.txt", "a");
    InputFile f;
    ASSERT_TRUE(openInput(f, "t.txt"));
    std::string line;
    lineInput(f, line);
    EXPECT_THROW(lineInput(f, line), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "ERROR!!!");
    EXPECT_EQ(line, "a");
}

TEST_F(LineInput, CancelKeepsLineAndRetryReadsIt) {
    writeBytes("t.txt", "first\nsecond\n");
    InputFile f;
    ASSERT_TRUE(openInput(f, "t.txt"));
    std::string line = "kept";
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    lineInput(f, line);
    EXPECT_EQ(line, "kept");
    EXPECT_EQ(host.shown.back().text, "No disc\r");

    injectFileFault(57);
    host.answers = {kAnswerRetry};
    lineInput(f, line);
    EXPECT_EQ(line, "first");
}

class OpenInput : public FileTest {};

TEST_F(OpenInput, FailuresFollowTheRule) {
    InputFile f;
    EXPECT_THROW(openInput(f, "absent.txt"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No file name\rabsent.txt");
    std::filesystem::create_directory("d");
    EXPECT_THROW(openInput(f, "d"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Pass error\rd");

    writeBytes("ok.txt", "x");
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(openInput(f, "ok.txt"));
    EXPECT_FALSE(f.isOpen());
}

class AtomicWrite : public FileTest {};

TEST_F(AtomicWrite, ReplacesContentAndLeavesNoNewFile) {
    writeBytes("f.ini", "old");
    ASSERT_TRUE(writeFileAtomically("f.ini", "new\r\n"));
    EXPECT_EQ(readBytes("f.ini"), "new\r\n");
    EXPECT_FALSE(exists("f.ini.new"));
    ASSERT_TRUE(writeFileAtomically("g.ini", std::string("\0x", 2)));
    EXPECT_EQ(readBytes("g.ini"), std::string("\0x", 2));
}

TEST_F(AtomicWrite, KeepsPermissionsAndReplacesLinkTarget) {
    namespace fs = std::filesystem;
    writeBytes("f.ini", "old");
    fs::permissions("f.ini", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically("f.ini", "new"));
    EXPECT_EQ(fs::status("f.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directory("elsewhere");
    writeBytes("elsewhere/real.ini", "old");
    fs::create_symlink("elsewhere/real.ini", "link.ini");
    ASSERT_TRUE(writeFileAtomically("link.ini", "new"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(readBytes("elsewhere/real.ini"), "new");
    EXPECT_FALSE(exists("elsewhere/real.ini.new"));
}

TEST_F(AtomicWrite, FailureKeepsOldFile) {
    writeBytes("f.ini", "old");
    injectFileFault(61);
    EXPECT_THROW(writeFileAtomically("f.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Not enough free area\rf.ini");

    injectFileFault(57);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(writeFileAtomically("f.ini", "new"));
    EXPECT_EQ(readBytes("f.ini"), "old");
    EXPECT_FALSE(exists("f.ini.new"));
}

TEST_F(AtomicWrite, RealFailureIsMappedAndLeavesNothing) {
    std::filesystem::create_directory("f.ini");
    EXPECT_THROW(writeFileAtomically("f.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Pass error\rf.ini");
    EXPECT_FALSE(exists("f.ini.new"));
    EXPECT_THROW(writeFileAtomically("nodir/f.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No Pass\rnodir/f.ini");
}

class CallerOperations : public FileTest {};

TEST_F(CallerOperations, RunFileOperationRetriesCancelsAndEnds) {
    int calls = 0;
    auto failTwice = [&] {
        return ++calls <= 2 ? std::make_error_code(std::errc::io_error) : std::error_code{};
    };
    host.answers = {kAnswerRetry, kAnswerRetry};
    EXPECT_TRUE(runFileOperation("p", failTwice));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(host.shown.size(), 2u);

    host.answers = {kAnswerCancel};
    EXPECT_FALSE(runFileOperation("p", [] { return std::make_error_code(std::errc::io_error); }));

    EXPECT_THROW(runFileOperation("p", [] { return std::make_error_code(std::errc::permission_denied); }),
                 ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Protected\rp");

    // An injected fault is taken before the operation runs.
    calls = 0;
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(runFileOperation("p", [&] { ++calls; return std::error_code{}; }));
    EXPECT_EQ(calls, 0);
}

TEST_F(CallerOperations, ReportFileFailureReturnsAnswer) {
    host.answers = {kAnswerRetry, kAnswerCancel};
    EXPECT_EQ(reportFileFailure(std::make_error_code(std::errc::io_error), "a"), kAnswerRetry);
    EXPECT_EQ(reportFileFailure(std::make_error_code(std::errc::io_error), "a"), kAnswerCancel);
    EXPECT_THROW(reportFileFailure(std::make_error_code(std::errc::no_space_on_device), "a"),
                 ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Not enough free area\ra");
}

}  // namespace
}  // namespace quendril
