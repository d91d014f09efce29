#include <gtest/gtest.h>

#include <filesystem>

#include "filebytes.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Lines = std::vector<std::string>;

// Failures and terminal tables as one text each, so that EXPECT_EQ compares and prints them whole.
std::string str(const std::optional<Failure>& f) {
    if (!f) return "none";
    return std::to_string(int(f->kind)) + "/" + std::to_string(f->code) + "/" + f->extra + "/" + f->reason + "/" +
           std::to_string(int(f->area));
}
std::string str(const TerminalTable& table) {
    std::string out;
    for (const Terminal& t : table) out += "{" + t.htId + "|" + t.recvDir + "|" + t.sendDir + "|" + t.fileKind + "}";
    return out;
}
std::string joined(const Lines& lines, const std::string& eol = "\r\n") {
    std::string out;
    for (const std::string& l : lines) out += l + eol;
    return out;
}
std::string fail(FailureKind kind, int16_t code, const std::string& extra, const std::string& reason = "") {
    return str(Failure{kind, code, extra, reason, FailureArea::Settings});
}

TEST(Settings, Numbers) {
    const std::vector<std::pair<std::string, int32_t>> cases = {{"", 0}, {"\t 12abc", 12}, {"+7", 7}, {"-3", -3},
        {"- 3", 0}, {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {".5", 0}, {"1.", 1}, {".", 0}, {"1e3", 1000}, {"1D2", 100},
        {"1d2", 100}, {"1E2", 100}, {"1e+", 1}, {"2E-1", 0}, {"1.2.3", 1}, {"2147483647", INT32_MAX},
        {"2147483646", INT32_MAX - 1}, {"-2147483648", INT32_MIN}, {"-2147483647", INT32_MIN + 1},
        {"-99999999999", INT32_MIN}, {"1e400", INT32_MAX}, {"-1e400", INT32_MIN}, {"1e-400", 0}};
    for (const auto& [text, value] : cases) EXPECT_EQ(numericValue(text), value) << '"' << text << '"';
    for (auto [text, w] : {std::pair{" 5 ", true}, {"1.5", true}, {"1e2", true}, {"  ", false}, {"1 2", false},
                           {"-", false}}) {
        EXPECT_EQ(isWholeNumber(text), w) << '"' << text << '"';
    }
}

// A fresh current directory, a scripted prompt, its own failure state.
class SettingsTest : public testing::Test {
protected:
    // A valid settings file whose directories are the current one.
    Lines validLines() const { return {"HOSTPC.INI16000308000100500300003", cwd, cwd, cwd, "ALL", "HOSTPCID.INF", ""}; }
    // Writes hostpc.ini with line i replaced by text and returns its bytes.
    std::string writeIniLines(std::size_t i, const std::string& text) {
        Lines lines = validLines();
        lines[i] = text;
        writeBytes(kIniFileName, joined(lines));
        return joined(lines);
    }
    // Reads hostpc.ini with a fresh failure state, as every run does.
    bool load(std::deque<BoxAnswer> answers = {}, int faults = 0) {
        prompt.answers = std::move(answers);
        files = Files(prompt);
        files.injectFault(kFileErrNotReady, faults);
        return readSettings(files, settings);
    }
    ScopedWorkDir dir;
    TestPrompt prompt;
    Files files{prompt};
    Settings settings;
    std::string cwd = fs::current_path().string();
};

TEST_F(SettingsTest, MissingFileWritesDefaultsAndAnyLineEndLoads) {
    ASSERT_TRUE(load());
    EXPECT_EQ(readBytes(kIniFileName), joined(validLines()));
    EXPECT_EQ(settings, defaultSettings());
    Lines six = validLines();
    six.pop_back();
    const std::string sixCrLf = joined(six);
    for (const std::string& bytes : {joined(validLines(), "\n"), joined(validLines(), "\r"), sixCrLf,
                                     sixCrLf.substr(0, sixCrLf.size() - 2), joined(validLines()) + "ignored\r\n"}) {
        writeBytes(kIniFileName, bytes);
        settings = {};
        ASSERT_TRUE(load());
        EXPECT_EQ(settings, defaultSettings());
    }
    EXPECT_TRUE(prompt.shown.empty());
}

// Each case changes one line: the value read falls back or is kept, the file
// itself is never rewritten, and no box is shown.
TEST_F(SettingsTest, LineValuesAreCheckedAndReplacedInMemoryOnly) {
    fs::create_directories("pc/.inbox");
    writeBytes("afile", "x");
    using F = std::string Settings::*;
    const F box = &Settings::ioBoxCount, port = &Settings::comPort, baud = &Settings::baudCode, len = &Settings::dataLength,
            par = &Settings::parityCode, stop = &Settings::stopBits, a = &Settings::lineParamA, b = &Settings::lineParamB,
            c = &Settings::lineParamC, kind = &Settings::fileKind, ap = &Settings::apDir, word = &Settings::appendWord;
    const std::string t = "HOSTPC.INI", here = cwd + "/", s = t + "1201020701";
    const std::vector<std::tuple<std::size_t, std::string, F, std::string>> cases = {
        {0, t + "00000308000100500300003", box, "16"}, {0, t + "17000308000100500300003", box, "16"},
        {0, t + "01000308000100500300003", box, "01"}, {0, t + "A5000308000100500300003", box, "16"},
        {0, t + "16020308000100500300003", port, "00"}, {0, t + "16010308000100500300003", port, "01"},
        {0, t + "16000808000100500300003", baud, "03"}, {0, t + "16000708000100500300003", baud, "07"},
        {0, t + "16000706000100500300003", len, "08"}, {0, t + "16000307000100500300003", len, "07"},
        {0, t + "16000308030100500300003", par, "00"}, {0, t + "16000308020100500300003", par, "02"},
        {0, t + "16000308000000500300003", stop, "01"}, {0, t + "16000308000200500300003", stop, "02"},
        {0, t + "16000308000100290300003", a, "0050"}, {0, t + "16000308000103010300003", a, "0050"},
        {0, t + "16000308000103000300003", a, "0300"}, {0, t + "16000308000100300300003", a, "0030"},
        {0, t + "16000308000100501000103", b, "03000"}, {0, t + "16000308000100501000003", b, "10000"},
        {0, t + "16000308000100500049903", b, "03000"}, {0, t + "16000308000100500050003", b, "00500"},
        {0, t + "160003080001005003000-1", c, "03"}, {0, t + "1600030800010050030009999", c, "99"},
        {0, t + "16000308000100500300000", c, "00"}, {0, s, baud, "02"}, {0, s, stop, "01"}, {0, s, c, "03"},
        {1, "  " + cwd + "/nothere  ", ap, here}, {1, "afile", ap, "afile"}, {3, "", &Settings::sendDir, here},
        {2, "pc/.inbox", &Settings::recvDir, "pc/.inbox"}, {4, " All ", kind, "All"}, {4, "XYZ", kind, "ALL"},
        {4, "LODX", kind, "LOD"}, {5, " x/ids.inf\t", &Settings::htIdFile, "x/ids.inf"}, {6, "Append\t", word, "APPEND"},
        {6, " APP END", word, "APP END"}};
    for (const auto& [line, text, field, expected] : cases) {
        const std::string bytes = writeIniLines(line, text);
        ASSERT_TRUE(load()) << text;
        EXPECT_EQ(settings.*field, expected) << text;
        EXPECT_EQ(settings.appendMode, expected == "APPEND") << text;
        EXPECT_EQ(readBytes(kIniFileName), bytes) << text;
    }
    EXPECT_TRUE(prompt.shown.empty());
}

// Nothing of a damaged file is used, and the file stays as it was.
TEST_F(SettingsTest, DamagedFilesEndWithTheSettingsErrorAndStayUntouched) {
    Lines fiveLines = validLines();
    fiveLines.resize(5);
    for (const std::string& bytes : {writeIniLines(0, "hostpc.ini16000308000100500300003"), writeIniLines(5, "   "),
                                     joined(fiveLines), std::string("\0\0\0\0", 4)}) {
        writeBytes(kIniFileName, bytes);
        settings = {};
        EXPECT_FALSE(load());
        EXPECT_EQ(str(files.ending()), fail(FailureKind::App, kAppErrSettingsFile, ""));
        EXPECT_EQ(prompt.shown.back().text, "Environment settingfile error\r");
        EXPECT_EQ(readBytes(kIniFileName), bytes);
        EXPECT_EQ(settings, Settings{});
    }
}

// A file that cannot be opened or read ends the program, and what stood
// there is not replaced by defaults, not even after a cancelled box.
TEST_F(SettingsTest, UnreadableFileEndsWithTheSettingsArea) {
    const std::string settingsError = fail(FailureKind::App, kAppErrSettingsFile, "");
    // What stands there, faults injected, the answers, whether it loads, the ending, the boxes shown.
    const std::vector<std::tuple<std::string, int, std::deque<BoxAnswer>, bool, std::string, std::size_t>> cases = {
        {"directory", 0, {}, false, fail(FailureKind::File, kFileErrPathAccess, kIniFileName), 1},
        {"dangling link", 0, {}, false, fail(FailureKind::File, kFileErrNotFound, kIniFileName), 1},
        {"open cancelled", 2, {kAnswerCancel, kAnswerCancel}, false, fail(FailureKind::GivenUp, 0, kIniFileName), 3},
        {"existence test cancelled", 1, {kAnswerCancel}, true, "none", 1},
        // Every line's read fails: Cancel leaves it empty, Retry reads again.
        {"read error", 0, {}, false, settingsError, 8},
        {"read error retried", 0, {kAnswerRetry, kAnswerRetry}, false, settingsError, 10},
    };
    for (const auto& [what, faults, answers, loads, ending, boxes] : cases) {
        SCOPED_TRACE(what);
        ScopedWorkDir here;
        if (what == "directory") fs::create_directory(kIniFileName);
        if (what == "dangling link") fs::create_symlink("nowhere/hostpc.ini", kIniFileName);
        // Reading this file fails with an I/O error at its first byte.
        if (what.starts_with("read error")) fs::create_symlink("/proc/self/mem", kIniFileName);
        if (what.find("cancelled") != std::string::npos) writeIniLines(0, "HOSTPC.INI04000308000100500300003");
        prompt = TestPrompt();
        settings = {};
        EXPECT_EQ(load(answers, faults), loads);
        EXPECT_EQ(str(files.ending()), ending);
        EXPECT_EQ(prompt.shown.size(), boxes);
        EXPECT_EQ(files.area(), FailureArea::Files);
        EXPECT_EQ(settings.ioBoxCount, loads ? "04" : "");
        if (what.starts_with("read error")) EXPECT_EQ(prompt.shown[0].text, "Device I/O error\r");
        else EXPECT_EQ(fs::symlink_status(kIniFileName).type() == fs::file_type::regular, faults > 0);
    }
}

TEST_F(SettingsTest, WriteUsesFixedWidthsRoundTripsExactlyAndFailsWithoutHarm) {
    Settings s = defaultSettings();
    s.ioBoxCount = "5";
    s.lineParamB = "1234567";
    s.apDir = "/ap";
    s.fileKind = "lo";
    s.appendWord = "APPEND";
    ASSERT_TRUE(writeSettings(files, s));
    EXPECT_EQ(readBytes(kIniFileName),
              joined({"HOSTPC.INI5 000308000100501234503", "/ap", cwd, cwd, "lo ", "HOSTPCID.INF", "APPEND"}));
    const std::string bytes = joined({"HOSTPC.INI01010107020200300050099", cwd, cwd, cwd, "OTR", "x/ids.inf", "APPEND"});
    writeBytes(kIniFileName, bytes);
    ASSERT_TRUE(load());
    EXPECT_TRUE(settings.appendMode);
    ASSERT_TRUE(writeSettings(files, settings));
    EXPECT_EQ(readBytes(kIniFileName), bytes);
    // A write whose new file cannot be made leaves the old file intact.
    settings.ioBoxCount = "02";
    fs::create_directory(std::string(kIniFileName) + ".new");
    EXPECT_FALSE(writeSettings(files, settings));
    EXPECT_EQ(str(files.ending()), fail(FailureKind::File, kFileErrPathAccess, kIniFileName,
                                        std::make_error_code(std::errc::is_a_directory).message()));
    EXPECT_EQ(readBytes(kIniFileName), bytes);
    fs::remove(std::string(kIniFileName) + ".new");
    files = Files(prompt);
    files.injectFault(kFileErrDeviceIo);
    prompt.answers = {kAnswerRetry};
    EXPECT_TRUE(writeSettings(files, settings));
    EXPECT_EQ(readBytes(kIniFileName).substr(10, 2), "02");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

class IdFileTest : public SettingsTest {
protected:
    void SetUp() override { settings.htIdFile = "ids.inf"; }
    std::string load(const std::string& bytes) {
        writeBytes("ids.inf", bytes);
        files = Files(prompt);
        EXPECT_TRUE(readIdFile(files, settings, terminals));
        return str(terminals);
    }
    TerminalTable terminals;
};

// Cases run in order on one table, so each also shows a reread drops the old entries.
TEST_F(IdFileTest, RecordLayouts) {
    EXPECT_TRUE(readIdFile(files, settings, terminals));
    EXPECT_EQ(readBytes("ids.inf"), "hostpcid.inf\r\n&&&&&&,,,\r\n") << "a missing file is written";
    EXPECT_EQ(str(terminals), "{&&&&&&|||   }");
    const std::vector<std::pair<std::string, std::string>> cases = {{"hdr", ""}, {"hdr\r\n\"A0001", ""},
        // A blank line ends the table; a last ID alone does not count.
        {"hdr\r\nA00001,/r,/s,LOD\r\n\r\nB00002,,,\r\n", "{A00001|/r|/s|LOD}"},
        {"hdr\r\nA00001,,,ALL\r\nB00002\r\n", "{A00001|||ALL}"}, {"hdr\r\nB00002,/in", "{B00002|/in||   }"},
        // A record is one line; fields beyond the fourth are dropped.
        {"hdr\nA00001,/r\nHT01\nB00002,,,ALL\n", "{A00001|/r||   }{HT01|||   }{B00002|||ALL}"},
        {"hdr\rA00001,/r,/s,LOD,X9,\"a\rB00002,,,OTR", "{A00001|/r|/s|LOD}{B00002|||OTR}"},
        // Quotes may hold commas; blanks around unquoted fields go; text after
        // a closing quote is dropped; an open quote ends with its line.
        {"hdr\r\n\"A,0001\" , \"/r, x \",  /s  ,\"lod\"\r\n", "{A,0001|/r, x |/s|lod}"},
        {"hdr\r\n\"A00001\"junk,\"/r\r\n/s,ALL\r\n", "{A00001|/r||   }{/s|ALL||   }"}, {"hdr\r\nabc,,,ALLX", "{abc|||ALL}"},
        {std::string("hdr\r\nA\0B,/r\0,,\r\n", 17), std::string("{A\0B|/r\0||   }", 14)}};
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(load(bytes), expected) << bytes;
    std::string many = "hdr\r\n";
    for (int i = 0; i < 130; ++i) many += "ID" + std::to_string(1000 + i) + ",/r" + std::to_string(i) + ",,\r\n";
    load(many);
    ASSERT_EQ(terminals.size(), 128u) << "the table holds at most 128 records";
    EXPECT_EQ(str(TerminalTable{terminals[0], terminals[127]}), "{ID1000|/r0||   }{ID1127|/r127||   }");
    EXPECT_TRUE(prompt.shown.empty());
}

// A cancelled open or read leaves no terminals and the program goes on; a
// missing path ends it. The file itself is never changed.
TEST_F(IdFileTest, FailuresFollowTheBoxRule) {
    const std::string eio = std::make_error_code(std::errc::io_error).message(), open = "1/71/ids.inf//0";
    const std::string io = fail(FailureKind::File, kFileErrDeviceIo, ""), ioFile = fail(FailureKind::File, kFileErrDeviceIo,
                                                                                       "ids.inf", eio);
    // What stands there, faults injected, the answers, the failures shown.
    const std::vector<std::tuple<std::string, int, std::deque<BoxAnswer>, Lines>> cases = {
        {"open cancelled", 2, {kAnswerCancel, kAnswerCancel}, {open, open}},
        // The header's read and then the records' read fail; Retry reads again.
        {"read error", 0, {}, {io, ioFile}},
        {"read error retried", 0, {kAnswerRetry, kAnswerCancel, kAnswerRetry}, {io, io, ioFile, ioFile}}};
    for (const auto& [what, faults, answers, boxes] : cases) {
        SCOPED_TRACE(what);
        fs::remove("ids.inf");
        if (faults) writeBytes("ids.inf", "hdr\r\nA00001,,,\r\n");
        else fs::create_symlink("/proc/self/mem", "ids.inf");
        terminals = {{"OLD001", "", "", "   "}};
        prompt = TestPrompt();
        prompt.answers = answers;
        files = Files(prompt);
        files.injectFault(kFileErrNotReady, faults);
        EXPECT_TRUE(readIdFile(files, settings, terminals));
        EXPECT_TRUE(terminals.empty());
        Lines shown;
        for (const Failure& f : prompt.failures) shown.push_back(str(f));
        EXPECT_EQ(shown, boxes);
        EXPECT_FALSE(files.ending());
        if (faults) { EXPECT_EQ(readBytes("ids.inf"), "hdr\r\nA00001,,,\r\n"); }
    }
    settings.htIdFile = "nodir/ids.inf";
    EXPECT_FALSE(readIdFile(files, settings, terminals));
    EXPECT_EQ(str(files.ending()), fail(FailureKind::File, kFileErrPathNotFound, "nodir/ids.inf",
                                        std::make_error_code(std::errc::no_such_file_or_directory).message()));
    EXPECT_EQ(prompt.shown.back().text, "No Pass\rnodir/ids.inf");
    EXPECT_EQ(files.area(), FailureArea::Files);
}

}  // namespace
}  // namespace quendril
