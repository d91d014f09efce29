#include "commfixture.h"
#include "commint.h"

namespace quendril::test {
namespace {

class TransmitTest : public CommTest {
protected:
    // Files the library would send: the listing of the pattern's directory
    // at the moment of the call.
    std::vector<std::vector<std::string>> sentFiles;
    std::vector<std::string> sentContents;

    void SetUp() override {
        CommTest::SetUp();
        fake.onTransfer = [this](const std::string& pattern, CommInfo&) {
            ASSERT_GE(pattern.size(), 4u);
            ASSERT_EQ(pattern.substr(pattern.size() - 4), "/*.*");
            const std::string dir = pattern.substr(0, pattern.size() - 4);
            std::vector<std::string> names;
            for (const auto& e : std::filesystem::directory_iterator(dir)) {
                if (e.is_regular_file()) names.push_back(e.path().filename().string());
            }
            std::sort(names.begin(), names.end());
            sentFiles.push_back(names);
        };
        fake.pollResults = {};
    }
    void fillSendDir() {
        writeBytes(EnvSettings.sendDir + "/A.LOD", "lod-a");
        writeBytes(EnvSettings.sendDir + "/b.lod", "lod-b");
        writeBytes(EnvSettings.sendDir + "/C.TXT", "text");
    }
    // tempDir holds no file and no directory.
    void expectTempDirEmpty() { EXPECT_EQ(entriesIn(tempDir), std::vector<std::string>{}); }
};

TEST_F(TransmitTest, FileTypeSelectsWhatIsSent) {
    fillSendDir();
    writeBytes(EnvSettings.sendDir + "/AB", "short");
    struct Case {
        std::string globalKind;
        std::string entryKind;
        std::vector<std::string> sent;
        bool fromSendDir;
    };
    const std::vector<Case> cases = {
        {"LOD", "   ", {"A.LOD", "B.LOD"}, false},
        {"ALL", "lod", {"A.LOD", "B.LOD"}, false},
        {"OTR", "   ", {"AB", "C.TXT"}, false},
        {"ALL", "   ", {"A.LOD", "AB", "C.TXT", "b.lod"}, true},
        {"LOD", "all", {"A.LOD", "AB", "C.TXT", "b.lod"}, true},
        {"XYZ", "   ", {}, false},
        {"LOD", "", {"A.LOD", "B.LOD"}, false},
    };
    for (const Case& c : cases) {
        htIdCount = 0;
        addEntry("HT0001", "", "", c.entryKind);
        EnvSettings.fileKind = c.globalKind;
        commInfoList = {makeRecord("HT0001", 1, 3)};
        sentFiles.clear();
        fake.transferTexts.clear();
        fake.sentRecords.clear();
        EXPECT_EQ(transmitFile(0), kOutcomeDone);
        ASSERT_EQ(sentFiles.size(), 1u);
        EXPECT_EQ(sentFiles[0], c.sent) << c.globalKind << "/" << c.entryKind;
        EXPECT_EQ(fake.sentRecords[0].fileCount, static_cast<int32_t>(c.sent.size()));
        EXPECT_EQ(commInfoList[0].fileCount, static_cast<int32_t>(c.sent.size()));
        const bool fromSendDir = fake.transferTexts[0] == EnvSettings.sendDir + "/*.*";
        EXPECT_EQ(fromSendDir, c.fromSendDir) << fake.transferTexts[0];
        expectTempDirEmpty();
    }
    EXPECT_EQ(entriesIn(EnvSettings.sendDir), (std::vector<std::string>{"A.LOD", "AB", "C.TXT", "b.lod"}))
        << "the source is never changed";
}

TEST_F(TransmitTest, StagedCopiesCarryTheBytesAndTotals) {
    fillSendDir();
    EnvSettings.fileKind = "LOD";
    commInfoList = {makeRecord("HT0001", 1, 3)};
    fake.onTransfer = [this](const std::string& pattern, CommInfo&) {
        const std::string dir = pattern.substr(0, pattern.size() - 4);
        sentContents = {readBytes(dir + "/A.LOD"), readBytes(dir + "/B.LOD")};
    };
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(sentContents, (std::vector<std::string>{"lod-a", "lod-b"}));
    EXPECT_EQ(fake.sentRecords[0].totalSize, 10);
}

TEST_F(TransmitTest, NothingElseInTempDirIsSentOrLost) {
    fillSendDir();
    writeBytes(tempDir + "/STRAY.LOD", "stray");
    EnvSettings.fileKind = "LOD";
    commInfoList = {makeRecord("HT0001", 1, 3)};
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(sentFiles[0], (std::vector<std::string>{"A.LOD", "B.LOD"}));
    EXPECT_EQ(entriesIn(tempDir), std::vector<std::string>{"STRAY.LOD"});

    // A transmitting directory that is tempDir itself loses nothing.
    EnvSettings.sendDir = tempDir;
    sentFiles.clear();
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(sentFiles[0], std::vector<std::string>{"STRAY.LOD"});
    EXPECT_EQ(entriesIn(tempDir), std::vector<std::string>{"STRAY.LOD"});
    EXPECT_EQ(readBytes(tempDir + "/STRAY.LOD"), "stray");
}

TEST_F(TransmitTest, ResultsAndStopsMapToOutcomesAndCopiesAreAlwaysRemoved) {
    fillSendDir();
    EnvSettings.fileKind = "OTR";
    struct Case {
        int16_t result;
        bool cancel;
        int16_t outcome;
    };
    for (const Case& c : {Case{-1, false, kOutcomeFailed}, Case{TVK_ESTOPPED, false, kOutcomeStop},
                          Case{0, true, kOutcomeStop}, Case{1, false, kOutcomeDone}}) {
        stopRequested = false;
        commInfoList = {makeRecord("HT0001", 1, 3)};
        fake.jobResults = {c.result};
        fake.onTransfer = [&c](const std::string&, CommInfo&) { stopRequested = c.cancel; };
        EXPECT_EQ(transmitFile(0), c.outcome) << c.result;
        expectTempDirEmpty();
    }
    EXPECT_EQ(fake.calls("idtblclr"), 0) << "a Transmit File never re-polls";
}

TEST_F(TransmitTest, ApInstallSendsTheApplicationDirectoryLeavingMapFilesOutOfTheTotals) {
    writeBytes(EnvSettings.apDir + "/PROG.EXE", bytes(1000, 'e'));
    writeBytes(EnvSettings.apDir + "/PROG.MAP", bytes(50, 'm'));
    writeBytes(EnvSettings.apDir + "/prog.map", bytes(7, 'm'));
    const std::string own = makeDir("own");
    addEntry("HT0001", "", own, "LOD");
    commInfoList = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
    fake.pollResults = {1};
    fake.records = {{makeRecord("HT0001", TVK_DIR_END), 0}};
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, std::vector<std::string>{EnvSettings.apDir + "/*.*"});
    EXPECT_EQ(sentFiles[0], (std::vector<std::string>{"PROG.EXE", "PROG.MAP", "prog.map"}));
    EXPECT_EQ(fake.sentRecords[0].fileCount, 1);
    EXPECT_EQ(fake.sentRecords[0].totalSize, 1000);
    // Exactly one re-poll for this terminal, which then is disconnected.
    EXPECT_EQ(fake.calls("idtblclr"), 1);
    EXPECT_EQ(fake.registeredIds, std::vector<std::string>{"HT0001"});
    EXPECT_EQ(fake.calls("getcinffirst"), 1);
    EXPECT_EQ(fake.disconnectModes, std::vector<int32_t>{0});
    expectTempDirEmpty();
}

TEST_F(TransmitTest, FailedOrStoppedApInstallHasNoRepollAndAStoppedRepollStops) {
    writeBytes(EnvSettings.apDir + "/PROG.EXE", "x");
    struct Case {
        int16_t send;
        std::deque<int16_t> polls;
        int16_t outcome;
        int repolls;
    };
    for (const Case& c : {Case{-1, {}, kOutcomeFailed, 0}, Case{TVK_ESTOPPED, {}, kOutcomeStop, 0},
                          Case{0, {TVK_ESTOPPED, TVK_ESTOPPED, TVK_ESTOPPED}, kOutcomeStop, 1}}) {
        timeline.clear();
        commInfoList = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
        fake.jobResults = {c.send};
        fake.pollResults = c.polls;
        int16_t polls = 0;
        fake.onPoll = [&] {
            // Let the window close after the scripted polls.
            if (++polls == 3) setRepollClock([] { return std::chrono::steady_clock::time_point::max(); });
        };
        EXPECT_EQ(transmitFile(0), c.outcome);
        EXPECT_EQ(fake.calls("idtblclr"), c.repolls);
        setRepollClock(nullptr);
    }
}

TEST_F(TransmitTest, MissingSourceDirectoryEndsTheProgramWithoutSending) {
    for (const int32_t type : {3, TVK_TYPE_APPL}) {
        timeline.clear();
        host.shown.clear();
        const std::string missing = work.str() + "/nowhere";
        EnvSettings.sendDir = missing;
        EnvSettings.apDir = missing;
        commInfoList = {makeRecord("HT0001", 1, type)};
        EXPECT_THROW(transmitFile(0), ProgramEnded);
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].text, fileErrMessage(kFileErrPathAccess, missing));
        EXPECT_EQ(entriesWith(timeline, "disconnect"), std::vector<std::string>{"disconnect 1"});
        EXPECT_EQ(timeline.back(), "close");
        EXPECT_EQ(fake.calls("filesend"), 0);
    }
}

