#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "catalogue.h"
#include "filebytes.h"
#include "filehelpers.h"
#include "messages.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril {

// Found by argument-dependent lookup, so they live beside Failure.
bool operator==(const Failure& a, const Failure& b) {
    return a.kind == b.kind && a.code == b.code && a.extra == b.extra && a.reason == b.reason && a.area == b.area;
}
void PrintTo(const Failure& f, std::ostream* os) {
    *os << "{kind " << static_cast<int>(f.kind) << ", code " << f.code << ", '" << f.extra << "', '" << f.reason
        << "', area " << static_cast<int>(f.area) << '}';
}

namespace {

namespace fs = std::filesystem;
using test::ScopedWorkDir;
using test::readBytes;
using test::TestPrompt;
using test::writeBytes;
using Names = std::vector<std::string>;

void expectBox(const TestPrompt& p, const std::string& text, BoxButtons buttons) {
    ASSERT_FALSE(p.shown.empty());
    EXPECT_EQ(p.shown.back().text, text);
    EXPECT_EQ(p.shown.back().buttons, buttons);
}

Failure fileErr(int16_t number, const std::string& extra, const std::string& reason = "") {
    return {FailureKind::File, number, extra, reason, FailureArea::Files};
}

TEST(MessageRule, TextButtonsAndWhetherTheProgramEnds) {
    using K = FailureKind;
    constexpr BoxButtons ok = BoxButtons::Ok, retry = BoxButtons::RetryCancel;
    std::vector<std::tuple<FailureKind, int16_t, std::string, BoxButtons, bool>> cases = {
        {K::File, 53, "No file name\rf", ok, true}, {K::File, 52, "File nume/number error\rf", ok, true},
        {K::File, 54, "File mode error\rf", ok, true}, {K::File, 55, "The file is Opened already\rf", ok, true},
        {K::File, 58, "A file of same name exists already\rf", ok, true}, {K::File, 61, "Not enough free area\rf", ok, true},
        {K::File, 67, "Too meny files\rf", ok, true}, {K::File, 70, "Protected\rf", ok, true},
        {K::File, 75, "Pass error\rf", ok, true}, {K::File, 76, "No Pass\rf", ok, true},
        {K::File, 57, "Device I/O error\rf", retry, false}, {K::File, 68, "No device prepared\rf", retry, false},
        {K::File, 71, "No disc\rf", retry, false},
        {K::App, 0, "No environment setting file\rf", ok, true}, {K::App, 1, "No HTID Infomation file\rf", ok, true},
        {K::App, 2, "Environment settingfile error\rf", ok, true}, {K::App, 3, "Open error\rf", ok, false},
        {K::App, 4, "Unknown error\rf", ok, true}, {K::GivenUp, 0, "", ok, true},
    };
    // Numbers without a text of their own show the generic box without the extra text.
    for (int16_t n : std::initializer_list<int16_t>{51, 56, 59, 62, 63, 74, 77, 0, -5}) {
        cases.emplace_back(K::File, n, "ERROR!!!", ok, true);
    }
    for (const auto& [kind, code, text, buttons, ends] : cases) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + " code " + std::to_string(code));
        const MessageRule rule = messageRule({kind, code, "f", ""});
        EXPECT_EQ(rule.text, text);
        EXPECT_EQ(rule.buttons, buttons);
        EXPECT_EQ(rule.endsProgram, ends);
        if (kind == K::File) {
            EXPECT_EQ(fileErrMessage(code, "f"), text);
        }
    }
    EXPECT_EQ(fileErrMessage(54, ""), "File mode error\r");
}

TEST(MessageRule, ExitStatusAndStandardErrorLine) {
    const std::vector<std::tuple<Failure, int, std::string>> cases = {
        {{FailureKind::App, kAppErrOpen, "COM1", "Device busy", FailureArea::Line}, 3, "Open error COM1 (Device busy)"},
        {{FailureKind::File, kFileErrNotFound, "a.txt", "", FailureArea::Files}, 4, "No file name a.txt"},
        {{FailureKind::File, kFileErrRecordLength, "a.txt", "", FailureArea::Files}, 4, "ERROR!!!"},
        {{FailureKind::GivenUp, 0, "hostpc.ini", "", FailureArea::Settings}, 2, "hostpc.ini"},
    };
    for (const auto& [failure, status, line] : cases) {
        EXPECT_EQ(exitStatusOf(failure), status) << line;
        EXPECT_EQ(failureLine(failure), line);
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

TEST(AddBackslash, AppendsSeparatorOnlyWhenMissing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "/"}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/x/y", "/x/y/"}, {"a\\", "a\\/"},
    };
    for (auto [in, out] : cases) {
        appendSeparator(in);
        EXPECT_EQ(in, out);
    }
}

