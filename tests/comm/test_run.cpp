#include <chrono>
#include <tuple>

#include "commfixture.h"

namespace quendril::test {
namespace {

using Strings = std::vector<std::string>;
using Modes = std::vector<int32_t>;

class DriverTest : public CommTest {
protected:
    // The run reads hostpc.ini itself, so settings go through it.
    Settings ini = defaultSettings();

    void SetUp() override {
        CommTest::SetUp();
        ini.recvDir = settings.recvDir;
        ini.sendDir = settings.sendDir;
        ini.apDir = settings.apDir;
        ini.comPort = "01";
        ini.lineParamB = "04500";
        ASSERT_TRUE(writeSettings(run.files, ini));
    }
    // Polls once and finds these terminals; the next pass is stopped.
    void onePass(const std::vector<CommInfo>& terminals) {
        fake.pollResults = {static_cast<int16_t>(terminals.size())};
        for (const CommInfo& t : terminals) fake.records.push_back({t, 0});
    }
    // A fresh run for one more case: Run holds one run's stop and failure.
    quendril::Run& again() {
        timeline.clear();
        fake.disconnectModes.clear();
        prompt.shown.clear();
        return *(rerun = runAsking(prompt));
    }
    std::unique_ptr<quendril::Run> rerun;
};

TEST_F(DriverTest, OnePassInOrderThenAStopWhilePolling) {
    onePass({makeRecord("HT0001", 0)});
    EXPECT_EQ(execute(run), RunEnd::AllDone);
    EXPECT_EQ(fake.lastOpenParam.lineParamB, 4500) << "opened with the settings of hostpc.ini";
    const Strings expected = {
        "open 1", "status 0 0 ", "icon 1", "idtblclr", "idtbladd &&&&&&", "polling 16 mode 1",
        "cell 0 clear 0", "getcinffirst", "cell 0 HT0001 0", "hideErr", "scale 0", "on",
        "status 1 1 HT0001", "filerecv " + settings.recvDir, "geterrinf", "cell 0 HT0001 1",
        "err HT0001 0", "hideScale", "hideScale", "disconnect 1", "status 0 0 ", "icon 1", "idtblclr",
        "idtbladd &&&&&&", "polling 16 mode 1", "disconnect 1", "close",
    };
    EXPECT_EQ(timeline, expected);
}

TEST_F(DriverTest, OpenFailureShowsOneBoxNamingThePort) {
    for (const auto& [port, name] : {std::pair{"00", "COM0"}, std::pair{"01", "COM1"}}) {
        quendril::Run& once = again();
        ini.comPort = port;
        ASSERT_TRUE(writeSettings(run.files, ini));
        fake.openResult = TVK_ENODEV;
        EXPECT_EQ(execute(once), RunEnd::LineFailed);
        ASSERT_EQ(prompt.shown.size(), 1u);
        EXPECT_EQ(prompt.shown[0].text, "Open error\r" + std::string(name));
        EXPECT_EQ(timeline, Strings{"open " + std::string(1, port[1])});
    }
}

TEST_F(DriverTest, OpenParamFromTheSettings) {
    ini.baudCode = "05";
    ini.parityCode = "02";
    ini.stopBits = "02";
    ini.lineParamA = "0120";
    ini.lineParamB = "04500";
    ini.lineParamC = "07";
    for (const auto& [dataLength, sevenBits] : {std::pair{"08", 0}, std::pair{"07", 1}, std::pair{"8.", 0}, std::pair{"09", 1}}) {
        ini.dataLength = dataLength;
        const OpenParam p = makeOpenParam(ini);
        EXPECT_EQ((std::vector<int32_t>{p.baudCode, p.sevenBits, p.parityCode, p.stopBits, p.lineParamA, p.lineParamB,
                                        p.lineParamC, p.spare1, p.spare2}),
                  (std::vector<int32_t>{5, sevenBits, 2, 2, 120, 4500, 7, 0, 0}))
            << dataLength;
    }
}

TEST_F(DriverTest, CancelWhilePollingDisconnectsOnceAndChangesNothing) {
    run.records = {makeRecord("OLD001", 0)};
    fake.pollResults = {0, 0, 0, 0, 0};
    fake.onPoll = [&] {
        if (fake.calls("polling") == 3) requestStop(run);
    };
    EXPECT_EQ(execute(run), RunEnd::AllDone);
    EXPECT_EQ(fake.calls("polling"), 3);
    EXPECT_EQ(fake.disconnectModes, Modes{1});
    EXPECT_EQ(timeline.back(), "close");
    EXPECT_EQ(fake.calls("close"), 1);
    EXPECT_TRUE(seen("cell").empty());
    ASSERT_EQ(run.records.size(), 1u);
    EXPECT_EQ(std::string(run.records[0].htId, 6), "OLD001");
    EXPECT_TRUE(run.stopping()) << "stays set after the run";
}

TEST_F(DriverTest, CancelInTheSecondOfThreeJobs) {
    onePass({makeRecord("A00001", 0), makeRecord("A00002", 0), makeRecord("A00003", 0)});
    int transfers = 0;
    fake.onTransfer = [&](const std::string&, CommInfo&) {
        if (++transfers == 2) requestStop(run);
    };
    EXPECT_EQ(execute(run), RunEnd::AllDone);
    EXPECT_EQ(transfers, 2) << "terminal 3 is not served";
    EXPECT_EQ(seen("cell"), (Strings{"cell 0 clear 0", "cell 0 A00001 0", "cell 1 A00002 0", "cell 2 A00003 0",
                                     "cell 0 A00001 1"}));
    EXPECT_EQ(seen("err"), Strings{"err A00001 0"});
    EXPECT_EQ(fake.disconnectModes, (Modes{1, 1}));
    EXPECT_EQ(timeline.back(), "close");
}

// A failed job is red even when the library reports error word 0.
TEST_F(DriverTest, OutcomesColourTheCellsAndTheNextPassStartsWithPolling) {
    onePass({makeRecord("A00001", 0), makeRecord("A00002", 0), makeRecord("A00003", 0), makeRecord("A00004", 0)});
    fake.jobResults = {0, -1, 0, -1};
    fake.errWords = {0, 0x0100, 0, 0};
    EXPECT_EQ(execute(run), RunEnd::JobFailed);
    for (const char* cell : {"cell 0 A00001 1", "cell 1 A00002 2", "cell 2 A00003 1", "cell 3 A00004 2"}) {
        EXPECT_EQ(seen(cell).size(), 1u) << cell;
    }
    EXPECT_EQ(seen("err"), (Strings{"err A00001 0", "err A00002 256", "err A00003 0", "err A00004 0"}));
    const auto firstDisconnect = std::find(timeline.begin(), timeline.end(), "disconnect 1");
    ASSERT_NE(firstDisconnect, timeline.end());
    EXPECT_EQ(std::count(timeline.begin(), firstDisconnect, "geterrinf"), 4);
    EXPECT_EQ(*(firstDisconnect + 1), "status 0 0 ");
    EXPECT_EQ(fake.calls("polling"), 2);
    EXPECT_EQ(fake.disconnectModes, (Modes{1, 1}));
}

TEST_F(DriverTest, JobKindShownByDirectionAndType) {
    writeBytes(settings.apDir + "/PROG.EXE", "x");
    const std::vector<std::tuple<int32_t, int32_t, std::string, std::string>> cases = {
        {1, TVK_TYPE_APPL, "status 1 0 HT0001", "filesend"},
        {1, 3, "status 1 2 HT0001", "filesend"},
        {0, 0, "status 1 1 HT0001", "filerecv"},
        {0, TVK_TYPE_APPL, "status 1 1 HT0001", "filerecv"},
    };
    for (const auto& [transDir, transType, status, call] : cases) {
        quendril::Run& once = again();
        onePass({makeRecord("HT0001", transDir, transType)});
        if (transType == TVK_TYPE_APPL && transDir == 1) {
            fake.pollResults.push_back(1);
            fake.records.push_back({makeRecord("HT0001", 0), 0});
        }
        EXPECT_EQ(execute(once), RunEnd::AllDone);
        EXPECT_EQ(seen("status 1"), Strings{status});
        EXPECT_EQ(fake.calls(call), 1);
        EXPECT_EQ(seen("cell 0 HT0001 1").size(), 1u);
    }
}

// A record asking for neither direction breaks the protocol: that terminal
// ends in error with its own word, whatever the terminal before it did.
TEST_F(DriverTest, UnknownDirectionStartsNoJobAndEndsThatTerminalInError) {
    onePass({makeRecord("A00001", 0), makeRecord("A00002", 7), makeRecord("A00003", 0), makeRecord("A00004", 254)});
    fake.jobResults = {0, -1};
    fake.errWords = {0, 0x0100};
    EXPECT_EQ(execute(run), RunEnd::JobFailed);
    EXPECT_EQ(fake.calls("filerecv"), 2);
    EXPECT_TRUE(seen("status 1 1 A00002").empty());
    EXPECT_EQ(seen("cell"), (Strings{"cell 0 clear 0", "cell 0 A00001 0", "cell 1 A00002 0", "cell 2 A00003 0",
                                     "cell 3 A00004 0", "cell 0 A00001 1", "cell 1 A00002 2", "cell 2 A00003 2",
                                     "cell 3 A00004 2"}));
    EXPECT_EQ(seen("err"), (Strings{"err A00001 0", "err A00002 1024", "err A00003 256", "err A00004 1024"}));
    EXPECT_EQ(fake.calls("geterrinf"), 2);
}

// A failure whose box ends the program (a missing sending directory) ends
// the run there: nobody else is served, the line is released and closed.
TEST_F(DriverTest, AFailureThatEndsTheProgramEndsTheRunAtOnce) {
    const std::string missing = work.str() + "/nowhere";
    addEntry("A00001", "", missing);
    onePass({makeRecord("A00001", 1, 3), makeRecord("A00002", 0)});
    EXPECT_EQ(execute(run), RunEnd::FileFailed);
    ASSERT_TRUE(run.files.ending());
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, fileErrMessage(kFileErrPathAccess, missing));
    EXPECT_EQ(fake.calls("filesend") + fake.calls("filerecv"), 0);
    EXPECT_EQ(fake.calls("polling"), 1);
    EXPECT_EQ(timeline.back(), "close");
    EXPECT_EQ(fake.disconnectModes, (Modes{1, 1}));
}

// A failed poll means the line is gone: the run ends at once, naming the
// port and what the library saw, instead of polling on.
TEST_F(DriverTest, EndRecordFailedReadingOrALostLineEndsTheRunWithoutJobs) {
    // polls, records, error word, cells drawn, how the run ends, error line
    const std::vector<std::tuple<std::deque<int16_t>, std::deque<RecordAnswer>, int16_t, std::size_t, RunEnd, Strings>>
        cases = {
            {{1}, {{makeRecord("HT0001", TVK_DIR_END), 0}}, 0, 1, RunEnd::AllDone, {}},
            {{2}, {{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 0), -1}}, 0, 3, RunEnd::LineFailed,
             {"err COM1 16"}},
            {{0, 0, TVK_EFAIL}, {}, TVK_ES_FATAL, 0, RunEnd::LineFailed, {"err COM1 16"}},
            {{TVK_ENOTOPEN}, {}, 0, 0, RunEnd::LineFailed, {"err COM1 16"}},
        };
    for (const auto& [polls, records, word, cells, end, errLine] : cases) {
        quendril::Run& once = again();
        fake.pollResults = polls;
        fake.records = records;
        fake.errWords = {word};
        EXPECT_EQ(execute(once), end);
        EXPECT_EQ(fake.calls("polling"), static_cast<int>(polls.size()));
        EXPECT_EQ(fake.calls("filerecv") + fake.calls("filesend"), 0);
        EXPECT_EQ(fake.disconnectModes, Modes{1});
        EXPECT_EQ(timeline.back(), "close");
        EXPECT_EQ(seen("cell").size(), cells);
        EXPECT_EQ(seen("err"), errLine);
    }
}