TEST_F(TransmitTest, EmptySourceIsSentWithZeroTotals) {
    commInfoList = {makeRecord("HT0001", 1, 3)};
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(fake.sentRecords[0].fileCount, 0);
    EXPECT_EQ(fake.sentRecords[0].totalSize, 0);
}

TEST_F(TransmitTest, StagingThatCannotBeCreatedSendsNothing) {
    fillSendDir();
    const CommInfo info = makeRecord("HT0001", 1, 3);
    host.answers = {kAnswerCancel};
    injectFileFault(kFileErrNotReady, 1);
    EXPECT_EQ(stageTransmitFiles(info, EnvSettings.sendDir, "LOD"), "");
    EXPECT_EQ(host.shown.size(), 1u);
    expectTempDirEmpty();
}

TEST_F(TransmitTest, TotalsSaturateInsteadOfWrapping) {
    const std::string big = makeDir("big");
    for (const char* name : {"/A.BIN", "/B.BIN"}) {
        writeBytes(big + name, "");
        std::filesystem::resize_file(big + name, std::uintmax_t{1} << 30);  // sparse
    }
    writeBytes(big + "/C.BIN", "1");
    const TransmitTotals t = countTransmitFiles(makeRecord("HT0001", 1, 3), big);
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(t.total, std::numeric_limits<int32_t>::max());
}

TEST(TransmitTotalsTest, CountAndTotalSaturate) {
    struct CountCase {
        int16_t before;
        int16_t after;
    };
    for (const CountCase& c : {CountCase{0, 1}, CountCase{32766, 32767}, CountCase{32767, 32767}}) {
        EXPECT_EQ(countOneMore(c.before), c.after);
    }
    struct TotalCase {
        int32_t total;
        std::uintmax_t bytes;
        int32_t result;
    };
    const int32_t top = std::numeric_limits<int32_t>::max();
    for (const TotalCase& c : {TotalCase{0, 0, 0}, TotalCase{10, 1000, 1010}, TotalCase{top - 5, 5, top},
                               TotalCase{top - 5, 6, top}, TotalCase{top, 1, top}, TotalCase{0, UINTMAX_MAX, top},
                               TotalCase{1, std::uintmax_t{1} << 40, top}}) {
        EXPECT_EQ(addBytesSaturated(c.total, c.bytes), c.result) << c.total << " + " << c.bytes;
    }
}

}  // namespace
}  // namespace quendril::test
