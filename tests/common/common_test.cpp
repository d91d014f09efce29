#include <gtest/gtest.h>
#include <unistd.h>

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
namespace {

namespace fs = std::filesystem;
using namespace test;
using Names = std::vector<std::string>;
using E = std::errc;

// Failures and rules as one text each, so that EXPECT_EQ compares and prints them whole.
std::string str(const std::optional<Failure>& f) {
    if (!f) return "none";
    return std::to_string(int(f->kind)) + "/" + std::to_string(f->code) + "/" + f->extra + "/" + f->reason + "/" +
           std::to_string(int(f->area));
}
std::string str(const MessageRule& r) {
    return r.text + (r.buttons == BoxButtons::Ok ? "|ok" : "|retry") + (r.endsProgram ? "|ends" : "");
}
Failure fileErr(int16_t n, const std::string& extra, const std::string& reason = "") {
    return {FailureKind::File, n, extra, reason, FailureArea::Files};
}
std::error_code err(E e) { return std::make_error_code(e); }
std::string lastBox(const TestPrompt& p) {
    return p.shown.empty() ? "no box" : str(MessageRule{p.shown.back().text, p.shown.back().buttons, false});
}

TEST(Messages, BoxRulesExitStatusAndLines) {
    const std::map<int, std::string> texts = {{52, "File nume/number error"}, {53, "No file name"},
        {54, "File mode error"}, {55, "The file is Opened already"}, {57, "Device I/O error"},
        {58, "A file of same name exists already"}, {61, "Not enough free area"}, {67, "Too meny files"},
        {68, "No device prepared"}, {70, "Protected"}, {71, "No disc"}, {75, "Pass error"}, {76, "No Pass"}};
    // Numbers without a text of their own show the generic box without the extra text.
    for (int16_t n = -2; n < 80; ++n) {
        const bool retry = n == 57 || n == 68 || n == 71;
        const std::string text = texts.count(n) ? texts.at(n) + "\rf" : "ERROR!!!";
        EXPECT_EQ(str(messageRule(fileErr(n, "f"))), text + (retry ? "|retry" : "|ok|ends")) << n;
        EXPECT_EQ(fileErrMessage(n, "f"), text);
    }
    const char* apps[] = {"No environment setting file", "No HTID Infomation file", "Environment settingfile error",
                          "Open error", "Unknown error"};
    for (int16_t c = 0; c < 5; ++c) {
        EXPECT_EQ(str(messageRule({FailureKind::App, c, "f", ""})), apps[c] + std::string(c == 3 ? "\rf|ok" : "\rf|ok|ends"));
    }
    EXPECT_EQ(str(messageRule({FailureKind::GivenUp, 0, "f", ""})), "|ok|ends");
    const std::vector<std::tuple<Failure, int, std::string>> lines = {
        {{FailureKind::App, kAppErrOpen, "COM1", "Device busy", FailureArea::Line}, 3, "Open error COM1 (Device busy)"},
        {fileErr(kFileErrNotFound, "a.txt"), 4, "No file name a.txt"}, {fileErr(59, "a.txt"), 4, "ERROR!!!"},
        {{FailureKind::GivenUp, 0, "hostpc.ini", "", FailureArea::Settings}, 2, "hostpc.ini"},
    };
    for (const auto& [failure, status, line] : lines) {
        EXPECT_EQ(exitStatusOf(failure), status) << line;
        EXPECT_EQ(failureLine(failure), line);
    }
    // An unattended run answers every box itself: Cancel to Retry/Cancel, OK to OK.
    StderrPrompt unattended;
    testing::internal::CaptureStderr();
    EXPECT_EQ(unattended.show(fileErr(kFileErrDeviceIo, "f", "bad")), kAnswerCancel);
    EXPECT_EQ(unattended.show(std::get<0>(lines[0])), kAnswerOk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QUENDRIL: Device I/O error f (bad)\nQUENDRIL: Open error COM1 (Device busy)\n");
}

// The first bit set, in the window's order, names the error line.
TEST(Messages, StatusWordText) {
    for (auto [word, text] : {std::pair{0, "Done"}, {0x0002, "Overrun Error"}, {0x0004, "Framing Error"},
             {0x0010, "Fatal Error"}, {0x0400, "Protocol Error"}, {0x0800, "Transfer Error"}, {0x4000, "Protocol Error"},
             {0x0020, "Done"}, {-32768, "Done"}, {0x0101, "Parity Error"}, {0x1100, "Time Out"}, {0x0108, "Buffer Full Error"},
             {0x0808, "Buffer Full Error"}, {0x3000, "File Open Error"}, {0x6000, "File Write Error"}, {0x0014, "Framing Error"},
             {0x0110, "Fatal Error"}, {0x0500, "Time Out"}, {0x0C00, "Protocol Error"}, {0x1800, "Transfer Error"}}) {
        EXPECT_EQ(statusText(int16_t(word)), text) << word;
    }
}

// A list of the windows is loaded as base + running counter up to its "end" entry.
TEST(Catalogue, ListsAndUnknownIds) {
    const int lists = 440 + langOffset;
    for (auto [id, text] : {std::pair{lists, "1200BPS"}, {lists + 7, "115200BPS"}, {lists + 8, "end"}, {1100, "Settings(&F)"},
                            {1414, "COM port"}, {1976, "No Pass"}, {1959, ""}, {0, ""}, {99999, ""}}) {
        EXPECT_EQ(loadResString(id), text) << id;
    }
}

TEST(Files, ReportReturnsTheAnswerKeepsTheFirstEndingAndAppendsSeparators) {
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
    EXPECT_EQ(str(files.ending()), str(fileErr(kFileErrDiskFull, "a")));
    EXPECT_EQ(prompt.failures.size(), 6u);
    for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"", "/"}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/x/y", "/x/y/"}, {"a\\", "a\\/"}}) {
        appendSeparator(in);
        EXPECT_EQ(in, out);
    }
}

