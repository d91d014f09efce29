#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "declar.h"
#include "filebytes.h"
#include "filehelpers.h"
#include "hostpcIni.h"
#include "messages.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril {

// Found by argument-dependent lookup, so they live beside HtIdEntry.
bool operator==(const HtIdEntry& a, const HtIdEntry& b) {
    return a.htId == b.htId && a.recvDir == b.recvDir && a.sendDir == b.sendDir && a.fileKind == b.fileKind;
}
void PrintTo(const HtIdEntry& e, std::ostream* os) {
    *os << '{' << e.htId << '|' << e.recvDir << '|' << e.sendDir << '|' << e.fileKind << '}';
}

namespace {

using test::ProgramEnded;
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

// A fresh current directory, a scripted host, empty records, no faults left over.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        clearFileFaults();
        EnvSettings = {};
        htIdCount = 0;
    }
    void TearDown() override { clearFileFaults(); }
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

    ScopedWorkDir dir;
    test::TestHost host;
    std::string cwd = std::filesystem::current_path().string();
};

using ReadIni = SettingsTest;

TEST_F(ReadIni, MissingFileWritesDefaultsSilently) {
    readIni();
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(readBytes(kIniFileName), joined(validLines(), "\r\n"));
    const Lines fields = {EnvSettings.fileTag, EnvSettings.ioBoxCount, EnvSettings.baudCode, EnvSettings.lineParamB,
                          EnvSettings.apDir,   EnvSettings.sendDir,    EnvSettings.fileKind, EnvSettings.htIdFile,
                          EnvSettings.appendWord};
    EXPECT_EQ(fields, (Lines{"HOSTPC.INI", "16", "03", "03000", cwd, cwd, "ALL", "HOSTPCID.INF", ""}));
    EXPECT_FALSE(EnvSettings.appendMode);
}

TEST_F(ReadIni, AnyLineEndAndSixLinesLoad) {
    Lines six = validLines();
    six.pop_back();
    const std::string sixCrLf = joined(six, "\r\n");
    for (const std::string& bytes : {joined(validLines(), "\r\n"), joined(validLines(), "\n"),
                                     joined(validLines(), "\r"), sixCrLf, sixCrLf.substr(0, sixCrLf.size() - 2),
                                     joined(validLines(), "\r\n") + "ignored\r\nlines\r\n"}) {
        writeBytes(kIniFileName, bytes);
        EnvSettings = {};
        readIni();
        EXPECT_EQ(EnvSettings.htIdFile, "HOSTPCID.INF");
        EXPECT_EQ(EnvSettings.recvDir, cwd);
        EXPECT_FALSE(EnvSettings.appendMode);
    }
    EXPECT_TRUE(host.shown.empty());
}