TEST_F(DriverTest, MoreTerminalsThanCellsAreAllServedAndSixteenDrawn) {
    std::vector<CommInfo> terminals;
    for (int i = 0; i < 20; ++i) terminals.push_back(makeRecord("T" + std::to_string(10000 + i), 0));
    onePass(terminals);
    EXPECT_EQ(execute(run), RunEnd::AllDone);
    EXPECT_EQ(fake.calls("filerecv"), 20);
    EXPECT_EQ(fake.calls("geterrinf"), 20);
    EXPECT_EQ(view.highestCell, 15);
    EXPECT_EQ(seen("status 1 1 T10019").size(), 1u);
    EXPECT_EQ(run.records.size(), 20u);
}

using PollingTest = CommTest;

TEST_F(PollingTest, RegistersTheIdTableOrTheWildcardWhenItIsEmpty) {
    for (const Strings& table : {Strings{}, Strings{"HT0001", "HT 02 ", "&&&&&&"}}) {
        run.terminals.clear();
        for (const std::string& id : table) addEntry(id);
        fake.pollResults = {1};
        fake.records = {{makeRecord("HT0001", 0), 0}};
        int16_t count = 0;
        EXPECT_EQ(pollTerminals(run, count), kOutcomeDone);
        EXPECT_EQ(fake.registeredIds, table.empty() ? Strings{"&&&&&&"} : table);
    }
}