// Each test gets a fresh current directory, a scripted prompt and its own failure state.
class FileTest : public testing::Test {
protected:
    ScopedWorkDir dir;
    TestPrompt prompt;
    Files files{prompt};
};

TEST_F(FileTest, FileErrNumberMapsOperatingSystemErrors) {
    const std::vector<std::pair<E, int16_t>> cases = {{E::permission_denied, 70}, {E::operation_not_permitted, 70},
        {E::read_only_file_system, 70}, {E::no_space_on_device, 61}, {E::file_too_large, 61}, {E::io_error, 57},
        {E::no_such_device, 68}, {E::no_such_device_or_address, 68}, {E::not_a_directory, 76},
        {E::too_many_symbolic_link_levels, 76}, {E::file_exists, 58}, {E::directory_not_empty, 58},
        {E::too_many_files_open, 67}, {E::too_many_files_open_in_system, 67}, {E::is_a_directory, 75},
        {E::filename_too_long, 52}, {E::invalid_argument, 52}, {E::bad_file_descriptor, 52},
        {E::device_or_resource_busy, 55}, {E::text_file_busy, 55}, {E::timed_out, 71},
        {E::resource_unavailable_try_again, 71}, {E::cross_device_link, 74}, {E::not_supported, 75}};
    for (const auto& [e, n] : cases) {
        EXPECT_EQ(fileErrNumber(err(e), "x"), n) << int(e);
        EXPECT_EQ(str(fileFailure(err(e), "x")), str(fileErr(n, "x", err(e).message())));
    }
    EXPECT_EQ(fileErrNumber({}, "x"), 0);
    EXPECT_EQ(str(fileFailure({}, "x")), str(fileErr(kFileErrPathAccess, "x")));
    // errno values reported by the system category map the same way; other
    // categories (here a stream error) hold no operating-system error.
    for (auto [e, n] : {std::pair{EACCES, 70}, {EDQUOT, 61}, {ENOMEDIUM, 71}}) {
        EXPECT_EQ(fileErrNumber(std::error_code(e, std::system_category()), "x"), n) << e;
    }
    EXPECT_EQ(fileErrNumber(std::make_error_code(std::io_errc::stream), "x"), 75);
    // Not found is a missing file when the parent exists, else a missing path.
    fs::create_directory("present");
    writeBytes("plain", "x");
    for (auto [path, n] : {std::pair{"present/file", 53}, {"file", 53}, {"missing/file", 76}, {"plain/f", 76}}) {
        EXPECT_EQ(fileErrNumber(err(E::no_such_file_or_directory), path), n) << path;
    }
}

