#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "catalogue.h"
#include "filebytes.h"
#include "filehelpers.h"
#include "host.h"
#include "messages.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril {
namespace {

namespace fs = std::filesystem;
using test::ProgramEnded;
using test::ScopedWorkDir;
using test::readBytes;
using test::TestHost;
using test::writeBytes;
using Names = std::vector<std::string>;

void expectBox(const TestHost& h, const std::string& text, BoxButtons buttons) {
    ASSERT_FALSE(h.shown.empty());
    EXPECT_EQ(h.shown.back().text, text);
    EXPECT_EQ(h.shown.back().buttons, buttons);
}

TEST(DispFileErr, ShowsTextButtonsAndReturnsAnswer) {
    // OK boxes answer 1; numbers without a text of their own show the generic box without the extra text.
    const std::vector<std::pair<int16_t, std::string>> okBoxes = {
        {53, "No file name\rf"}, {52, "File nume/number error\rf"}, {54, "File mode error\rf"},
        {55, "The file is Opened already\rf"}, {58, "A file of same name exists already\rf"},
        {61, "Not enough free area\rf"}, {67, "Too meny files\rf"}, {70, "Protected\rf"}, {75, "Pass error\rf"},
        {76, "No Pass\rf"}, {56, "ERROR!!!"}, {59, "ERROR!!!"}, {62, "ERROR!!!"}, {63, "ERROR!!!"},
        {51, "ERROR!!!"}, {77, "ERROR!!!"}, {0, "ERROR!!!"}, {-5, "ERROR!!!"},
    };
    // Retry/Cancel boxes: Retry answers 0, Cancel 2, and closing the box counts as Cancel.
    const std::vector<std::tuple<int16_t, int16_t, std::string, int16_t>> retryBoxes = {
        {57, kAnswerRetry, "Device I/O error\rf", 0}, {68, kAnswerCancel, "No device prepared\rf", 2},
        {71, kAnswerRetry, "No disc\rf", 0}, {71, kAnswerCancel, "No disc\rf", 2}, {71, kAnswerOk, "No disc\rf", 2},
    };
    auto check = [](int16_t number, int16_t answer, const std::string& text, BoxButtons buttons, int16_t result) {
        SCOPED_TRACE("number " + std::to_string(number));
        TestHost h;
        h.answers.push_back(answer);
        EXPECT_EQ(dispFileErr(number, "f"), result);
        ASSERT_EQ(h.shown.size(), 1u);
        expectBox(h, text, buttons);
        EXPECT_EQ(fileErrMessage(number, "f"), text);
        EXPECT_EQ(h.endCount, 0);
    };
    for (const auto& [number, text] : okBoxes) check(number, kAnswerOk, text, BoxButtons::Ok, 1);
    for (const auto& [number, answer, text, result] : retryBoxes) check(number, answer, text, BoxButtons::RetryCancel, result);
    EXPECT_EQ(fileErrMessage(54, ""), "File mode error\r");
}

TEST(DispAppErr, ShowsTextCrAndExtraWithOkOnly) {
    const std::vector<std::tuple<int16_t, std::string, std::string>> cases = {
        {0, "", "No environment setting file\r"}, {1, "", "No HTID Infomation file\r"},
        {2, "", "Environment settingfile error\r"}, {3, "COM1", "Open error\rCOM1"}, {4, "x", "Unknown error\rx"},
    };
    for (const auto& [code, extra, text] : cases) {
        TestHost h;
        EXPECT_EQ(dispAppErr(code, extra), 1);
        ASSERT_EQ(h.shown.size(), 1u);
        expectBox(h, text, BoxButtons::Ok);
    }
}

// Lists are loaded as base + running counter until each "end" entry.
TEST(Catalogue, CommunicationListsCloseWithEnd) {
    std::vector<Names> lists(1);
    for (int k = 0; k <= 21; ++k) {
        const std::string text = loadResString(440 + k + langOffset);
        if (text == "end") {
            lists.emplace_back();
        } else {
            lists.back().push_back(text);
        }
    }
    lists.pop_back();
    const std::vector<Names> expected = {
        {"1200BPS", "2400BPS", "4800BPS", "9600BPS", "19200BPS", "38400BPS", "57600BPS", "115200BPS"},
        {"None", "Odd", "Even"}, {"8bit", "7bit"}, {"1bit", "2bit"}, {"COM0", "COM1"},
    };
    EXPECT_EQ(lists, expected);
}

TEST(Catalogue, ComputedIdsAndUnknownIds) {
    const std::vector<std::pair<int, std::string>> cases = {
        {1100, "Settings(&F)"}, {1105, "Exit QUENDRIL(&X)"}, {1118, "Red  :Error end"}, {1117, "Blue :Done"},
        {1120, "Cancel"}, {1142, "Transmit File"}, {1211, "No. of connecting I/O Boxes"},
        {1313, "Transmitting file type"}, {1340, "Only AP appointment file"}, {1414, "COM port"}, {1800, "Done"},
        {1812, "Buffer Full Error"}, {1701, "No HTID Infomation file"}, {1976, "No Pass"}, {1959, ""},
        {1119, ""}, {100, ""}, {0, ""}, {-1, ""}, {99999, ""},
    };
    for (const auto& [id, text] : cases) EXPECT_EQ(loadResString(id), text) << id;
}

TEST(ConsoleHost, AnswersCancelAndOkWithoutScreen) {
    setHost(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dispFileErr(71, "/x"), kAnswerCancel);
    EXPECT_EQ(dispFileErr(53, "/x"), kAnswerOk);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("No disc"), std::string::npos);
    EXPECT_NE(err.find("No file name"), std::string::npos);
}