TEST_F(PollingTest, PollsUntilATerminalAnswers) {
    settings.ioBoxCount = "08";
    fake.pollResults = {0, 0, 0, 0, 2};
    fake.records = {{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 1), -3}};
    int16_t count = 0;
    EXPECT_EQ(pollTerminals(run, count), kOutcomeDone);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(seen("polling"), Strings(5, "polling 8 mode 1"));
    ASSERT_EQ(run.records.size(), 2u);
    EXPECT_EQ(std::string(run.records[1].htId, 6), "HT0002");
    EXPECT_EQ(seen("cell"), (Strings{"cell 0 clear 0", "cell 0 HT0001 0", "cell 1 HT0002 0"}));
}

// The last record's result decides the outcome; an end record or a stop
// while reading ends at once without reading or drawing the rest.
TEST_F(PollingTest, RecordResultsDecideTheOutcome) {
    const Strings allCells = {"cell 0 clear 0", "cell 0 A00001 0", "cell 1 A00002 0", "cell 2 A00003 0"};
    const Strings firstCell = {"cell 0 clear 0", "cell 0 A00001 0"};
    // second record, last result, outcome, getcinfnext calls, cells
    const std::vector<std::tuple<RecordAnswer, int16_t, int16_t, int, Strings>> cases = {
        {{makeRecord("A00002", 0), 0}, 0, kOutcomeDone, 2, allCells},
        {{makeRecord("A00002", 0), 0}, -3, kOutcomeDone, 2, allCells},
        {{makeRecord("A00002", 0), 0}, -1, kOutcomeFailed, 2, allCells},
        {{makeRecord("A00002", 0), 0}, -7, kOutcomeFailed, 2, allCells},
        {{makeRecord("A00002", TVK_DIR_END), 0}, 0, kOutcomeStop, 1, firstCell},
        {{makeRecord("A00002", 0), TVK_ESTOPPED}, 0, kOutcomeStop, 1, firstCell},
    };
    for (const auto& [second, last, outcome, nextCalls, cells] : cases) {
        timeline.clear();
        fake.pollResults = {3};
        fake.records = {{makeRecord("A00001", 0), -1}, second, {makeRecord("A00003", 1), last}};
        int16_t count = 0;
        EXPECT_EQ(pollTerminals(run, count), outcome) << "last result " << last;
        EXPECT_EQ(count, 3);
        EXPECT_EQ(fake.calls("getcinffirst"), 1);
        EXPECT_EQ(fake.calls("getcinfnext"), nextCalls);
        EXPECT_EQ(seen("cell"), cells);
    }
}