// Every helper under the failure rule, on a fresh folder holding a.txt ("x"),
// t.txt ("first\n") and the directory sub: whether it did its work, and the
// extra text its boxes show.
struct RuledOperation {
    std::string extra;
    std::function<bool(Files&)> done;
    bool okEnds = true;
};
const std::vector<RuledOperation> kRuledOperations = {
    {"a.txt", [](Files& f) { killFile(f, "a.txt"); return !fs::exists("a.txt"); }},
    {"*.txt", [](Files& f) { killFile(f, "*.txt"); return !fs::exists("t.txt"); }},
    {"new", [](Files& f) { makeDir(f, "new"); return fs::is_directory("new"); }},
    {"t.txt", [](Files& f) { InputFile in; return openInput(f, in, "t.txt") && in.isOpen(); }},
    {"", [](Files& f) { InputFile in; in.open("t.txt"); std::string l = "kept"; lineInput(f, in, l); return l == "first"; }},
    {"*.txt", [](Files& f) { return listEntries(f, "*.txt", kMaskNormal) == Names{"a.txt", "t.txt"}; }},
    {"a.txt", [](Files& f) { return existFile(f, "a.txt"); }},
    {"sub", [](Files& f) { return existDir(f, "sub"); }, false},
    {"a.txt", [](Files& f) {
         const bool w = writeFileAtomically(f, "a.txt", "new");
         EXPECT_EQ(readBytes("a.txt"), w ? "new" : "x") << "a failed write changes nothing";
         return w;
     }},
    {"p", [](Files& f) { return f.run("p", [] { return std::error_code{}; }); }},
};

TEST(FailureRule, RetryRunsAgainCancelGivesUpOkEnds) {
    // The fault, how often, the answers, whether the work is done, the boxes shown and the last one.
    const std::vector<std::tuple<int16_t, int, std::deque<BoxAnswer>, bool, std::size_t, std::string>> scenarios = {
        {kFileErrDeviceIo, 2, {kAnswerRetry, kAnswerRetry}, true, 2, "Device I/O error\r%|retry"},
        {kFileErrDeviceUnavailable, 1, {kAnswerCancel}, false, 1, "No device prepared\r%|retry"},
        {kFileErrNotReady, 1, {kAnswerOk}, false, 1, "No disc\r%|retry"},  // closing the box cancels
        {kFileErrPermission, 1, {}, false, 1, "Protected\r%|ok"},
    };
    for (std::size_t i = 0; i < kRuledOperations.size(); ++i) {
        const RuledOperation& op = kRuledOperations[i];
        for (const auto& [fault, times, answers, done, boxes, box] : scenarios) {
            SCOPED_TRACE("operation " + std::to_string(i) + " fault " + std::to_string(fault));
            ScopedWorkDir here;
            writeBytes("a.txt", "x");
            writeBytes("t.txt", "first\n");
            fs::create_directory("sub");
            TestPrompt prompt;
            prompt.answers = answers;
            Files files(prompt);
            files.injectFault(fault, times);
            EXPECT_EQ(op.done(files), done);
            EXPECT_EQ(prompt.shown.size(), boxes);
            EXPECT_EQ(lastBox(prompt), std::string(box).replace(box.find('%'), 1, op.extra));
            const bool ends = fault == kFileErrPermission && op.okEnds;
            EXPECT_EQ(str(files.ending()), ends ? str(fileErr(fault, op.extra)) : "none");
            // Without a fault it works again, unless the program is to end:
            // then it gives up at once, without a box.
            EXPECT_EQ(op.done(files), !ends);
            EXPECT_EQ(prompt.shown.size(), boxes);
        }
    }
}

