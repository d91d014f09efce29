#include "commfixture.h"
#include "hostpcIni.h"

namespace quendril::test {
namespace {

class DriverTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        const EnvSettingsRecord dirs = EnvSettings;
        makeDefaultIni();
        EnvSettings.recvDir = dirs.recvDir;
        EnvSettings.sendDir = dirs.sendDir;
        EnvSettings.apDir = dirs.apDir;
        EnvSettings.comPort = "01";
        saveSettings();
    }
    // The run reads the settings file again, so settings go through it.
    static void saveSettings() { ASSERT_TRUE(writeIni()); }

    // Polls once and finds these terminals; the next pass is stopped.
    void oneTerminalPass(const std::vector<CommInfo>& terminals) {
        fake.pollResults = {static_cast<int16_t>(terminals.size())};
        for (const CommInfo& t : terminals) fake.records.push_back({t, 0});
    }
    // Calls of the line library only, in order.
    std::vector<std::string> lineCalls() const {
        std::vector<std::string> out;
        for (const std::string& e : timeline) {
            for (const char* name : {"open", "close", "disconnect", "idtbl", "polling", "getcinf", "filerecv",
                                     "filesend", "geterrinf", "stopreq"}) {
                if (e.rfind(name, 0) == 0) {
                    out.push_back(e.substr(0, e.find(' ')));
                    break;
                }
            }
        }
        return out;
    }
};

TEST_F(DriverTest, OnePassInOrderThenAStopWhilePolling) {
    oneTerminalPass({makeRecord("HT0001", 0)});
    commExecute();
    const std::vector<std::string> expected = {
        "open 1", "status 0 0 ", "icon 1", "idtblclr", "idtbladd &&&&&&", "polling 16 mode 1",
        "cell 0 clear 0", "getcinffirst", "cell 0 HT0001 0", "hideErr", "scale 0", "on",
        "status 1 1 HT0001", "filerecv " + EnvSettings.recvDir, "cell 0 HT0001 1", "geterrinf",
        "err HT0001 0", "hideScale", "hideScale", "disconnect 1", "status 0 0 ", "icon 1", "idtblclr",
        "idtbladd &&&&&&", "polling 16 mode 1", "disconnect 1", "close",
    };
    EXPECT_EQ(timeline, expected);
    // One record for every disconnect of the run, kept from call to call.
    ASSERT_EQ(fake.disconnectRecords.size(), 2u);
    EXPECT_EQ(fake.disconnectRecords[0], fake.disconnectRecords[1]);
    EXPECT_EQ(std::string(fake.disconnectSeen[0].htId, 6), std::string(6, '\0'));
    EXPECT_EQ(std::string(fake.disconnectSeen[1].aux1, 2), "xx");
}

TEST_F(DriverTest, OpenFailureShowsOneBoxNamingThePort) {
    for (const auto& [port, name] : {std::pair{"00", "COM0"}, std::pair{"01", "COM1"}}) {
        timeline.clear();
        host.shown.clear();
        EnvSettings.comPort = port;
        saveSettings();
        fake.openResult = TVK_ENODEV;
        commExecute();
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].text, "Open error\r" + std::string(name));
        EXPECT_EQ(lineCalls(), std::vector<std::string>{"open"});
    }
}

TEST_F(DriverTest, OpenParamFromTheSettings) {
    struct Case {
        std::string dataLength;
        int32_t sevenBits;
    };
    for (const Case& c : {Case{"08", 0}, Case{"07", 1}, Case{"8.", 0}, Case{"09", 1}}) {
        EnvSettings.baudCode = "05";
        EnvSettings.dataLength = c.dataLength;
        EnvSettings.parityCode = "02";
        EnvSettings.stopBits = "02";
        EnvSettings.lineParamA = "0120";
        EnvSettings.lineParamB = "04500";
        EnvSettings.lineParamC = "07";
        const OpenParam p = makeOpenParam();
        EXPECT_EQ(p.baudCode, 5);
        EXPECT_EQ(p.sevenBits, c.sevenBits) << c.dataLength;
        EXPECT_EQ(p.parityCode, 2);
        EXPECT_EQ(p.stopBits, 2);
        EXPECT_EQ(p.lineParamA, 120);
        EXPECT_EQ(p.lineParamB, 4500);
        EXPECT_EQ(p.lineParamC, 7);
        EXPECT_EQ(p.spare1, 0);
        EXPECT_EQ(p.spare2, 0);
    }
    EXPECT_EQ(commOpen(), 0);
    EXPECT_EQ(fake.openPorts, std::vector<int32_t>{1});
    EXPECT_EQ(fake.lastOpenParam.lineParamB, 4500);
}

