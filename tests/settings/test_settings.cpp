#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "filebytes.h"
#include "messages.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril {

// Found by argument-dependent lookup, so they live beside Terminal and Failure.
bool operator==(const Terminal& a, const Terminal& b) {
    return a.htId == b.htId && a.recvDir == b.recvDir && a.sendDir == b.sendDir && a.fileKind == b.fileKind;
}
void PrintTo(const Terminal& e, std::ostream* os) {
    *os << '{' << e.htId << '|' << e.recvDir << '|' << e.sendDir << '|' << e.fileKind << '}';
}
bool operator==(const Failure& a, const Failure& b) {
    return a.kind == b.kind && a.code == b.code && a.extra == b.extra && a.reason == b.reason && a.area == b.area;
}
void PrintTo(const Failure& f, std::ostream* os) {
    *os << "{kind " << static_cast<int>(f.kind) << ", code " << f.code << ", '" << f.extra << "', '" << f.reason
        << "', area " << static_cast<int>(f.area) << '}';
}

namespace {

using test::ScopedWorkDir;
using test::readBytes;
using test::writeBytes;
using Lines = std::vector<std::string>;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr const char* kLine1 = "HOSTPC.INI16000308000100500300003";

TEST(NumericValue, LeadingNumberRule) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"", 0}, {"abc", 0}, {"  12", 12}, {"\t7", 7}, {"12abc", 12}, {"0050", 50}, {"16 ", 16}, {"1 2", 1},
        {"+7", 7}, {"-3", -3}, {"- 3", 0}, {"2.5", 2}, {"3.5", 4}, {"0.5", 0}, {"1.5", 2}, {"-2.5", -2},
        {"-3.5", -4}, {"2.51", 3}, {"2.49", 2}, {".5", 0}, {"1.", 1}, {".", 0}, {"1e3", 1000}, {"1D2", 100},
        {"1e", 1}, {"1e+", 1}, {"2E-1", 0}, {"1.2.3", 1}, {"99999999999", kMax}, {"-99999999999", kMin},
        {"2147483647", kMax}, {"-2147483648", kMin}, {"1e400", kMax}, {"-1e400", kMin}, {"1e-400", 0},
        {std::string(400, '9'), kMax}, {std::string("1\0" "2", 3), 1},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(numericValue(text), value) << '"' << text << '"';
    const std::vector<std::pair<std::string, bool>> whole = {
        {"12", true}, {" 5", true}, {"1 ", true}, {"1.5", true}, {"+3", true}, {"1e2", true}, {"  ", false},
        {"", false}, {"1 2", false}, {"12a", false}, {"-", false}, {"0x10", false},
    };
    for (const auto& [text, w] : whole) EXPECT_EQ(isWholeNumber(text), w) << '"' << text << '"';
}

TEST(FileKind, IndexAndCode) {
    const std::vector<std::pair<std::string, int16_t>> indexCases = {
        {"LOD", 0}, {"lod", 0}, {"Otr", 1}, {"ALL", 2}, {"all", 2},
        {"XYZ", -1}, {"", -1}, {"   ", -1}, {"LOD ", -1}, {"ALLX", -1},
    };
    for (const auto& [code, index] : indexCases) EXPECT_EQ(fileKindIndex(code), index) << code;
    const std::vector<std::pair<int16_t, std::string>> codeCases = {{0, "LOD"}, {1, "OTR"}, {2, "ALL"}, {3, ""}, {-1, ""}};
    for (const auto& [index, code] : codeCases) EXPECT_EQ(fileKindCode(index), code) << index;
}

// A fresh current directory, a scripted prompt, its own failure state.
class SettingsTest : public testing::Test {
protected:
    static std::string joined(const Lines& lines, const std::string& eol) {
        std::string out;
        for (const std::string& l : lines) out += l + eol;
        return out;
    }
    // A valid settings file whose directories are the current one.
    Lines validLines() const { return {kLine1, cwd, cwd, cwd, "ALL", "HOSTPCID.INF", ""}; }
    // Writes lines with line i replaced by text and returns the bytes.
    std::string writeIniLines(std::size_t i, const std::string& text) {
        Lines lines = validLines();
        lines[i] = text;
        const std::string bytes = joined(lines, "\r\n");
        writeBytes(kIniFileName, bytes);
        return bytes;
    }
    // Reads hostpc.ini with a fresh failure state, as every run does.
    bool load() {
        files = Files(prompt);
        return readSettings(files, settings);
    }

