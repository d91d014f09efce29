#include "fixture.h"
#include "messages.h"

namespace quendril {
namespace {

using test::ProgramEnded;
using test::readBytes;
using test::writeBytes;

constexpr const char* kDefaultLine1 = "HOSTPC.INI16000308000100500300003";
constexpr const char* kSettingsError = "Environment settingfile error\r";

class ReadIni : public test::SettingsTest {
protected:
    // A valid file whose directories are the current one.
    std::vector<std::string> validLines() const {
        return {kDefaultLine1, cwd, cwd, cwd, "ALL", "HOSTPCID.INF", ""};
    }
    std::string defaultBytes() const {
        return joined({kDefaultLine1, cwd, cwd, cwd, "ALL", "HOSTPCID.INF", ""}, "\r\n");
    }
    void expectSettingsError() {
        EXPECT_THROW(readIni(), ProgramEnded);
        ASSERT_FALSE(host.shown.empty());
        EXPECT_EQ(host.shown.back().text, kSettingsError);
        EXPECT_EQ(host.shown.back().buttons, BoxButtons::Ok);
    }
};

TEST_F(ReadIni, MissingFileWritesDefaultsSilently) {
    readIni();
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(readBytes(kIniFileName), defaultBytes());
    EXPECT_EQ(EnvSettings.fileTag, "HOSTPC.INI");
    EXPECT_EQ(EnvSettings.ioBoxCount, "16");
    EXPECT_EQ(EnvSettings.baudCode, "03");
    EXPECT_EQ(EnvSettings.lineParamB, "03000");
    EXPECT_EQ(EnvSettings.apDir, cwd);
    EXPECT_EQ(EnvSettings.sendDir, cwd);
    EXPECT_EQ(EnvSettings.fileKind, "ALL");
    EXPECT_EQ(EnvSettings.htIdFile, "HOSTPCID.INF");
    EXPECT_EQ(EnvSettings.appendWord, "");
    EXPECT_FALSE(EnvSettings.appendMode);
}

TEST_F(ReadIni, AnyLineEndAndSixLinesLoad) {
    auto six = validLines();
    six.pop_back();
    const std::vector<std::string> files = {
        joined(validLines(), "\r\n"), joined(validLines(), "\n"), joined(validLines(), "\r"),
        joined(six, "\r\n"),
        joined(six, "\r\n").substr(0, joined(six, "\r\n").size() - 2),  // no final line end
        joined(validLines(), "\r\n") + "ignored\r\nlines\r\n",
    };
    for (const std::string& bytes : files) {
        writeBytes(kIniFileName, bytes);
        EnvSettings = {};
        readIni();
        EXPECT_EQ(EnvSettings.htIdFile, "HOSTPCID.INF");
        EXPECT_EQ(EnvSettings.recvDir, cwd);
        EXPECT_FALSE(EnvSettings.appendMode);
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIni, AppendLineIsTrimmedAndUpperCased) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {" append ", true}, {"APPEND", true}, {"Append\t", true}, {"APPENDX", false}, {"", false},
        {"APP END", false},
    };
    for (const auto& [word, on] : cases) {
        auto lines = validLines();
        lines[6] = word;
        writeBytes(kIniFileName, joined(lines, "\r\n"));
        readIni();
        EXPECT_EQ(EnvSettings.appendMode, on) << word;
    }
    auto lines = validLines();
    lines[6] = " append ";
    writeBytes(kIniFileName, joined(lines, "\r\n"));
    readIni();
    ASSERT_TRUE(writeIni());
    lines[6] = "APPEND";
    EXPECT_EQ(readBytes(kIniFileName), joined(lines, "\r\n"));
}

TEST_F(ReadIni, NumericFieldsOutOfRangeFallBack) {
    struct Case {
        std::string line1;
        std::string EnvSettingsRecord::*field;
        std::string expected;
    };
    const std::string tag = "HOSTPC.INI";
    const std::vector<Case> cases = {
        {tag + "00000308000100500300003", &EnvSettingsRecord::ioBoxCount, "16"},
        {tag + "17000308000100500300003", &EnvSettingsRecord::ioBoxCount, "16"},
        {tag + "01000308000100500300003", &EnvSettingsRecord::ioBoxCount, "01"},
        {tag + " 5000308000100500300003", &EnvSettingsRecord::ioBoxCount, " 5"},
        {tag + "5 000308000100500300003", &EnvSettingsRecord::ioBoxCount, "5 "},
        {tag + "A5000308000100500300003", &EnvSettingsRecord::ioBoxCount, "16"},
        {tag + "  000308000100500300003", &EnvSettingsRecord::ioBoxCount, "16"},
        {tag + "16020308000100500300003", &EnvSettingsRecord::comPort, "00"},
        {tag + "16010308000100500300003", &EnvSettingsRecord::comPort, "01"},
        {tag + "16000808000100500300003", &EnvSettingsRecord::baudCode, "03"},
        {tag + "16000706000100500300003", &EnvSettingsRecord::dataLength, "08"},
        {tag + "16000307000100500300003", &EnvSettingsRecord::dataLength, "07"},
        {tag + "16000308030100500300003", &EnvSettingsRecord::parityCode, "00"},
        {tag + "16000308000000500300003", &EnvSettingsRecord::stopBits, "01"},
        {tag + "16000308000100290300003", &EnvSettingsRecord::lineParamA, "0050"},
        {tag + "16000308000103010300003", &EnvSettingsRecord::lineParamA, "0050"},
        {tag + "16000308000103000300003", &EnvSettingsRecord::lineParamA, "0300"},
        {tag + "16000308000100509999903", &EnvSettingsRecord::lineParamB, "03000"},
        {tag + "16000308000100501000103", &EnvSettingsRecord::lineParamB, "03000"},
        {tag + "16000308000100501000003", &EnvSettingsRecord::lineParamB, "10000"},
        {tag + "16000308000100500049903", &EnvSettingsRecord::lineParamB, "03000"},
        {tag + "160003080001005003000-1", &EnvSettingsRecord::lineParamC, "03"},
        {tag + "1600030800010050030009999", &EnvSettingsRecord::lineParamC, "99"},
    };
    for (const Case& c : cases) {
        auto lines = validLines();
        lines[0] = c.line1;
        writeBytes(kIniFileName, joined(lines, "\r\n"));
        readIni();
        EXPECT_EQ(EnvSettings.*c.field, c.expected) << c.line1;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIni, ShortFirstLineKeepsLeadingFields) {
    auto lines = validLines();
    lines[0] = "HOSTPC.INI1201020701";
    writeBytes(kIniFileName, joined(lines, "\r\n"));
    readIni();
    EXPECT_EQ(EnvSettings.ioBoxCount, "12");
    EXPECT_EQ(EnvSettings.comPort, "01");
    EXPECT_EQ(EnvSettings.baudCode, "02");
    EXPECT_EQ(EnvSettings.dataLength, "07");
    EXPECT_EQ(EnvSettings.parityCode, "01");
    EXPECT_EQ(EnvSettings.stopBits, "01");
    EXPECT_EQ(EnvSettings.lineParamA, "0050");
    EXPECT_EQ(EnvSettings.lineParamB, "03000");
    EXPECT_EQ(EnvSettings.lineParamC, "03");
}

TEST_F(ReadIni, DamagedFilesEndTheProgram) {
    auto lowerTag = validLines();
    lowerTag[0] = "hostpc.ini16000308000100500300003";
    auto emptyIdFile = validLines();
    emptyIdFile[5] = "   ";
    auto fiveLines = validLines();
    fiveLines.resize(5);
    const std::vector<std::string> files = {
        joined(lowerTag, "\r\n"),
        joined(emptyIdFile, "\r\n"),
        joined(fiveLines, "\r\n"),
        "",
        "HOSTPC.IN",
        std::string("\0\0\0\0", 4),
    };
    for (const std::string& bytes : files) {
        writeBytes(kIniFileName, bytes);
        expectSettingsError();
    }
    EXPECT_EQ(host.endCount, static_cast<int>(files.size()));
}

TEST_F(ReadIni, BinaryGarbageGivesSettingsError) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 73 + 11) % 256));
    writeBytes(kIniFileName, garbage);
    expectSettingsError();
    EXPECT_EQ(readBytes(kIniFileName), garbage);
}