TEST_F(DriverTest, CancelWhilePollingDisconnectsOnceAndColoursNothing) {
    fake.pollResults = {0, 0, 0, 0, 0};
    view.onYield = [&] {
        if (view.yields == 3) pressCancel();
    };
    commExecute();
    EXPECT_EQ(fake.disconnectModes, std::vector<int32_t>{1});
    EXPECT_EQ(timeline.back(), "close");
    EXPECT_EQ(fake.calls("close"), 1);
    EXPECT_TRUE(entriesWith(timeline, "cell").empty());
    EXPECT_TRUE(stopRequested) << "stays set after the run";
}

TEST_F(DriverTest, CancelInTheSecondOfThreeJobs) {
    oneTerminalPass({makeRecord("A00001", 0), makeRecord("A00002", 0), makeRecord("A00003", 0)});
    int transfers = 0;
    fake.onTransfer = [&](const std::string&, CommInfo&) {
        if (++transfers == 2) pressCancel();
    };
    commExecute();
    EXPECT_EQ(transfers, 2) << "terminal 2 is not handled";
    EXPECT_EQ(entriesWith(timeline, "cell"),
              (std::vector<std::string>{"cell 0 clear 0", "cell 0 A00001 0", "cell 1 A00002 0", "cell 2 A00003 0",
                                        "cell 0 A00001 1"}));
    EXPECT_EQ(entriesWith(timeline, "err"), std::vector<std::string>{"err A00001 0"});
    EXPECT_EQ(fake.calls("geterrinf"), 1);
    EXPECT_EQ(fake.disconnectModes, (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(timeline.back(), "close");
}

TEST_F(DriverTest, OutcomesColourTheCellsAndTheNextPassStartsWithPolling) {
    oneTerminalPass({makeRecord("A00001", 0), makeRecord("A00002", 0), makeRecord("A00003", 0)});
    fake.jobResults = {0, -1, 0};
    fake.errWords = {0, 0x0100, 0};
    commExecute();
    EXPECT_EQ(entriesWith(timeline, "cell 0 A00001 1").size(), 1u);
    EXPECT_EQ(entriesWith(timeline, "cell 1 A00002 2").size(), 1u);
    EXPECT_EQ(entriesWith(timeline, "cell 2 A00003 1").size(), 1u);
    EXPECT_EQ(entriesWith(timeline, "err"),
              (std::vector<std::string>{"err A00001 0", "err A00002 256", "err A00003 0"}));
    const auto firstDisconnect = std::find(timeline.begin(), timeline.end(), "disconnect 1");
    ASSERT_NE(firstDisconnect, timeline.end());
    EXPECT_EQ(std::count(timeline.begin(), firstDisconnect, "geterrinf"), 3);
    EXPECT_EQ(*(firstDisconnect + 1), "status 0 0 ");
    EXPECT_EQ(fake.calls("polling"), 2);
    EXPECT_EQ(fake.disconnectModes, (std::vector<int32_t>{1, 1}));
}

TEST_F(DriverTest, JobKindShownByDirectionAndType) {
    writeBytes(EnvSettings.apDir + "/PROG.EXE", "x");
    struct Case {
        int32_t transDir;
        int32_t transType;
        std::string status;
        std::string call;
    };
    const std::vector<Case> cases = {
        {1, TVK_TYPE_APPL, "status 1 0 HT0001", "filesend"},
        {1, 3, "status 1 2 HT0001", "filesend"},
        {0, 0, "status 1 1 HT0001", "filerecv"},
        {0, TVK_TYPE_APPL, "status 1 1 HT0001", "filerecv"},
    };
    for (const Case& c : cases) {
        timeline.clear();
        fake.records.clear();
        oneTerminalPass({makeRecord("HT0001", c.transDir, c.transType)});
        if (c.transType == TVK_TYPE_APPL && c.transDir == 1) {
            fake.pollResults.push_back(1);
            fake.records.push_back({makeRecord("HT0001", 0), 0});
        }
        commExecute();
        EXPECT_EQ(entriesWith(timeline, "status 1"), std::vector<std::string>{c.status});
        EXPECT_EQ(fake.calls(c.call), 1);
        EXPECT_EQ(entriesWith(timeline, "cell 0 HT0001 1").size(), 1u);
    }
}

TEST_F(DriverTest, UnknownDirectionStartsNoJobAndKeepsTheOutcome) {
    oneTerminalPass({makeRecord("A00001", 0), makeRecord("A00002", 7), makeRecord("A00003", 0), makeRecord("A00004", 7)});
    fake.jobResults = {0, -1};
    commExecute();
    EXPECT_EQ(fake.calls("filerecv"), 2);
    EXPECT_TRUE(entriesWith(timeline, "status 1 1 A00002").empty());
    EXPECT_EQ(entriesWith(timeline, "cell 1 A00002 1").size(), 1u) << "keeps the done outcome";
    EXPECT_EQ(entriesWith(timeline, "cell 3 A00004 2").size(), 1u) << "keeps the failed outcome";
    EXPECT_EQ(fake.calls("geterrinf"), 4);
}

TEST_F(DriverTest, FailedJobWithErrorWordZeroIsRedWithoutErrorText) {
    oneTerminalPass({makeRecord("HT0001", 0)});
    fake.jobResults = {-1};
    commExecute();
    EXPECT_EQ(entriesWith(timeline, "cell 0 HT0001 2").size(), 1u);
    EXPECT_EQ(entriesWith(timeline, "err"), std::vector<std::string>{"err HT0001 0"});
}

TEST_F(DriverTest, EndRecordOrFailedReadingEndsTheRunWithoutJobs) {
    struct Case {
        std::deque<RecordAnswer> records;
        int cells;
    };
    const std::vector<Case> cases = {
        {{{makeRecord("HT0001", TVK_DIR_END), 0}}, 0},
        {{{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 0), -1}}, 2},
    };
    for (const Case& c : cases) {
        timeline.clear();
        fake.disconnectModes.clear();
        fake.pollResults = {static_cast<int16_t>(c.records.size())};
        fake.records = c.records;
        commExecute();
        EXPECT_EQ(fake.calls("filerecv") + fake.calls("filesend"), 0);
        EXPECT_EQ(fake.disconnectModes, std::vector<int32_t>{1});
        EXPECT_EQ(timeline.back(), "close");
        EXPECT_EQ(entriesWith(timeline, "cell").size(), static_cast<std::size_t>(c.cells) + 1);
    }
}

TEST_F(DriverTest, StopFlagIsClearedWhenTheNextRunStarts) {
    stopRequested = true;
    std::vector<bool> seen;
    fake.onPoll = [&] { seen.push_back(stopRequested); };
    commExecute();
    EXPECT_EQ(seen, std::vector<bool>{false});
}

TEST_F(DriverTest, MoreTerminalsThanCellsAreAllServed) {
    std::vector<CommInfo> terminals;
    for (int i = 0; i < 20; ++i) terminals.push_back(makeRecord("T" + std::to_string(10000 + i), 0));
    oneTerminalPass(terminals);
    commExecute();
    EXPECT_EQ(fake.calls("filerecv"), 20);
    EXPECT_EQ(fake.calls("geterrinf"), 20);
    EXPECT_EQ(view.highestCell, 15);
    EXPECT_EQ(entriesWith(timeline, "status 1 1 T10019").size(), 1u);
}

TEST_F(DriverTest, CommCloseDisconnectsWithABlankRecordThenCloses) {
    commClose();
    EXPECT_EQ(timeline, (std::vector<std::string>{"disconnect 1", "close"}));
    EXPECT_EQ(std::string(fake.disconnectSeen[0].htId, 6), std::string(6, '\0'));
}

}  // namespace
}  // namespace quendril::test
