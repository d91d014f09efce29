#include "fixture.h"
#include "messages.h"

namespace quendril {

// Found by argument-dependent lookup, so they live beside HtIdEntry.
bool operator==(const HtIdEntry& a, const HtIdEntry& b) {
    return a.htId == b.htId && a.recvDir == b.recvDir && a.sendDir == b.sendDir &&
           a.fileKind == b.fileKind;
}

void PrintTo(const HtIdEntry& e, std::ostream* os) {
    *os << '{' << e.htId << '|' << e.recvDir << '|' << e.sendDir << '|' << e.fileKind << '}';
}

namespace {

using test::ProgramEnded;
using test::readBytes;
using test::writeBytes;

class ReadIdInf : public test::SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        EnvSettings.htIdFile = "ids.inf";
    }
    void load(const std::string& bytes) {
        writeBytes("ids.inf", bytes);
        readIdInf();
    }
    std::vector<HtIdEntry> entries() const {
        return {HtIdTable.begin(), HtIdTable.begin() + htIdCount};
    }
};

TEST_F(ReadIdInf, MissingFileWritesDefault) {
    readIdInf();
    EXPECT_EQ(readBytes("ids.inf"), "hostpcid.inf\r\n&&&&&&,,,\r\n");
    EXPECT_EQ(entries(), (std::vector<HtIdEntry>{{"&&&&&&", "", "", "   "}}));
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIdInf, RecordLayouts) {
    using Entries = std::vector<HtIdEntry>;
    const std::vector<std::pair<std::string, Entries>> cases = {
        {"hdr\r\n", {}},
        {"hdr", {}},
        {"", {}},
        {"hdr\r\nA00001,/r,/s,LOD\r\nB00002,,,\r\n",
         {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        // A blank line ends the table.
        {"hdr\r\nA00001,/r,/s,LOD\r\n\r\nB00002,,,\r\n", {{"A00001", "/r", "/s", "LOD"}}},
        // A last ID alone does not count, with or without a line end.
        {"hdr\r\nA00001,,,ALL\r\nB00002", {{"A00001", "", "", "ALL"}}},
        {"hdr\r\nA00001,,,ALL\r\nB00002\r\n", {{"A00001", "", "", "ALL"}}},
        // An ID and a receiving directory count; what is missing stays empty.
        {"hdr\r\nA00001,,,ALL\r\nB00002,/in\r\n",
         {{"A00001", "", "", "ALL"}, {"B00002", "/in", "", "   "}}},
        {"hdr\r\nB00002,/in,/out", {{"B00002", "/in", "/out", "   "}}},
        // Too few fields take the rest from the next line.
        {"hdr\r\nA00001,/r\r\n/s,OTR\r\nB00002,,,ALL\r\n",
         {{"A00001", "/r", "/s", "OTR"}, {"B00002", "", "", "ALL"}}},
        // Too many fields hand the surplus to the next record.
        {"hdr\r\nA00001,/r,/s,LOD,X9\r\n,,\r\n", {{"A00001", "/r", "/s", "LOD"}, {"X9", "", "", "   "}}},
        // Quotes may hold commas; blanks around unquoted fields go.
        {"hdr\r\n\"A,0001\" , \"/r, x \",  /s  ,\"lod\"\r\n", {{"A,0001", "/r, x ", "/s", "lod"}}},
        // Text after a closing quote is dropped; an open quote ends with its line.
        {"hdr\r\n\"A00001\"junk,\"/r\r\n/s,ALL\r\n", {{"A00001", "/r", "/s", "ALL"}}},
        // LF-only and CR-only files.
        {"hdr\nA00001,/r,/s,LOD\nB00002,,,\n", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        {"hdr\rA00001,/r,/s,LOD\rB00002,,,\r", {{"A00001", "/r", "/s", "LOD"}, {"B00002", "", "", "   "}}},
        // The file type is cut to three characters; IDs are kept as written.
        {"hdr\r\nabc,,,ALLX\r\n", {{"abc", "", "", "ALL"}}},
        {std::string("hdr\r\nA\0B,/r\0,,\r\n", 17), {{std::string("A\0B", 3), std::string("/r\0", 3), "", "   "}}},
    };
    for (const auto& [bytes, expected] : cases) {
        load(bytes);
        EXPECT_EQ(entries(), expected) << bytes;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ReadIdInf, TableHoldsAtMost128Records) {
    std::string bytes = "hdr\r\n";
    for (int i = 0; i < 130; ++i) bytes += "ID" + std::to_string(1000 + i) + ",/r" + std::to_string(i) + ",,\r\n";
    load(bytes);
    ASSERT_EQ(htIdCount, 128);
    EXPECT_EQ(HtIdTable[0].htId, "ID1000");
    EXPECT_EQ(HtIdTable[127].htId, "ID1127");
    EXPECT_EQ(HtIdTable[127].recvDir, "/r127");
}

TEST_F(ReadIdInf, RereadingClearsOldEntries) {
    load("hdr\r\nA00001,/r,/s,LOD\r\nB00002,/r2,/s2,OTR\r\n");
    ASSERT_EQ(htIdCount, 2);
    load("hdr\r\nC00003,/x");
    EXPECT_EQ(entries(), (std::vector<HtIdEntry>{{"C00003", "/x", "", "   "}}));
    EXPECT_EQ(HtIdTable[1], (HtIdEntry{"", "", "", "   "}));
}

TEST_F(ReadIdInf, BadInputNeitherCrashesNorHangs) {
    std::string garbage = "hdr\r\n";
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    load(garbage);
    EXPECT_LE(htIdCount, kHtIdSlots);

    const std::string big(5 * 1024 * 1024, 'r');
    load("hdr\r\nA00001," + big + ",/s,ALL");
    ASSERT_EQ(htIdCount, 1);
    EXPECT_EQ(HtIdTable[0].recvDir, big);
    EXPECT_EQ(HtIdTable[0].fileKind, "ALL");

    load("hdr\r\n\"" + big);
    EXPECT_EQ(htIdCount, 0);
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\n\"" + big);
}

TEST_F(ReadIdInf, UncreatableFileShowsBoxAndEnds) {
    EnvSettings.htIdFile = "nodir/ids.inf";
    EXPECT_THROW(readIdInf(), ProgramEnded);
    EXPECT_EQ(host.shown.back().text, "No Pass\rnodir/ids.inf");
}

TEST_F(ReadIdInf, CancelledOpenLeavesEmptyTable) {
    writeBytes("ids.inf", "hdr\r\nA00001,,,\r\n");
    injectFileFault(71, 2);
    host.answers = {kAnswerCancel, kAnswerCancel};
    readIdInf();
    EXPECT_EQ(htIdCount, 0);
    EXPECT_EQ(host.shown.size(), 2u);
    EXPECT_EQ(readBytes("ids.inf"), "hdr\r\nA00001,,,\r\n");
}

}  // namespace
}  // namespace quendril