TEST_F(ReadIni, HugeLinesLoadWithoutHanging) {
    auto lines = validLines();
    lines[0] = kDefaultLine1 + std::string(5 * 1024 * 1024, '7');
    lines[1] = std::string(5 * 1024 * 1024, 'd');
    writeBytes(kIniFileName, joined(lines, "\n"));
    readIni();
    EXPECT_EQ(EnvSettings.lineParamC, "03");
    EXPECT_EQ(EnvSettings.apDir, cwd + "/");
}

TEST_F(ReadIni, DirectoriesMissingOrEmptyBecomeCurrentDir) {
    std::filesystem::create_directory("recv");
    writeBytes("afile", "x");
    auto lines = validLines();
    lines[1] = "  " + cwd + "/nothere  ";
    lines[2] = cwd + "/recv";
    lines[3] = "";
    writeBytes(kIniFileName, joined(lines, "\r\n"));
    readIni();
    EXPECT_EQ(EnvSettings.apDir, cwd + "/");
    EXPECT_EQ(EnvSettings.recvDir, cwd + "/recv");
    EXPECT_EQ(EnvSettings.sendDir, cwd + "/");

    lines[1] = "afile";
    lines[3] = cwd + "/";
    writeBytes(kIniFileName, joined(lines, "\r\n"));
    readIni();
    EXPECT_EQ(EnvSettings.apDir, "afile");
    EXPECT_EQ(EnvSettings.sendDir, cwd + "/");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIni, FileKindCheck) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"lod", "lod"}, {"OTR", "OTR"}, {" All ", "All"}, {"XYZ", "ALL"}, {"", "ALL"},
        {"LODX", "LOD"}, {"LO", "ALL"},
    };
    for (const auto& [line5, kind] : cases) {
        auto lines = validLines();
        lines[4] = line5;
        writeBytes(kIniFileName, joined(lines, "\r\n"));
        readIni();
        EXPECT_EQ(EnvSettings.fileKind, kind) << line5;
    }
}