// Failures of the file system itself, each ending the program with its number.
TEST_F(FileTest, SystemFailuresEndWithTheirNumber) {
    using Op = std::function<void(Files&, const std::string&)>;
    const Op mkdir = [](Files& f, const std::string& p) { makeDir(f, p); };
    const Op open = [](Files& f, const std::string& p) { InputFile in; openInput(f, in, p); };
    const Op write = [](Files& f, const std::string& p) { writeFileAtomically(f, p, "new"); };
    const Op list = [](Files& f, const std::string& p) { listEntries(f, p, kMaskNormal); };
    writeBytes("file", "x");
    fs::create_directory("d.ini");
    fs::create_directory("shut");
    fs::permissions("shut", fs::perms::none);
    std::vector<std::tuple<Op, std::string, int16_t>> cases = {{mkdir, "file", 58}, {mkdir, "missing/sub", 76},
        {open, "absent.txt", 53}, {open, "d.ini", 75}, {write, "d.ini", 75}, {write, "nodir/f.ini", 76}};
    if (::geteuid() != 0) cases.insert(cases.end(), {{list, "shut/*.*", 70}, {list, "shut/x", 70}});  // root reads all
    for (const auto& [op, path, n] : cases) {
        TestPrompt p;
        Files f(p);
        op(f, path);
        EXPECT_EQ(f.ending() ? std::to_string(f.ending()->code) + " " + f.ending()->extra : "", std::to_string(n) + " " + path);
        EXPECT_EQ(lastBox(p), fileErrMessage(n, path) + "|ok");
    }
    fs::permissions("shut", fs::perms::owner_all);
    // A failed write leaves the old entry and nothing beside it.
    EXPECT_TRUE(fs::is_directory("d.ini"));
    EXPECT_FALSE(fs::exists("d.ini.new"));
}

TEST_F(FileTest, RunRetriesTheOperationAndKeepsTheSystemsReason) {
    int calls = 0;
    prompt.answers = {kAnswerRetry, kAnswerRetry};
    EXPECT_TRUE(files.run("p", [&] { return ++calls <= 2 ? err(E::io_error) : std::error_code{}; }));
    EXPECT_EQ(calls, 3);
    // An injected fault is taken before the operation runs.
    files.injectFault(kFileErrNotReady);
    EXPECT_FALSE(files.run("p", [&] { ++calls; return std::error_code{}; }));
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(files.run("p", [] { return err(E::permission_denied); }));
    EXPECT_EQ(str(files.ending()), str(fileErr(kFileErrPermission, "p", err(E::permission_denied).message())));
}