TEST(ConsoleHostDeathTest, EndProgramExitsWithCode) {
    setHost(nullptr);
    EXPECT_EXIT(endProgram(3), testing::ExitedWithCode(3), "");
}

TEST(AddBackslash, AppendsSeparatorOnlyWhenMissing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "/"}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/x/y", "/x/y/"}, {"a\\", "a\\/"},
    };
    for (auto [in, out] : cases) {
        appendSeparator(in);
        EXPECT_EQ(in, out);
    }
}

// Each test gets a fresh current directory, a scripted host and no injected faults left over.
class FileTest : public testing::Test {
protected:
    void SetUp() override { clearFileFaults(); }
    void TearDown() override { clearFileFaults(); }
    static bool exists(const std::string& path) { return fs::exists(path); }
    static std::error_code err(std::errc e) { return std::make_error_code(e); }

    ScopedWorkDir dir;
    TestHost host;
};

TEST_F(FileTest, FileErrNumberMapsOperatingSystemErrors) {
    using E = std::errc;
    const std::vector<std::pair<std::errc, int16_t>> cases = {
        {E::permission_denied, 70}, {E::operation_not_permitted, 70}, {E::read_only_file_system, 70},
        {E::no_space_on_device, 61}, {E::file_too_large, 61}, {E::io_error, 57}, {E::no_such_device, 68},
        {E::no_such_device_or_address, 68}, {E::not_a_directory, 76}, {E::file_exists, 58},
        {E::too_many_files_open, 67}, {E::too_many_files_open_in_system, 67}, {E::is_a_directory, 75},
        {E::filename_too_long, 52}, {E::device_or_resource_busy, 55}, {E::timed_out, 71},
        {E::cross_device_link, 74}, {E::not_supported, 75},
    };
    for (const auto& [e, n] : cases) EXPECT_EQ(fileErrNumber(err(e), "x"), n) << static_cast<int>(e);
    EXPECT_EQ(fileErrNumber({}, "x"), 0);
    // errno values reported by the system category map the same way.
    EXPECT_EQ(fileErrNumber(std::error_code(EACCES, std::system_category()), "x"), 70);
    EXPECT_EQ(fileErrNumber(std::error_code(EDQUOT, std::system_category()), "x"), 61);
    // Errors of other kinds (here a stream error) are no operating-system condition.
    EXPECT_EQ(fileErrNumber(std::make_error_code(std::io_errc::stream), "x"), 75);
    // Not found is a missing file when the parent exists, else a missing path.
    fs::create_directory("present");
    const std::vector<std::pair<std::string, int16_t>> notFound = {
        {"present/file", 53}, {"file", 53}, {"missing/file", 76}, {"missing/deeper/file", 76}};
    for (const auto& [path, n] : notFound) EXPECT_EQ(fileErrNumber(err(E::no_such_file_or_directory), path), n);
}