TEST(Files, ReportReturnsTheAnswerAndKeepsTheFirstEnding) {
    TestPrompt prompt;
    Files files(prompt, FailureArea::Line);
    prompt.answers = {kAnswerRetry, kAnswerCancel, kAnswerOk};
    const Failure io = fileErr(kFileErrDeviceIo, "COM1");
    EXPECT_EQ(files.report(io), kAnswerRetry);
    EXPECT_EQ(files.report(io), kAnswerCancel);
    EXPECT_EQ(files.report(io), kAnswerCancel);  // closing the box
    EXPECT_EQ(files.report({FailureKind::App, kAppErrOpen, "COM1", ""}), kAnswerOk);
    EXPECT_FALSE(files.ending());
    EXPECT_EQ(files.report(fileErr(kFileErrDiskFull, "a")), kAnswerOk);
    EXPECT_EQ(files.report({FailureKind::GivenUp, 0, "b", ""}), kAnswerOk);
    // A failure keeps the area its reporter gave it.
    EXPECT_EQ(files.ending(), fileErr(kFileErrDiskFull, "a"));
    ASSERT_EQ(prompt.failures.size(), 6u);
}

// Each test gets a fresh current directory, a scripted prompt and its own failure state.
class FileTest : public testing::Test {
protected:
    static bool exists(const std::string& path) { return fs::exists(path); }
    static std::error_code err(std::errc e) { return std::make_error_code(e); }