// Each case changes one line; the value read falls back or is kept, the file
// itself is never rewritten, and no box is shown.
TEST_F(ReadIni, LineValuesAreCheckedAndReplacedInMemoryOnly) {
    std::filesystem::create_directory("recv");
    std::filesystem::create_directories("pc/.inbox");
    writeBytes("afile", "x");
    using F = std::string EnvSettingsRecord::*;
    const F box = &EnvSettingsRecord::ioBoxCount, paramA = &EnvSettingsRecord::lineParamA,
            paramB = &EnvSettingsRecord::lineParamB, kind = &EnvSettingsRecord::fileKind;
    const std::string tag = "HOSTPC.INI", here = cwd + "/";
    const std::vector<std::tuple<std::size_t, std::string, F, std::string>> cases = {
        {0, tag + "00000308000100500300003", box, "16"},
        {0, tag + "17000308000100500300003", box, "16"},
        {0, tag + "99000308000100500300003", box, "16"},
        {0, tag + "01000308000100500300003", box, "01"},
        {0, tag + " 5000308000100500300003", box, " 5"},
        {0, tag + "5 000308000100500300003", box, "5 "},
        {0, tag + "A5000308000100500300003", box, "16"},
        {0, tag + "  000308000100500300003", box, "16"},
        {0, tag + "16020308000100500300003", &EnvSettingsRecord::comPort, "00"},
        {0, tag + "16010308000100500300003", &EnvSettingsRecord::comPort, "01"},
        {0, tag + "16000808000100500300003", &EnvSettingsRecord::baudCode, "03"},
        {0, tag + "16000706000100500300003", &EnvSettingsRecord::dataLength, "08"},
        {0, tag + "16000307000100500300003", &EnvSettingsRecord::dataLength, "07"},
        {0, tag + "16000308030100500300003", &EnvSettingsRecord::parityCode, "00"},
        {0, tag + "16000308000000500300003", &EnvSettingsRecord::stopBits, "01"},
        {0, tag + "16000308000100290300003", paramA, "0050"},
        {0, tag + "16000308000103010300003", paramA, "0050"},
        {0, tag + "16000308000103000300003", paramA, "0300"},
        {0, tag + "16000308000100509999903", paramB, "03000"},
        {0, tag + "16000308000100501000103", paramB, "03000"},
        {0, tag + "16000308000100501000003", paramB, "10000"},
        {0, tag + "16000308000100500049903", paramB, "03000"},
        {0, tag + "160003080001005003000-1", &EnvSettingsRecord::lineParamC, "03"},
        {0, tag + "1600030800010050030009999", &EnvSettingsRecord::lineParamC, "99"},
        // A short first line keeps the leading fields and defaults the rest.
        {0, tag + "1201020701", &EnvSettingsRecord::baudCode, "02"},
        {0, tag + "1201020701", &EnvSettingsRecord::dataLength, "07"},
        {0, tag + "1201020701", &EnvSettingsRecord::stopBits, "01"},
        {0, tag + "1201020701", paramA, "0050"},
        {0, tag + "1201020701", paramB, "03000"},
        {0, tag + "1201020701", &EnvSettingsRecord::lineParamC, "03"},
        // Missing or empty directories become the current one; a file name is kept.
        {1, "  " + cwd + "/nothere  ", &EnvSettingsRecord::apDir, here},
        {1, "afile", &EnvSettingsRecord::apDir, "afile"},
        {2, cwd + "/recv", &EnvSettingsRecord::recvDir, cwd + "/recv"},
        // A leading '.' hides nothing on this platform.
        {2, "pc/.inbox", &EnvSettingsRecord::recvDir, "pc/.inbox"},
        {3, "", &EnvSettingsRecord::sendDir, here},
        {3, here, &EnvSettingsRecord::sendDir, here},
        {4, "lod", kind, "lod"}, {4, " All ", kind, "All"}, {4, "XYZ", kind, "ALL"}, {4, "", kind, "ALL"},
        {4, "LODX", kind, "LOD"}, {4, "LO", kind, "ALL"},
    };
    for (const auto& [line, text, field, expected] : cases) {
        const std::string bytes = writeIniLines(line, text);
        readIni();
        EXPECT_EQ(EnvSettings.*field, expected) << text;
        EXPECT_EQ(readBytes(kIniFileName), bytes) << text;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIni, AppendLineIsTrimmedUpperCasedAndWrittenBackAsAppend) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"APPEND", true}, {"Append\t", true}, {"APPENDX", false}, {"", false}, {"APP END", false}, {" append ", true},
    };
    for (const auto& [word, on] : cases) {
        writeIniLines(6, word);
        readIni();
        EXPECT_EQ(EnvSettings.appendMode, on) << word;
    }
    ASSERT_TRUE(writeIni());
    Lines lines = validLines();
    lines[6] = "APPEND";
    EXPECT_EQ(readBytes(kIniFileName), joined(lines, "\r\n"));
}

TEST_F(ReadIni, DamagedFilesShowTheSettingsErrorEndAndStayUntouched) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 73 + 11) % 256));
    Lines fiveLines = validLines();
    fiveLines.resize(5);
    const Lines files = {writeIniLines(0, "hostpc.ini16000308000100500300003"), writeIniLines(5, "   "),
                         joined(fiveLines, "\r\n"), "", "HOSTPC.IN", std::string("\0\0\0\0", 4), garbage};
    for (const std::string& bytes : files) {
        writeBytes(kIniFileName, bytes);
        EXPECT_THROW(readIni(), ProgramEnded);
        ASSERT_FALSE(host.shown.empty());
        EXPECT_EQ(host.shown.back().text, "Environment settingfile error\r");
        EXPECT_EQ(host.shown.back().buttons, BoxButtons::Ok);
        EXPECT_EQ(readBytes(kIniFileName), bytes);
    }
    EXPECT_EQ(host.endCount, static_cast<int>(files.size()));
}

TEST_F(ReadIni, HugeLinesLoadWithoutHanging) {
    Lines lines = validLines();
    lines[0] = kLine1 + std::string(5 * 1024 * 1024, '7');
    lines[1] = std::string(5 * 1024 * 1024, 'd');
    writeBytes(kIniFileName, joined(lines, "\n"));
    readIni();
    EXPECT_EQ(EnvSettings.lineParamC, "03");
    EXPECT_EQ(EnvSettings.apDir, cwd + "/");
}

// A box that could not be answered must not make readIni overwrite the
// user's settings with defaults.
TEST_F(ReadIni, CancelledExistenceTestKeepsTheFile) {
    const std::string bytes = writeIniLines(0, "HOSTPC.INI04000308000100500300003");
    injectFileFault(71);
    host.answers = {kAnswerCancel};
    readIni();
    EXPECT_EQ(readBytes(kIniFileName), bytes);
    EXPECT_EQ(EnvSettings.ioBoxCount, "04");
}

TEST_F(ReadIni, UnreadableFileShowsFileBoxAndEnds) {
    std::filesystem::create_directory(kIniFileName);
    EXPECT_THROW(readIni(), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, std::string("Pass error\r") + kIniFileName);
    EXPECT_TRUE(std::filesystem::is_directory(kIniFileName));
}