TEST_F(FileTest, KillFileDeletesMatchingFilesOnlyAndIgnoresMissingOnes) {
    for (const char* name : {"a.txt", "B.TXT", "c.dat", "one"}) writeBytes(name, "x");
    fs::create_directory("d.txt");
    fs::create_directory("sub");
    killFile(dir.str() + "/*.txt");
    killFile("one");  // deleted here, missing below
    for (const char* name : {"one", "nodir/a.txt", "*.none", "sub"}) killFile(name);
    for (const char* gone : {"a.txt", "B.TXT", "one"}) EXPECT_FALSE(exists(gone)) << gone;
    for (const char* kept : {"c.dat", "d.txt", "sub"}) EXPECT_TRUE(exists(kept)) << kept;
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(FileTest, KillFileFailureRule) {
    writeBytes("a.txt", "x");
    injectFileFault(53);  // not found is no failure
    killFile("a.txt");
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(exists("a.txt"));

    injectFileFault(68);
    host.answers = {kAnswerCancel};
    killFile("a.txt");
    EXPECT_TRUE(exists("a.txt"));

    injectFileFault(70);
    EXPECT_THROW(killFile("a.txt"), ProgramEnded);
    expectBox(host, "Protected\ra.txt", BoxButtons::Ok);
    EXPECT_TRUE(exists("a.txt"));

    injectFileFault(57, 2);
    host.answers = {kAnswerRetry, kAnswerRetry};
    killFile("a.txt");
    ASSERT_EQ(host.shown.size(), 4u);
    expectBox(host, "Device I/O error\ra.txt", BoxButtons::RetryCancel);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(host.endCount, 1);
}

TEST_F(FileTest, MakeDirCreatesAcceptsExistingAndReportsFailures) {
    makeDir("new");
    makeDir("new");
    EXPECT_TRUE(fs::is_directory("new"));
    EXPECT_TRUE(host.shown.empty());
    writeBytes("file", "x");
    for (const auto& [path, text] : std::vector<std::pair<std::string, std::string>>{
             {"file", "A file of same name exists already\rfile"}, {"missing/sub", "No Pass\rmissing/sub"}}) {
        EXPECT_THROW(makeDir(path), ProgramEnded);
        EXPECT_EQ(host.shown.back().text, text);
    }
    EXPECT_EQ(host.endCount, 2);
}

TEST_F(FileTest, LineInputAcceptsEveryLineEnd) {
    const std::vector<std::pair<std::string, Names>> cases = {
        {"a\r\nb\r\n", {"a", "b"}}, {"a\nb\n", {"a", "b"}}, {"a\rb\r", {"a", "b"}}, {"a\r\nb", {"a", "b"}},
        {"a\r\r\nb\n\nc", {"a", "", "b", "", "c"}},
        {std::string("n\0l\r\n\0", 6), {std::string("n\0l", 3), std::string("\0", 1)}}, {"\r\n", {""}}, {"", {}},
    };
    for (const auto& [bytes, lines] : cases) {
        writeBytes("t.txt", bytes);
        InputFile f;
        ASSERT_TRUE(openInput(f, "t.txt"));
        Names got;
        while (!f.atEnd()) {
            got.emplace_back("old");
            lineInput(f, got.back());
        }
        EXPECT_EQ(got, lines);
    }
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
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(FileTest, LineInputFailureRule) {
    writeBytes("t.txt", "first\n");
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
    // Reading past the end shows the generic box and ends.
    EXPECT_THROW(lineInput(f, line), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "ERROR!!!");
    EXPECT_EQ(line, "first");
}

TEST_F(FileTest, OpenInputFailureRule) {
    InputFile f;
    EXPECT_THROW(openInput(f, "absent.txt"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No file name\rabsent.txt");
    fs::create_directory("d");
    EXPECT_THROW(openInput(f, "d"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Pass error\rd");

    writeBytes("ok.txt", "x");
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(openInput(f, "ok.txt"));
    EXPECT_FALSE(f.isOpen());
}

TEST_F(FileTest, AtomicWriteReplacesContentKeepingPermissionsAndLinks) {
    writeBytes("f.ini", "old");
    fs::permissions("f.ini", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically("f.ini", "new\r\n"));
    EXPECT_EQ(readBytes("f.ini"), "new\r\n");
    EXPECT_EQ(fs::status("f.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically("g.ini", std::string("\0x", 2)));
    EXPECT_EQ(readBytes("g.ini"), std::string("\0x", 2));

    fs::create_directory("elsewhere");
    writeBytes("elsewhere/real.ini", "old");
    fs::create_symlink("elsewhere/real.ini", "link.ini");
    ASSERT_TRUE(writeFileAtomically("link.ini", "new"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(readBytes("elsewhere/real.ini"), "new");
    for (const char* left : {"f.ini.new", "link.ini.new", "elsewhere/real.ini.new"}) EXPECT_FALSE(exists(left)) << left;
}

TEST_F(FileTest, AtomicWriteFailureKeepsOldFileAndLeavesNothing) {
    writeBytes("f.ini", "old");
    injectFileFault(61);
    EXPECT_THROW(writeFileAtomically("f.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Not enough free area\rf.ini");
    injectFileFault(57);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(writeFileAtomically("f.ini", "new"));
    EXPECT_EQ(readBytes("f.ini"), "old");
    EXPECT_FALSE(exists("f.ini.new"));

    fs::create_directory("d.ini");
    EXPECT_THROW(writeFileAtomically("d.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Pass error\rd.ini");
    EXPECT_FALSE(exists("d.ini.new"));
    EXPECT_THROW(writeFileAtomically("nodir/f.ini", "new"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No Pass\rnodir/f.ini");
}

TEST_F(FileTest, CallerOperationsFollowTheFailureRule) {
    int calls = 0;
    auto failTwice = [&] { return ++calls <= 2 ? err(std::errc::io_error) : std::error_code{}; };
    host.answers = {kAnswerRetry, kAnswerRetry};
    EXPECT_TRUE(runFileOperation("p", failTwice));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(host.shown.size(), 2u);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(runFileOperation("p", [] { return err(std::errc::io_error); }));
    EXPECT_THROW(runFileOperation("p", [] { return err(std::errc::permission_denied); }), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Protected\rp");
    // An injected fault is taken before the operation runs.
    calls = 0;
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(runFileOperation("p", [&] { ++calls; return std::error_code{}; }));
    EXPECT_EQ(calls, 0);

    host.answers = {kAnswerRetry, kAnswerCancel};
    EXPECT_EQ(reportFileFailure(err(std::errc::io_error), "a"), kAnswerRetry);
    EXPECT_EQ(reportFileFailure(err(std::errc::io_error), "a"), kAnswerCancel);
    EXPECT_THROW(reportFileFailure(err(std::errc::no_space_on_device), "a"), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "Not enough free area\ra");
}

class Listing : public FileTest {
protected:
    void SetUp() override {
        FileTest::SetUp();
        for (const char* name : {"b.txt", "A.LOD", "noext", ".hidden", "c.dat"}) writeBytes(name, "x");
        fs::create_directory("sub");
        fs::create_directory(".hid");
    }
    Names listAll(const std::string& pattern, int mask) {
        Names names;
        for (std::string n = dirFirst(pattern, mask); !n.empty(); n = dirNext()) names.push_back(n);
        return names;
    }
};

TEST_F(Listing, PatternsAndMasks) {
    const std::string d = dir.str() + "/";
    // Nothing is hidden on this platform: names beginning with '.' are listed too.
    const Names normal = {".hidden", "A.LOD", "b.txt", "c.dat", "noext"};
    const std::vector<std::tuple<std::string, int, Names>> cases = {
        {d + "*.*", 0, normal}, {"*.*", 0, normal}, {d + "*", 0, normal}, {d, 0, normal},
        {d + "*.*", 16, {".hid", ".hidden", "A.LOD", "b.txt", "c.dat", "noext", "sub"}},
        {d, 16, {".", ".hid", ".hidden", "A.LOD", "b.txt", "c.dat", "noext", "sub"}},
        {d + "*.lod", 0, {"A.LOD"}}, {d + "?.txt", 0, {"b.txt"}}, {d + "noext.*", 0, {"noext"}}, {d + "*.", 0, {}},
        {d + "b.txt", 0, {"b.txt"}}, {d + "B.TXT", 0, {}}, {d + "sub", 0, {}}, {d + "sub", 16, {"sub"}},
        {d + ".hidden", 0, {".hidden"}}, {d + ".hid", 16, {".hid"}}, {d + "missing/*.*", 16, {}}, {d + "missing", 16, {}}, {d + "b.txt/x", 0, {}},
        {"", 16, {}},
    };
    for (const auto& [pattern, mask, names] : cases) EXPECT_EQ(listAll(pattern, mask), names) << pattern << " mask " << mask;
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, ListingStateAcrossCalls) {
    EXPECT_EQ(dirFirst("[A-Z]*.*", 0), "");
    EXPECT_EQ(dirFirst("?.*", 0), "A.LOD");
    // Existence tests leave the listing alone.
    EXPECT_TRUE(existFile("c.dat"));
    EXPECT_TRUE(existDir("sub"));
    EXPECT_EQ(dirNext(), "b.txt");
    // A new listing ends the previous one; past the last name comes "" without a box.
    EXPECT_EQ(dirFirst("*.dat", 0), "c.dat");
    EXPECT_EQ(dirNext(), "");
    EXPECT_EQ(dirNext(), "");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, DirFirstAndDirNextFailureRule) {
    injectFileFault(71);
    host.answers = {kAnswerRetry};
    EXPECT_EQ(dirFirst("*.dat", 0), "c.dat");
    EXPECT_EQ(host.shown.back().text, "No disc\r*.dat");
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_EQ(dirFirst("*.dat", 0), "");
    EXPECT_EQ(dirNext(), "");
    injectFileFault(70);
    EXPECT_THROW(dirFirst("*.dat", 0), ProgramEnded);

    // dirNext's box names the next entry, and Cancel does not lose it.
    EXPECT_EQ(dirFirst("?.*", 0), "A.LOD");
    injectFileFault(57);
    host.answers = {kAnswerCancel};
    EXPECT_EQ(dirNext(), "");
    EXPECT_EQ(host.shown.back().text, "Device I/O error\rb.txt");
    EXPECT_EQ(dirNext(), "b.txt");
    injectFileFault(57);
    host.answers = {kAnswerRetry};
    EXPECT_EQ(dirNext(), "c.dat");
}

TEST_F(Listing, ExistDirAndExistFile) {
    const std::vector<std::tuple<std::string, bool, bool>> cases = {
        // path, existDir, existFile
        {"sub", true, false}, {"b.txt", true, true}, {dir.str(), true, false}, {dir.str() + "/", true, true},
        {"missing", false, false}, {"missing/deeper", false, false}, {".hidden", true, true}, {".hid", true, false}, {"", false, false},
    };
    for (const auto& [path, isDir, isFile] : cases) {
        EXPECT_EQ(existDir(path), isDir) << path;
        EXPECT_EQ(existFile(path), isFile) << path;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, ExistenceFailureRule) {
    injectFileFault(71);
    host.answers = {kAnswerRetry};
    EXPECT_TRUE(existFile("b.txt"));
    ASSERT_EQ(host.shown.size(), 1u);
    expectBox(host, "No disc\rb.txt", BoxButtons::RetryCancel);
    injectFileFault(71, 3);
    host.answers = {kAnswerRetry, kAnswerRetry, kAnswerCancel};
    EXPECT_FALSE(existFile("b.txt"));
    EXPECT_EQ(host.shown.size(), 4u);
    injectFileFault(53);
    EXPECT_THROW(existFile("b.txt"), ProgramEnded);

    // existDir: OK gives false and goes on.
    injectFileFault(70);
    EXPECT_FALSE(existDir("sub"));
    EXPECT_EQ(host.shown.back().text, "Protected\rsub");
    EXPECT_EQ(host.endCount, 1);
    injectFileFault(68);
    host.answers = {kAnswerRetry};
    EXPECT_TRUE(existDir("sub"));
}

}  // namespace
}  // namespace quendril