    ScopedWorkDir dir;
    TestPrompt prompt;
    Files files{prompt};
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
    for (const auto& [e, n] : cases) {
        EXPECT_EQ(fileErrNumber(err(e), "x"), n) << static_cast<int>(e);
        EXPECT_EQ(fileFailure(err(e), "x"), fileErr(n, "x", err(e).message()));
    }
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

// Every helper under the failure rule, on a fresh folder holding a.txt ("x"),
// t.txt ("first\n") and the directory sub. done tells whether the operation
// took place; extra is the text its boxes name.
struct RuledOperation {
    const char* name;
    std::string extra;
    std::function<bool(Files&)> done;
    bool okEnds = true;
};

const std::vector<RuledOperation> kRuledOperations = {
    {"killFile", "a.txt", [](Files& f) { killFile(f, "a.txt"); return !fs::exists("a.txt"); }},
    {"makeDir", "new", [](Files& f) { makeDir(f, "new"); return fs::is_directory("new"); }},
    {"openInput", "t.txt", [](Files& f) { InputFile in; return openInput(f, in, "t.txt") && in.isOpen(); }},
    {"lineInput", "",
     [](Files& f) {
         InputFile in;
         in.open("t.txt");
         std::string line = "kept";
         lineInput(f, in, line);
         return line == "first";
     }},
    {"listEntries", "*.txt", [](Files& f) { return listEntries(f, "*.txt", kMaskNormal) == Names{"a.txt", "t.txt"}; }},
    {"existFile", "a.txt", [](Files& f) { return existFile(f, "a.txt"); }},
    {"existDir", "sub", [](Files& f) { return existDir(f, "sub"); }, false},
    {"writeFileAtomically", "a.txt",
     [](Files& f) {
         const bool written = writeFileAtomically(f, "a.txt", "new");
         EXPECT_EQ(readBytes("a.txt"), written ? "new" : "x");
         return written;
     }},
    {"run", "p", [](Files& f) { return f.run("p", [] { return std::error_code{}; }); }},
};

TEST(FailureRule, RetryRunsAgainCancelGivesUpOkEnds) {
    struct Scenario {
        int16_t fault;
        int times;
        std::deque<BoxAnswer> answers;
        bool done;
        std::size_t boxes;
        std::string text;
        BoxButtons buttons;
    };
    constexpr BoxButtons retry = BoxButtons::RetryCancel;
    const std::vector<Scenario> scenarios = {
        {kFileErrDeviceIo, 2, {kAnswerRetry, kAnswerRetry}, true, 2, "Device I/O error\r", retry},
        {kFileErrDeviceUnavailable, 1, {kAnswerCancel}, false, 1, "No device prepared\r", retry},
        {kFileErrNotReady, 1, {kAnswerOk}, false, 1, "No disc\r", retry},  // closing the box cancels
        {kFileErrPermission, 1, {}, false, 1, "Protected\r", BoxButtons::Ok},
    };
    for (const RuledOperation& op : kRuledOperations) {
        for (const Scenario& s : scenarios) {
            SCOPED_TRACE(std::string(op.name) + " fault " + std::to_string(s.fault));
            ScopedWorkDir here;
            writeBytes("a.txt", "x");
            writeBytes("t.txt", "first\n");
            fs::create_directory("sub");
            TestPrompt prompt;
            prompt.answers = s.answers;
            Files files(prompt);
            files.injectFault(s.fault, s.times);
            EXPECT_EQ(op.done(files), s.done);
            EXPECT_EQ(prompt.shown.size(), s.boxes);
            expectBox(prompt, s.text + op.extra, s.buttons);
            const bool ends = s.buttons == BoxButtons::Ok && op.okEnds;
            EXPECT_EQ(files.ending(), ends ? std::optional(fileErr(s.fault, op.extra)) : std::nullopt);
            // Without a fault it works again, unless the program is to end:
            // then it gives up at once, without a box.
            EXPECT_EQ(op.done(files), !ends);
            EXPECT_EQ(prompt.shown.size(), s.boxes);
        }
    }
}

// Failures of the file system itself, each ending the program with its number.
TEST_F(FileTest, SystemFailuresEndWithTheirNumber) {
    using Op = std::function<void(Files&, const std::string&)>;
    const Op makeDirOp = [](Files& f, const std::string& p) { makeDir(f, p); };
    const Op openOp = [](Files& f, const std::string& p) { InputFile in; openInput(f, in, p); };
    const Op writeOp = [](Files& f, const std::string& p) { writeFileAtomically(f, p, "new"); };
    writeBytes("file", "x");
    fs::create_directory("d.ini");
    const std::vector<std::tuple<Op, std::string, int16_t>> cases = {
        {makeDirOp, "file", kFileErrExists}, {makeDirOp, "missing/sub", kFileErrPathNotFound},
        {openOp, "absent.txt", kFileErrNotFound}, {openOp, "d.ini", kFileErrPathAccess},
        {writeOp, "d.ini", kFileErrPathAccess}, {writeOp, "nodir/f.ini", kFileErrPathNotFound},
    };
    for (const auto& [op, path, n] : cases) {
        TestPrompt p;
        Files f(p);
        op(f, path);
        ASSERT_TRUE(f.ending()) << path;
        EXPECT_EQ(f.ending()->code, n) << path;
        EXPECT_EQ(f.ending()->extra, path);
        expectBox(p, fileErrMessage(n, path), BoxButtons::Ok);
    }
    // A failed write leaves the old entry and nothing beside it.
    EXPECT_TRUE(fs::is_directory("d.ini"));
    EXPECT_FALSE(exists("d.ini.new"));
}

TEST_F(FileTest, RunRetriesTheOperationAndKeepsTheSystemsReason) {
    int calls = 0;
    auto failTwice = [&] { return ++calls <= 2 ? err(std::errc::io_error) : std::error_code{}; };
    prompt.answers = {kAnswerRetry, kAnswerRetry};
    EXPECT_TRUE(files.run("p", failTwice));
    EXPECT_EQ(calls, 3);
    // An injected fault is taken before the operation runs.
    calls = 0;
    files.injectFault(kFileErrNotReady);
    EXPECT_FALSE(files.run("p", [&] { ++calls; return std::error_code{}; }));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(files.run("p", [] { return err(std::errc::permission_denied); }));
    EXPECT_EQ(files.ending(), fileErr(kFileErrPermission, "p", err(std::errc::permission_denied).message()));
}

TEST_F(FileTest, KillFileDeletesMatchingFilesOnlyAndIgnoresMissingOnes) {
    for (const char* name : {"a.txt", "B.TXT", "c.dat", "one"}) writeBytes(name, "x");
    fs::create_directory("d.txt");
    fs::create_directory("sub");
    killFile(files, dir.str() + "/*.txt");
    killFile(files, "one");  // deleted here, missing below
    for (const char* name : {"one", "nodir/a.txt", "*.none", "sub"}) killFile(files, name);
    files.injectFault(kFileErrNotFound);  // not found is no failure
    killFile(files, "c.dat");
    for (const char* gone : {"a.txt", "B.TXT", "one"}) EXPECT_FALSE(exists(gone)) << gone;
    for (const char* kept : {"c.dat", "d.txt", "sub"}) EXPECT_TRUE(exists(kept)) << kept;
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_FALSE(files.ending());
}

TEST_F(FileTest, MakeDirCreatesAndAcceptsAnExistingDirectory) {
    makeDir(files, "new");
    makeDir(files, "new");
    EXPECT_TRUE(fs::is_directory("new"));
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(FileTest, LineInputAcceptsEveryLineEndAndEndsPastTheEnd) {
    const std::vector<std::pair<std::string, Names>> cases = {
        {"a\r\nb\r\n", {"a", "b"}}, {"a\nb\n", {"a", "b"}}, {"a\rb\r", {"a", "b"}}, {"a\r\nb", {"a", "b"}},
        {"a\r\r\nb\n\nc", {"a", "", "b", "", "c"}},
        {std::string("n\0l\r\n\0", 6), {std::string("n\0l", 3), std::string("\0", 1)}}, {"\r\n", {""}}, {"", {}},
    };
    for (const auto& [bytes, lines] : cases) {
        writeBytes("t.txt", bytes);
        InputFile f;
        ASSERT_TRUE(openInput(files, f, "t.txt"));
        Names got;
        while (!f.atEnd()) {
            got.emplace_back("old");
            lineInput(files, f, got.back());
        }
        EXPECT_EQ(got, lines);
    }
    const std::string big(5 * 1024 * 1024, 'x');
    writeBytes("big.txt", big + "\r\nend");
    InputFile f;
    ASSERT_TRUE(openInput(files, f, "big.txt"));
    std::string line;
    lineInput(files, f, line);
    EXPECT_EQ(line, big);
    lineInput(files, f, line);
    EXPECT_EQ(line, "end");
    EXPECT_TRUE(f.atEnd());
    EXPECT_TRUE(prompt.shown.empty());
    // Reading past the end shows the generic box, ends, and leaves the line.
    lineInput(files, f, line);
    EXPECT_EQ(line, "end");
    expectBox(prompt, "ERROR!!!", BoxButtons::Ok);
    EXPECT_EQ(files.ending(), fileErr(kFileErrPastEnd, ""));
}

TEST_F(FileTest, AtomicWriteReplacesContentKeepingPermissionsAndLinks) {
    writeBytes("f.ini", "old");
    fs::permissions("f.ini", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(files, "f.ini", "new\r\n"));
    EXPECT_EQ(readBytes("f.ini"), "new\r\n");
    EXPECT_EQ(fs::status("f.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(files, "g.ini", std::string("\0x", 2)));
    EXPECT_EQ(readBytes("g.ini"), std::string("\0x", 2));

    fs::create_directory("elsewhere");
    writeBytes("elsewhere/real.ini", "old");
    fs::create_symlink("elsewhere/real.ini", "link.ini");
    ASSERT_TRUE(writeFileAtomically(files, "link.ini", "new"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(readBytes("elsewhere/real.ini"), "new");
    for (const char* left : {"f.ini.new", "link.ini.new", "elsewhere/real.ini.new"}) EXPECT_FALSE(exists(left)) << left;
}

class Listing : public FileTest {
protected:
    void SetUp() override {
        for (const char* name : {"b.txt", "A.LOD", "noext", ".hidden", "c.dat"}) writeBytes(name, "x");
        fs::create_directory("sub");
        fs::create_directory(".hid");
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
        {d + "*.lod", 0, {"A.LOD"}}, {d + "?.txt", 0, {"b.txt"}}, {"?.*", 0, {"A.LOD", "b.txt", "c.dat"}},
        {d + "noext.*", 0, {"noext"}}, {d + "*.", 0, {}}, {"[A-Z]*.*", 0, {}},
        {d + "b.txt", 0, {"b.txt"}}, {d + "B.TXT", 0, {}}, {d + "sub", 0, {}}, {d + "sub", 16, {"sub"}},
        {d + ".hidden", 0, {".hidden"}}, {d + ".hid", 16, {".hid"}}, {d + "missing/*.*", 16, {}}, {d + "missing", 16, {}}, {d + "b.txt/x", 0, {}},
        {"", 16, {}},
    };
    for (const auto& [pattern, mask, names] : cases) {
        EXPECT_EQ(listEntries(files, pattern, mask), names) << pattern << " mask " << mask;
    }
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(Listing, ExistDirAndExistFile) {
    const std::vector<std::tuple<std::string, bool, bool>> cases = {
        // path, existDir, existFile
        {"sub", true, false}, {"b.txt", true, true}, {dir.str(), true, false}, {dir.str() + "/", true, true},
        {"missing", false, false}, {"missing/deeper", false, false}, {".hidden", true, true}, {".hid", true, false}, {"", false, false},
    };
    for (const auto& [path, isDir, isFile] : cases) {
        EXPECT_EQ(existDir(files, path), isDir) << path;
        EXPECT_EQ(existFile(files, path), isFile) << path;
    }
    EXPECT_TRUE(prompt.shown.empty());
}

}  // namespace
}  // namespace quendril