TEST_F(FileTest, KillMakeAndWriteAtomically) {
    for (const char* name : {"a.txt", "B.TXT", "c.dat", "one"}) writeBytes(name, "x");
    fs::create_directory("d.txt");
    fs::create_directory("sub");
    killFile(files, dir.str() + "/*.txt");
    for (const char* name : {"one", "one", "nodir/a.txt", "*.none", "sub"}) killFile(files, name);
    files.injectFault(kFileErrNotFound);  // not found is no failure
    killFile(files, "c.dat");
    for (const char* gone : {"a.txt", "B.TXT", "one"}) EXPECT_FALSE(fs::exists(gone)) << gone;
    for (const char* kept : {"c.dat", "d.txt", "sub"}) EXPECT_TRUE(fs::exists(kept)) << kept;
    makeDir(files, "new");
    makeDir(files, "new");
    EXPECT_TRUE(fs::is_directory("new"));
    EXPECT_EQ(lastBox(prompt), "no box");
    EXPECT_FALSE(files.ending());
    // An atomic write replaces the content, keeping permissions and links.
    writeBytes("f.ini", "old");
    fs::permissions("f.ini", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(files, "f.ini", std::string("new\0\r\n", 6)));
    EXPECT_EQ(readBytes("f.ini"), std::string("new\0\r\n", 6));
    EXPECT_EQ(fs::status("f.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory("elsewhere");
    writeBytes("elsewhere/real.ini", "old");
    fs::create_symlink("elsewhere/real.ini", "link.ini");
    ASSERT_TRUE(writeFileAtomically(files, "link.ini", "new"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(readBytes("elsewhere/real.ini"), "new");
    for (const char* left : {"f.ini.new", "link.ini.new", "elsewhere/real.ini.new"}) EXPECT_FALSE(fs::exists(left));
}

TEST_F(FileTest, LineInputAcceptsEveryLineEndAndEndsPastTheEnd) {
    const std::string big(70000, 'x');
    const std::vector<std::pair<std::string, Names>> cases = {{"a\r\nb\r\n", {"a", "b"}}, {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}}, {"a\r\nb", {"a", "b"}}, {"a\r\r\nb\n\nc", {"a", "", "b", "", "c"}},
        {std::string("n\0l\r\n\0", 6), {std::string("n\0l", 3), std::string("\0", 1)}}, {"\r\n", {""}}, {"", {}},
        {big + "\r\nend", {big, "end"}}};
    for (const auto& [bytes, lines] : cases) {
        writeBytes("t.txt", bytes);
        InputFile f;
        ASSERT_TRUE(openInput(files, f, "t.txt"));
        Names got;
        while (!f.atEnd()) lineInput(files, f, got.emplace_back("old"));
        EXPECT_EQ(got, lines);
    }
    EXPECT_EQ(lastBox(prompt), "no box");
    // Reading past the end shows the generic box, ends, and leaves the line.
    InputFile f;
    ASSERT_TRUE(openInput(files, f, "t.txt"));
    std::string line = "kept";
    for (int i = 0; i < 3; ++i) lineInput(files, f, line);
    EXPECT_EQ(line, "end");
    EXPECT_EQ(lastBox(prompt), "ERROR!!!|ok");
    EXPECT_EQ(str(files.ending()), str(fileErr(kFileErrPastEnd, "")));
}

TEST_F(FileTest, ListingPatternsMasksAndExistence) {
    for (const char* name : {"b.txt", "A.LOD", "noext", ".hidden"}) writeBytes(name, "x");
    fs::create_directory("sub");
    fs::create_symlink("nowhere", "dangling.txt");
    const std::string d = dir.str() + "/";
    // Nothing is hidden on this platform: names beginning with '.' are listed too.
    const Names normal = {".hidden", "A.LOD", "b.txt", "noext"};
    const std::vector<std::tuple<std::string, int, Names>> cases = {{d + "*.*", 0, normal}, {"*", 0, normal},
        {d, 0, normal}, {d, 16, {".", ".hidden", "A.LOD", "b.txt", "noext", "sub"}}, {d + "*.lod", 0, {"A.LOD"}},
        {"?.*", 0, {"A.LOD", "b.txt"}}, {d + "noext.*", 0, {"noext"}}, {d + "*.", 0, {}}, {"[A-Z]*.*", 0, {}},
        {"*x*", 0, {"b.txt", "noext"}}, {d + "B.TXT", 0, {}}, {d + "sub", 0, {}}, {d + "sub", 16, {"sub"}},
        {d + "missing/*.*", 16, {}}, {d + "b.txt/x", 0, {}}, {"", 16, {}}, {std::string(300, 'n'), 0, {}}};
    for (const auto& [pattern, mask, names] : cases) {
        EXPECT_EQ(listEntries(files, pattern, mask), names) << pattern << " mask " << mask;
    }
    const std::vector<std::tuple<std::string, bool, bool>> exist = {  // path, existDir, existFile
        {"sub", true, false}, {"b.txt", true, true}, {d, true, true}, {"missing/deeper", false, false}, {"", false, false},
        {"dangling.txt", false, false}};
    for (const auto& [path, isDir, isFile] : exist) {
        EXPECT_EQ(existDir(files, path), isDir) << path;
        EXPECT_EQ(existFile(files, path), isFile) << path;
    }
    EXPECT_EQ(lastBox(prompt), "no box");
}

}  // namespace
}  // namespace quendril