// A clock the tests move: every poll takes 300 ms.
std::chrono::milliseconds clockOffset{0};
std::chrono::steady_clock::time_point movedClock() {
    static const auto start = std::chrono::steady_clock::now();
    return start + clockOffset;
}

class RepollTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        clockOffset = std::chrono::milliseconds(0);
        run.clock = &movedClock;
        fake.onPoll = [] { clockOffset += std::chrono::milliseconds(300); };
        run.records = {makeRecord("HT0007", 1, TVK_TYPE_APPL)};
    }
};

TEST_F(RepollTest, DisconnectsATerminalThatReportsTheEndOfItsWork) {
    for (const auto& [transDir, disconnects] :
         {std::pair{TVK_DIR_END, 1u}, std::pair{TVK_DIR_TO_PC, 0u}, std::pair{TVK_DIR_TO_HT, 0u}}) {
        timeline.clear();
        fake.disconnectModes.clear();
        fake.pollResults = {0, 1};
        fake.records = {{makeRecord("HT0007", transDir), 0}};
        EXPECT_EQ(repollAfterInstall(run, 0), kOutcomeDone);
        EXPECT_EQ(fake.registeredIds, Strings{"HT0007"});
        EXPECT_EQ(fake.calls("polling"), 2);
        EXPECT_EQ(fake.calls("getcinffirst"), 1);
        EXPECT_EQ(fake.disconnectModes, Modes(disconnects, 0));
        EXPECT_EQ(std::string(run.records[0].htId, 6), "HT0007") << "the list is not changed";
        EXPECT_EQ(run.records[0].transDir, 1);
    }
}