    ScopedWorkDir dir;
    test::TestPrompt prompt;
    Files files{prompt};
    Settings settings;
    std::string cwd = std::filesystem::current_path().string();
};

using ReadSettings = SettingsTest;

TEST_F(ReadSettings, MissingFileWritesDefaultsSilently) {
    ASSERT_TRUE(load());
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(readBytes(kIniFileName), joined(validLines(), "\r\n"));
    EXPECT_EQ(settings, defaultSettings());
    EXPECT_EQ(settings.apDir, cwd);
    EXPECT_FALSE(settings.appendMode);
}

TEST_F(ReadSettings, AnyLineEndAndSixLinesLoad) {
    Lines six = validLines();
    six.pop_back();
    const std::string sixCrLf = joined(six, "\r\n");
    for (const std::string& bytes : {joined(validLines(), "\r\n"), joined(validLines(), "\n"),
                                     joined(validLines(), "\r"), sixCrLf, sixCrLf.substr(0, sixCrLf.size() - 2),
                                     joined(validLines(), "\r\n") + "ignored\r\nlines\r\n"}) {
        writeBytes(kIniFileName, bytes);
        settings = {};
        ASSERT_TRUE(load());
        EXPECT_EQ(settings, defaultSettings());
    }
    EXPECT_TRUE(prompt.shown.empty());
}

// Each case changes one line; the value read falls back or is kept, the file
// itself is never rewritten, and no box is shown.
TEST_F(ReadSettings, LineValuesAreCheckedAndReplacedInMemoryOnly) {
    std::filesystem::create_directory("recv");
    std::filesystem::create_directories("pc/.inbox");
    writeBytes("afile", "x");
    using F = std::string Settings::*;
    const F box = &Settings::ioBoxCount, paramA = &Settings::lineParamA, paramB = &Settings::lineParamB,
            kind = &Settings::fileKind;
    const std::string tag = "HOSTPC.INI", here = cwd + "/";
    const std::vector<std::tuple<std::size_t, std::string, F, std::string>> cases = {
        {0, tag + "00000308000100500300003", box, "16"}, {0, tag + "17000308000100500300003", box, "16"},
        {0, tag + "99000308000100500300003", box, "16"}, {0, tag + "01000308000100500300003", box, "01"},
        {0, tag + " 5000308000100500300003", box, " 5"}, {0, tag + "5 000308000100500300003", box, "5 "},
        {0, tag + "A5000308000100500300003", box, "16"}, {0, tag + "  000308000100500300003", box, "16"},
        {0, tag + "16020308000100500300003", &Settings::comPort, "00"},
        {0, tag + "16010308000100500300003", &Settings::comPort, "01"},
        {0, tag + "16000808000100500300003", &Settings::baudCode, "03"},
        {0, tag + "16000706000100500300003", &Settings::dataLength, "08"},
        {0, tag + "16000307000100500300003", &Settings::dataLength, "07"},
        {0, tag + "16000308030100500300003", &Settings::parityCode, "00"},
        {0, tag + "16000308000000500300003", &Settings::stopBits, "01"},
        {0, tag + "16000308000100290300003", paramA, "0050"}, {0, tag + "16000308000103010300003", paramA, "0050"},
        {0, tag + "16000308000103000300003", paramA, "0300"}, {0, tag + "16000308000100509999903", paramB, "03000"},
        {0, tag + "16000308000100501000103", paramB, "03000"}, {0, tag + "16000308000100501000003", paramB, "10000"},
        {0, tag + "16000308000100500049903", paramB, "03000"},
        {0, tag + "160003080001005003000-1", &Settings::lineParamC, "03"},
        {0, tag + "1600030800010050030009999", &Settings::lineParamC, "99"},
        // A short first line keeps the leading fields and defaults the rest.
        {0, tag + "1201020701", &Settings::baudCode, "02"}, {0, tag + "1201020701", &Settings::dataLength, "07"},
        {0, tag + "1201020701", &Settings::stopBits, "01"}, {0, tag + "1201020701", paramA, "0050"},
        {0, tag + "1201020701", paramB, "03000"}, {0, tag + "1201020701", &Settings::lineParamC, "03"},
        // Missing or empty directories become the current one; a file name is kept.
        {1, "  " + cwd + "/nothere  ", &Settings::apDir, here},
        {1, "afile", &Settings::apDir, "afile"},
        {2, cwd + "/recv", &Settings::recvDir, cwd + "/recv"},
        // A leading '.' hides nothing on this platform.
        {2, "pc/.inbox", &Settings::recvDir, "pc/.inbox"},
        {3, "", &Settings::sendDir, here},
        {3, here, &Settings::sendDir, here},
        {4, "lod", kind, "lod"}, {4, " All ", kind, "All"}, {4, "XYZ", kind, "ALL"}, {4, "", kind, "ALL"},
        {4, "LODX", kind, "LOD"}, {4, "LO", kind, "ALL"},
    };
    for (const auto& [line, text, field, expected] : cases) {
        const std::string bytes = writeIniLines(line, text);
        ASSERT_TRUE(load()) << text;
        EXPECT_EQ(settings.*field, expected) << text;
        EXPECT_EQ(readBytes(kIniFileName), bytes) << text;
    }
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(ReadSettings, AppendLineIsTrimmedUpperCasedAndWrittenBackAsAppend) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"APPEND", true}, {"Append\t", true}, {"APPENDX", false}, {"", false}, {"APP END", false}, {" append ", true},
    };
    for (const auto& [word, on] : cases) {
        writeIniLines(6, word);
        ASSERT_TRUE(load()) << word;
        EXPECT_EQ(settings.appendMode, on) << word;
    }
    ASSERT_TRUE(writeSettings(files, settings));
    Lines lines = validLines();
    lines[6] = "APPEND";
    EXPECT_EQ(readBytes(kIniFileName), joined(lines, "\r\n"));
}