TEST_F(ReadIni, ReplacedValuesAreNotWrittenBack) {
    auto lines = validLines();
    lines[0] = "HOSTPC.INI99000308000100500300003";
    const std::string bytes = joined(lines, "\r\n");
    writeBytes(kIniFileName, bytes);
    readIni();
    EXPECT_EQ(EnvSettings.ioBoxCount, "16");
    EXPECT_EQ(readBytes(kIniFileName), bytes);
}

// A box that could not be answered must not make readIni overwrite the
// user's settings with defaults.
TEST_F(ReadIni, CancelledExistenceTestKeepsTheFile) {
    auto lines = validLines();
    lines[0] = "HOSTPC.INI04000308000100500300003";
    const std::string bytes = joined(lines, "\r\n");
    writeBytes(kIniFileName, bytes);
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

class WriteIni : public test::SettingsTest {};

TEST_F(WriteIni, FixedWidthsAndCrLf) {
    makeDefaultIni();
    EnvSettings.ioBoxCount = "5";
    EnvSettings.lineParamB = "1234567";
    EnvSettings.apDir = "/ap";
    EnvSettings.fileKind = "lo";
    EnvSettings.htIdFile = "ids.inf";
    EnvSettings.appendWord = "APPEND";
    ASSERT_TRUE(writeIni());
    EXPECT_EQ(readBytes(kIniFileName),
              joined({"HOSTPC.INI5 000308000100501234503", "/ap", cwd, cwd, "lo ", "ids.inf",
                      "APPEND"},
                     "\r\n"));
}

TEST_F(WriteIni, ReadWriteRoundTripIsExact) {
    const std::string bytes = joined(
        {"HOSTPC.INI01010107020200300050099", cwd, cwd, cwd, "OTR", "x/ids.inf", "APPEND"}, "\r\n");
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace quendril