TEST_F(RepollTest, WindowIsOneSecondOnTheMonotonicClock) {
    fake.pollResults = std::deque<int16_t>(20, 0);
    EXPECT_EQ(repollAfterInstall(run, 0), kOutcomeDone);
    // Polls start at 0, 300, 600 and 900 ms; at 1200 ms the window is closed.
    EXPECT_EQ(fake.calls("polling"), 4);
    EXPECT_EQ(fake.calls("getcinffirst"), 1) << "the record is read although no terminal answered";

    // A positive registration skips polling.
    timeline.clear();
    fake.idAddResults = {1};
    EXPECT_EQ(repollAfterInstall(run, 0), kOutcomeDone);
    EXPECT_EQ(fake.calls("polling"), 0);
    EXPECT_EQ(fake.calls("getcinffirst"), 1);
}

TEST_F(RepollTest, AStopResultEndsTheWaitAtOnce) {
    const std::vector<std::tuple<std::deque<int16_t>, int16_t, int>> cases = {
        {{-11, 0, 0, 0}, kOutcomeStop, 1}, {{0, -11, 0, 0}, kOutcomeStop, 2},
        {{-1, 0, 1}, kOutcomeDone, 1}, {{0, 0, 0, 0}, kOutcomeDone, 4}};
    for (const auto& [polls, outcome, pollCalls] : cases) {
        timeline.clear();
        clockOffset = std::chrono::milliseconds(0);
        fake.pollResults = polls;
        EXPECT_EQ(repollAfterInstall(run, 0), outcome);
        EXPECT_EQ(fake.calls("polling"), pollCalls);
        EXPECT_EQ(fake.calls("getcinffirst"), outcome == kOutcomeStop ? 0 : 1);
    }
}

}  // namespace
}  // namespace quendril::test