TEST_F(ReadSettings, DamagedFilesEndWithTheSettingsErrorAndStayUntouched) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 73 + 11) % 256));
    Lines fiveLines = validLines();
    fiveLines.resize(5);
    const Lines damaged = {writeIniLines(0, "hostpc.ini16000308000100500300003"), writeIniLines(5, "   "),
                           joined(fiveLines, "\r\n"), "", "HOSTPC.IN", std::string("\0\0\0\0", 4), garbage};
    for (const std::string& bytes : damaged) {
        writeBytes(kIniFileName, bytes);
        settings = {};
        EXPECT_FALSE(load());
        EXPECT_EQ(files.ending(), (Failure{FailureKind::App, kAppErrSettingsFile, "", "", FailureArea::Settings}));
        ASSERT_FALSE(prompt.shown.empty());
        EXPECT_EQ(prompt.shown.back().text, "Environment settingfile error\r");
        EXPECT_EQ(prompt.shown.back().buttons, BoxButtons::Ok);
        EXPECT_EQ(readBytes(kIniFileName), bytes);
        // Nothing of a damaged file is used.
        EXPECT_EQ(settings, Settings{});
    }
}

TEST_F(ReadSettings, HugeLinesLoadWithoutHanging) {
    Lines lines = validLines();
    lines[0] = kLine1 + std::string(5 * 1024 * 1024, '7');
    lines[1] = std::string(5 * 1024 * 1024, 'd');
    writeBytes(kIniFileName, joined(lines, "\n"));
    ASSERT_TRUE(load());
    EXPECT_EQ(settings.lineParamC, "03");
    EXPECT_EQ(settings.apDir, cwd + "/");
}

// A box that could not be answered must not make readSettings overwrite the
// user's settings with defaults.
TEST_F(ReadSettings, CancelledExistenceTestKeepsTheFile) {
    const std::string bytes = writeIniLines(0, "HOSTPC.INI04000308000100500300003");
    files.injectFault(kFileErrNotReady);
    prompt.answers = {kAnswerCancel};
    EXPECT_TRUE(readSettings(files, settings));
    EXPECT_EQ(readBytes(kIniFileName), bytes);
    EXPECT_EQ(settings.ioBoxCount, "04");
}

// Without its settings the program cannot go on: a file that cannot be
// opened ends it, and a link to nothing is not replaced by defaults.
TEST_F(ReadSettings, UnopenableFileEndsWithTheSettingsArea) {
    const auto settingsEnd = [](FailureKind kind, int16_t code) {
        return Failure{kind, code, kIniFileName, "", FailureArea::Settings};
    };
    const std::vector<std::tuple<std::string, int, Failure>> cases = {
        {"directory", 0, settingsEnd(FailureKind::File, kFileErrPathAccess)},
        {"dangling link", 0, settingsEnd(FailureKind::File, kFileErrNotFound)},
        {"cancelled", 2, settingsEnd(FailureKind::GivenUp, 0)},
    };
    for (const auto& [what, cancels, ending] : cases) {
        ScopedWorkDir here;
        if (what == "directory") std::filesystem::create_directory(kIniFileName);
        if (what == "dangling link") std::filesystem::create_symlink("nowhere/hostpc.ini", kIniFileName);
        if (what == "cancelled") writeIniLines(0, kLine1);
        files = Files(prompt);
        files.injectFault(kFileErrNotReady, cancels);
        prompt.answers.assign(static_cast<std::size_t>(cancels), kAnswerCancel);
        EXPECT_FALSE(readSettings(files, settings)) << what;
        EXPECT_EQ(files.ending(), ending) << what;
        EXPECT_EQ(files.area(), FailureArea::Files) << what;
        // What stood there is not replaced by defaults.
        EXPECT_EQ(std::filesystem::symlink_status(kIniFileName).type() == std::filesystem::file_type::regular,
                  what == "cancelled");
    }
}