using WriteIni = SettingsTest;

TEST_F(WriteIni, FixedWidthsCrLfAndExactRoundTrip) {
    makeDefaultIni();
    EnvSettings.ioBoxCount = "5";
    EnvSettings.lineParamB = "1234567";
    EnvSettings.apDir = "/ap";
    EnvSettings.fileKind = "lo";
    EnvSettings.htIdFile = "ids.inf";
    EnvSettings.appendWord = "APPEND";
    ASSERT_TRUE(writeIni());
    EXPECT_EQ(readBytes(kIniFileName),
              joined({"HOSTPC.INI5 000308000100501234503", "/ap", cwd, cwd, "lo ", "ids.inf", "APPEND"}, "\r\n"));

    const std::string bytes =
        joined({"HOSTPC.INI01010107020200300050099", cwd, cwd, cwd, "OTR", "x/ids.inf", "APPEND"}, "\r\n");
    writeBytes(kIniFileName, bytes);
    readIni();
    ASSERT_TRUE(writeIni());
    EXPECT_EQ(readBytes(kIniFileName), bytes);
}

TEST_F(WriteIni, FailureLeavesOldFileIntact) {
    makeDefaultIni();
    const std::string before = readBytes(kIniFileName);
    EnvSettings.ioBoxCount = "01";
    injectFileFault(61);
    EXPECT_THROW(writeIni(), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, std::string("Not enough free area\r") + kIniFileName);
    EXPECT_EQ(readBytes(kIniFileName), before);

    injectFileFault(57);
    host.answers = {kAnswerCancel};
    EXPECT_FALSE(writeIni());
    EXPECT_EQ(readBytes(kIniFileName), before);

    injectFileFault(57);
    host.answers = {kAnswerRetry};
    EXPECT_TRUE(writeIni());
    EXPECT_NE(readBytes(kIniFileName), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
}

class ReadIdInf : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        EnvSettings.htIdFile = "ids.inf";
    }
    std::vector<HtIdEntry> load(const std::string& bytes) {
        writeBytes("ids.inf", bytes);
        readIdInf();
        return {HtIdTable.begin(), HtIdTable.begin() + htIdCount};
    }
};

TEST_F(ReadIdInf, MissingFileWritesDefault) {
    readIdInf();
    EXPECT_EQ(readBytes("ids.inf"), "hostpcid.inf\r\n&&&&&&,,,\r\n");
    ASSERT_EQ(htIdCount, 1);
    EXPECT_EQ(HtIdTable[0], (HtIdEntry{"&&&&&&", "", "", "   "}));
    EXPECT_TRUE(host.shown.empty());
}

// Cases run in order on one table, so each also shows a reread clears the old slots.
TEST_F(ReadIdInf, RecordLayouts) {
    const HtIdEntry blank{"", "", "", "   "};
    const std::vector<std::pair<std::string, std::vector<HtIdEntry>>> cases = {
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
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(load(bytes), expected) << bytes;
        EXPECT_EQ(HtIdTable[expected.size()], blank) << bytes;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIdInf, TableHoldsAtMost128Records) {
    std::string bytes = "hdr\r\n";
    for (int i = 0; i < 130; ++i) bytes += "ID" + std::to_string(1000 + i) + ",/r" + std::to_string(i) + ",,\r\n";
    const auto entries = load(bytes);
    ASSERT_EQ(entries.size(), 128u);
    EXPECT_EQ(entries[0].htId, "ID1000");
    EXPECT_EQ(entries[127], (HtIdEntry{"ID1127", "/r127", "", "   "}));
}

TEST_F(ReadIdInf, BadInputNeitherCrashesNorHangs) {
    std::string garbage = "hdr\r\n";
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    EXPECT_LE(load(garbage).size(), static_cast<std::size_t>(kHtIdSlots));
    const std::string big(5 * 1024 * 1024, 'r');
    EXPECT_EQ(load("hdr\r\nA00001," + big + ",/s,ALL"), (std::vector<HtIdEntry>{{"A00001", big, "/s", "ALL"}}));
    EXPECT_TRUE(load("hdr\r\n\"" + big).empty());
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\n\"" + big);
}

TEST_F(ReadIdInf, FailuresFollowTheBoxRule) {
    writeBytes("ids.inf", "hdr\r\nA00001,,,\r\n");
    injectFileFault(71, 2);
    host.answers = {kAnswerCancel, kAnswerCancel};
    readIdInf();
    EXPECT_EQ(htIdCount, 0);
    EXPECT_EQ(host.shown.size(), 2u);
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\nA00001,,,\r\n");

    EnvSettings.htIdFile = "nodir/ids.inf";
    EXPECT_THROW(readIdInf(), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No Pass\rnodir/ids.inf");
}

}  // namespace
}  // namespace quendril