using WriteSettings = SettingsTest;

TEST_F(WriteSettings, FixedWidthsCrLfAndExactRoundTrip) {
    Settings s = defaultSettings();
    s.ioBoxCount = "5";
    s.lineParamB = "1234567";
    s.apDir = "/ap";
    s.fileKind = "lo";
    s.htIdFile = "ids.inf";
    s.appendWord = "APPEND";
    ASSERT_TRUE(writeSettings(files, s));
    EXPECT_EQ(readBytes(kIniFileName),
              joined({"HOSTPC.INI5 000308000100501234503", "/ap", cwd, cwd, "lo ", "ids.inf", "APPEND"}, "\r\n"));

    const std::string bytes =
        joined({"HOSTPC.INI01010107020200300050099", cwd, cwd, cwd, "OTR", "x/ids.inf", "APPEND"}, "\r\n");
    writeBytes(kIniFileName, bytes);
    ASSERT_TRUE(load());
    ASSERT_TRUE(writeSettings(files, settings));
    EXPECT_EQ(readBytes(kIniFileName), bytes);
}

TEST_F(WriteSettings, FailureLeavesOldFileIntact) {
    ASSERT_TRUE(load());
    const std::string before = readBytes(kIniFileName);
    settings.ioBoxCount = "01";
    // The new file cannot be written where it belongs.
    std::filesystem::create_directory(std::string(kIniFileName) + ".new");
    EXPECT_FALSE(writeSettings(files, settings));
    ASSERT_TRUE(files.ending());
    EXPECT_EQ(files.ending()->code, kFileErrPathAccess);
    EXPECT_EQ(files.ending()->extra, kIniFileName);
    EXPECT_EQ(readBytes(kIniFileName), before);

    files = Files(prompt);
    files.injectFault(kFileErrDeviceIo);
    prompt.answers = {kAnswerRetry};
    EXPECT_TRUE(writeSettings(files, settings));
    EXPECT_NE(readBytes(kIniFileName), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
}

class ReadIdFile : public SettingsTest {
protected:
    void SetUp() override { settings.htIdFile = "ids.inf"; }
    TerminalTable load(const std::string& bytes) {
        writeBytes("ids.inf", bytes);
        files = Files(prompt);
        EXPECT_TRUE(readIdFile(files, settings, terminals));
        return terminals;
    }
    TerminalTable terminals;
};

TEST_F(ReadIdFile, MissingFileWritesDefault) {
    ASSERT_TRUE(readIdFile(files, settings, terminals));
    EXPECT_EQ(readBytes("ids.inf"), "hostpcid.inf\r\n&&&&&&,,,\r\n");
    EXPECT_EQ(terminals, (TerminalTable{{"&&&&&&", "", "", "   "}}));
    EXPECT_TRUE(prompt.shown.empty());
}

// Cases run in order on one table, so each also shows a reread drops the old entries.
TEST_F(ReadIdFile, RecordLayouts) {
    const std::vector<std::pair<std::string, TerminalTable>> cases = {
        {"hdr\r\n", {}},
        {"hdr", {}},
        {"hdr\r\nA00001,/r,/s,LOD\r\nB00002,,,\r\n", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        // A blank line ends the table.
        {"hdr\r\nA00001,/r,/s,LOD\r\n\r\nB00002,,,\r\n", {{"A00001", "/r", "/s", "LOD"}}},
        {"", {}},
        // A last ID alone does not count, with or without a line end.
        {"hdr\r\nA00001,,,ALL\r\nB00002", {{"A00001", "", "", "ALL"}}},
        {"hdr\r\nA00001,,,ALL\r\nB00002\r\n", {{"A00001", "", "", "ALL"}}},
        // An ID and a receiving directory count; what is missing stays empty.
        {"hdr\r\nA00001,,,ALL\r\nB00002,/in\r\n", {{"A00001", "", "", "ALL"}, {"B00002", "/in", "", "   "}}},
        {"hdr\r\nB00002,/in,/out", {{"B00002", "/in", "/out", "   "}}},
        // A record is one line: fields a short line lacks stay empty, never
        // the next line's; fields beyond the fourth are dropped.
        {"hdr\r\nA00001,/r\r\nHT01\r\nB00002,,,ALL\r\n",
         {{"A00001", "/r", "", "   "}, {"HT01", "", "", "   "}, {"B00002", "", "", "ALL"}}},
        {"hdr\nA00001,/r,/s\nB00002,,,ALL\n", {{"A00001", "/r", "/s", "   "}, {"B00002", "", "", "ALL"}}},
        {"hdr\r\nA00001,/r,/s,LOD,X9\r\n,,\r\n", {{"A00001", "/r", "/s", "LOD"}}},
        {"hdr\r\nA00001,/r,/s,LOD,X9,\"a\r\nB00002,,,OTR", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "OTR"}}},
        // Quotes may hold commas; blanks around unquoted fields go.
        {"hdr\r\n\"A,0001\" , \"/r, x \",  /s  ,\"lod\"\r\n", {{"A,0001", "/r, x ", "/s", "lod"}}},
        // Text after a closing quote is dropped; an open quote ends with its line.
        {"hdr\r\n\"A00001\"junk,\"/r\r\n/s,ALL\r\n", {{"A00001", "/r", "", "   "}, {"/s", "ALL", "", "   "}}},
        // LF-only and CR-only files.
        {"hdr\nA00001,/r,/s,LOD\nB00002,,,\n", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        {"hdr\rA00001,/r,/s,LOD\rB00002,,,\r", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        // The file type is cut to three characters; IDs are kept as written.
        {"hdr\r\nabc,,,ALLX\r\n", {{"abc", "", "", "ALL"}}},
        {std::string("hdr\r\nA\0B,/r\0,,\r\n", 17), {{std::string("A\0B", 3), std::string("/r\0", 3), "", "   "}}},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(load(bytes), expected) << bytes;
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(ReadIdFile, TableHoldsAtMost128Records) {
    std::string bytes = "hdr\r\n";
    for (int i = 0; i < 130; ++i) bytes += "ID" + std::to_string(1000 + i) + ",/r" + std::to_string(i) + ",,\r\n";
    const TerminalTable entries = load(bytes);
    ASSERT_EQ(entries.size(), 128u);
    EXPECT_EQ(entries[0].htId, "ID1000");
    EXPECT_EQ(entries[127], (Terminal{"ID1127", "/r127", "", "   "}));
}

TEST_F(ReadIdFile, BadInputNeitherCrashesNorHangs) {
    std::string garbage = "hdr\r\n";
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    EXPECT_LE(load(garbage).size(), static_cast<std::size_t>(kHtIdSlots));
    const std::string big(5 * 1024 * 1024, 'r');
    EXPECT_EQ(load("hdr\r\nA00001," + big + ",/s,ALL"), (TerminalTable{{"A00001", big, "/s", "ALL"}}));
    EXPECT_TRUE(load("hdr\r\n\"" + big).empty());
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\n\"" + big);
}

TEST_F(ReadIdFile, FailuresFollowTheBoxRule) {
    writeBytes("ids.inf", "hdr\r\nA00001,,,\r\n");
    // A cancelled read leaves no terminals and the program goes on.
    terminals = {{"OLD001", "", "", "   "}};
    files.injectFault(kFileErrNotReady, 2);
    prompt.answers = {kAnswerCancel, kAnswerCancel};
    EXPECT_TRUE(readIdFile(files, settings, terminals));
    EXPECT_TRUE(terminals.empty());
    EXPECT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\nA00001,,,\r\n");

    settings.htIdFile = "nodir/ids.inf";
    EXPECT_FALSE(readIdFile(files, settings, terminals));
    const std::string reason = std::make_error_code(std::errc::no_such_file_or_directory).message();
    EXPECT_EQ(files.ending(),
              (Failure{FailureKind::File, kFileErrPathNotFound, "nodir/ids.inf", reason, FailureArea::Settings}));
    EXPECT_EQ(prompt.shown.back().text, "No Pass\rnodir/ids.inf");
    EXPECT_EQ(files.area(), FailureArea::Files);
}

}  // namespace
}  // namespace quendril
