#include <stdlib.h>
#include <time.h>

#include <chrono>

#include "commfixture.h"
#include "runlog.h"

namespace quendril::test {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using Modes = std::vector<int32_t>;

class DriverTest : public CommTest {
protected:
    Settings ini = defaultSettings();  // the run reads hostpc.ini itself

    void SetUp() override {
        CommTest::SetUp();
        std::tie(ini.recvDir, ini.sendDir, ini.apDir, ini.comPort, ini.lineParamB) =
            std::tuple(settings.recvDir, settings.sendDir, settings.apDir, "01", "04500");
        ASSERT_TRUE(writeSettings(run.files, ini));
    }
    // A fresh run (Run holds one run's stop and failure) that polls once and
    // finds these terminals; the next pass is stopped.
    quendril::Run& once(const std::vector<CommInfo>& terminals) {
        fake.clearCounts();
        prompt.shown.clear();
        fake.pollResults = {static_cast<int16_t>(terminals.size())};
        for (const CommInfo& t : terminals) fake.records.push_back({t, 0});
        return *(rerun = std::make_unique<quendril::Run>(FakeLine::table(), view, prompt, tempDir));
    }
    std::unique_ptr<quendril::Run> rerun;
};

TEST_F(DriverTest, OnePassInOrderThenAStopWhilePolling) {
    EXPECT_EQ(execute(once({makeRecord("HT0001", 0)})), RunEnd::AllDone);
    EXPECT_EQ(fake.lastOpenParam.lineParamB, 4500) << "opened with the settings of hostpc.ini";
    const Strings expected = {
        "open 1", "status 0 0 ", "icon 1", "idtblclr", "idtbladd &&&&&&", "polling 16 mode 1",
        "cell 0 clear 0", "getcinffirst", "cell 0 HT0001 0", "hideErr", "scale 0", "on",
        "status 1 1 HT0001", "filerecv " + settings.recvDir, "geterrinf", "cell 0 HT0001 1",
        "err HT0001 0", "hideScale", "hideScale", "disconnect 1", "status 0 0 ", "icon 1", "idtblclr",
        "idtbladd &&&&&&", "polling 16 mode 1", "disconnect 1", "close"};
    EXPECT_EQ(timeline, expected);
    // A send shows its kind by the record's type.
    writeBytes(settings.apDir + "/PROG.EXE", "x");
    for (const auto& [type, status] : {std::pair{3, "status 1 2 HT0001"}, std::pair{TVK_TYPE_APPL, "status 1 0 HT0001"}}) {
        quendril::Run& r = once({makeRecord("HT0001", 1, type)});
        if (type == TVK_TYPE_APPL) fake.pollResults.push_back(1), fake.records.push_back({makeRecord("HT0001", 0), 0});
        EXPECT_EQ(execute(r), RunEnd::AllDone);
        EXPECT_EQ(seen("status 1"), Strings{status});
        EXPECT_EQ(std::pair(fake.calls("filesend"), seen("cell 0 HT0001 1").size()), std::pair(1, std::size_t{1}));
    }
}

TEST_F(DriverTest, OpenFailureShowsOneBoxNamingThePortAndTheParamsComeFromTheSettings) {
    ini.comPort = "00";
    ASSERT_TRUE(writeSettings(run.files, ini));
    fake.openResult = TVK_ENODEV;
    EXPECT_EQ(execute(once({})), RunEnd::LineFailed);
    EXPECT_EQ(std::tuple(prompt.shown.size(), prompt.shown.at(0).text, timeline),
              std::tuple(1u, "Open error\rCOM0", Strings{"open 0"}));
    ini.baudCode = ini.parityCode = ini.stopBits = "02";
    ini.lineParamA = "0120";
    ini.lineParamC = "07";
    for (const auto& [dataLength, sevenBits] : {std::pair{"08", 0}, std::pair{"07", 1}, std::pair{"8.", 0}, std::pair{"09", 1}}) {
        ini.dataLength = dataLength;
        const OpenParam p = makeOpenParam(ini);
        EXPECT_EQ((Modes{p.baudCode, p.sevenBits, p.parityCode, p.stopBits, p.lineParamA, p.lineParamB, p.lineParamC,
                         p.spare1, p.spare2}), (Modes{2, sevenBits, 2, 2, 120, 4500, 7, 0, 0})) << dataLength;
    }
}

// A failed job is red even when the library reports error word 0. A record
// asking for neither direction breaks the protocol: that terminal ends in
// error with its own word, whatever the terminal before it did. More
// terminals than cells are all served, sixteen drawn.
TEST_F(DriverTest, OutcomesColourTheCellsAndTheNextPassStartsWithPolling) {
    std::vector<CommInfo> four;
    for (int32_t dir : {0, 0, 7, 0}) four.push_back(makeRecord("A0000" + std::to_string(four.size() + 1), dir));
    quendril::Run& r = once(four);
    fake.jobResults = {0, -1, -1};
    fake.errWords = {0, 0, 0x0100};
    EXPECT_EQ(execute(r), RunEnd::JobFailed);
    EXPECT_EQ(seen("status 1 1").size(), 3u);
    EXPECT_EQ(seen("cell"), (Strings{"cell 0 clear 0", "cell 0 A00001 0", "cell 1 A00002 0", "cell 2 A00003 0",
                                     "cell 3 A00004 0", "cell 0 A00001 1", "cell 1 A00002 2", "cell 2 A00003 2",
                                     "cell 3 A00004 2"}));
    EXPECT_EQ(seen("err"), (Strings{"err A00001 0", "err A00002 0", "err A00003 1024", "err A00004 256"}));
    const auto firstDisconnect = std::find(timeline.begin(), timeline.end(), "disconnect 1");
    ASSERT_NE(firstDisconnect, timeline.end());
    EXPECT_EQ(std::count(timeline.begin(), firstDisconnect, "geterrinf"), 3);
    EXPECT_EQ(*(firstDisconnect + 1), "status 0 0 ");
    EXPECT_EQ(std::pair(fake.calls("polling"), fake.disconnectModes), std::pair(2, Modes{1, 1}));
    std::vector<CommInfo> many;
    for (int i = 0; i < 20; ++i) many.push_back(makeRecord("T" + std::to_string(10000 + i), 0));
    EXPECT_EQ(execute(once(many)), RunEnd::AllDone);
    EXPECT_EQ(fake.calls("filerecv") + fake.calls("geterrinf"), 40);
    EXPECT_EQ(std::pair(seen("cell 15 T10015").size(), seen("cell 16").size()), std::pair(std::size_t{2}, std::size_t{0}));
    EXPECT_EQ(seen("status 1 1 T10019").size(), 1u);
}

// Polls go on until a terminal answers. A failed poll means the line is gone:
// the run ends at once, naming the port and what the library saw, instead of
// polling on. A failed last record fails the pass; an end record or a stop
// while reading ends it at once without reading or drawing the rest.
TEST_F(DriverTest, EndRecordFailedReadingOrALostLineEndsTheRunWithoutJobs) {
    // polls, records, error word, cells drawn, how the run ends
    const std::vector<std::tuple<std::deque<int16_t>, std::deque<RecordAnswer>, int16_t, std::size_t, RunEnd>> cases = {
        {{1}, {{makeRecord("HT0001", TVK_DIR_END), 0}}, 0, 1, RunEnd::AllDone},
        {{2}, {{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 0), -1}}, 0, 3, RunEnd::LineFailed},
        {{3}, {{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 0), TVK_ESTOPPED}}, 0, 2, RunEnd::AllDone},
        {{0, 0, TVK_EFAIL}, {}, TVK_ES_FATAL, 0, RunEnd::LineFailed},
        {{TVK_ENOTOPEN}, {}, 0, 0, RunEnd::LineFailed}};
    for (const auto& [polls, records, word, cells, end] : cases) {
        quendril::Run& r = once({});
        fake.pollResults = polls;
        fake.records = records;
        fake.errWords = {word};
        EXPECT_EQ(execute(r), end);
        EXPECT_EQ(std::tuple(fake.calls("polling"), fake.calls("filerecv"), fake.disconnectModes, timeline.back(),
                             seen("cell").size()),
                  std::tuple(static_cast<int>(polls.size()), 0, Modes{1}, std::string("close"), cells));
        EXPECT_EQ(seen("err"), end == RunEnd::AllDone ? Strings{} : Strings{"err COM1 16"});
    }
}

// After an install the terminal is polled again for one second on the
// monotonic clock (every poll takes 300 ms here: polls at 0, 300, 600 and
// 900 ms), and disconnected when it reports the end of its work. A stop
// result ends the wait at once; a positive registration skips it.
milliseconds clockOffset{0};
steady_clock::time_point movedClock() {
    static const auto start = steady_clock::now();
    return start + clockOffset;
}

TEST_F(CommTest, RepollAfterAnInstallWaitsOneSecondUnlessStoppedOrRegistered) {
    run.clock = &movedClock;
    fake.onPoll = [] { clockOffset += 300ms; };
    run.records = {makeRecord("HT0007", 1, TVK_TYPE_APPL)};
    // polls, registration result, record's direction, outcome, poll calls, disconnects
    const std::vector<std::tuple<std::deque<int16_t>, int16_t, int32_t, int16_t, int, Modes>> cases = {
        {std::deque<int16_t>(20, 0), 0, 0, kOutcomeDone, 4, {}}, {{0, -11, 0, 0}, 0, 0, kOutcomeStop, 2, {}},
        {{-1, 0, 1}, 0, 0, kOutcomeDone, 1, {}}, {{}, 1, 0, kOutcomeDone, 0, {}},
        {{0, 1}, 0, TVK_DIR_END, kOutcomeDone, 2, {0}}, {{0, 1}, 0, TVK_DIR_TO_HT, kOutcomeDone, 2, {}}};
    for (const auto& [polls, registration, dir, outcome, pollCalls, disconnects] : cases) {
        fake.clearCounts();
        clockOffset = 0ms;
        fake.pollResults = polls;
        fake.idAddResults = {registration};
        fake.records = {{makeRecord("HT0007", dir), 0}};
        EXPECT_EQ(repollAfterInstall(run, 0), outcome);
        // The record is read although none answered; the run's list is not changed.
        EXPECT_EQ(std::tuple(fake.registeredIds, fake.calls("polling"), fake.calls("getcinffirst"), fake.disconnectModes,
                             run.records[0].transDir),
                  std::tuple(Strings{"HT0007"}, pollCalls, outcome == kOutcomeStop ? 0 : 1, disconnects, 1));
    }
}

const system_clock::time_point kStart = sys_days{year{2026} / 12 / 7} + 11h + 4min + 54s;

JobRecord record(const std::string& id, const std::string& job = "Receive") {
    return {kStart, 3, id, job, 2, 1234, 1.5, "done", 0, "Done"};
}

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.open(work.str())); }
    static std::string log() { return readBytes(kRunLogName); }
    static std::string line(const std::string& id) { return runLogLine(record(id)) + '\n'; }
    const std::string header = runLogHeader() + '\n';
    ScopedWorkDir work;
    Directory dir;
};

// Fields are quoted only when needed, bytes kept; appends go after whole
// lines only (a line end inside a torn quoted ID ends no line), with one header.
TEST_F(RunLogTest, FieldsQuotedOnlyWhenNeededAndAppendsAfterWholeLines) {
    EXPECT_EQ(runLogHeader(), "time,box,terminal,job,files,bytes,seconds,result,status,status text");
    EXPECT_EQ(runLogLine({kStart, 3, "HT0001", "Receive", 2, 1234, 12.3456, "done", 0x1a2b, "Line Error"}),
              "2026-12-07T11:04:54Z,3,HT0001,Receive,2,1234,12.346,done,0x1A2B,Line Error");
    for (const auto& [id, field] : {std::pair{"A\rB", "\"A\rB\""}, {"\xE9t\xE9", "\xE9t\xE9"},
                                    {"&,\"\n\xFF", "\"&,\"\"\n\xFF\""}})
        EXPECT_EQ(runLogLine(record(id)), "2026-12-07T11:04:54Z,3," + std::string(field) + ",Receive,2,1234,1.500,done,0x0000,Done");
    const std::string whole = header + line("HT0001");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", header}, {whole, whole}, {whole + "2026-12-07T11:0", whole},
        {whole + "2026-12-07T11:04:54Z,3,\"A\nB", whole}, {whole + "2026-12-07T11:04:54Z,3,\"A\n", whole},
        {"time,bo", header}};
    for (const auto& [before, kept] : cases) {
        writeBytes(kRunLogName, before);
        ASSERT_FALSE(appendRunLog(dir, record("&,\"\n\xFF")));
        EXPECT_EQ(log(), kept + line("&,\"\n\xFF")) << before;
    }
}

TEST_F(RunLogTest, RotationKeepsOneOldCopyAndALinkAtTheNameIsRefused) {
    const std::string old = std::string(kRunLogName) + ".1";
    for (const char* id : {"HT0001", "HT0002", "HT0003", "HT0004", "HT0005"})
        ASSERT_FALSE(appendRunLog(dir, record(id), header.size() + 2 * line("HT0001").size())) << id;
    EXPECT_EQ(readBytes(old), header + line("HT0003") + line("HT0004"));
    EXPECT_EQ(log(), header + line("HT0005"));
    Strings names;
    ASSERT_FALSE(dir.list(names));
    EXPECT_EQ(names, (Strings{kRunLogName, old}));
    for (const bool targetExists : {true, false}) {
        std::filesystem::remove("elsewhere");
        std::filesystem::remove(kRunLogName);
        if (targetExists) writeBytes("elsewhere", "kept\n");
        std::filesystem::create_symlink("elsewhere", kRunLogName);
        EXPECT_EQ(appendRunLog(dir, record("HT0001")), std::errc::too_many_symbolic_link_levels);
        EXPECT_EQ(std::filesystem::exists("elsewhere") ? readBytes("elsewhere") : "-", targetExists ? "kept\n" : "-");
    }
}

TEST_F(RunLogTest, TableAndLastRunLineSumUpTheRun) {
    const JobRecord failed{kStart, 4, "HT\x1b" "02", "AP install", 0, 0, 3, "failed", 3, "Line Error"};
    const std::vector<JobRecord> run = {record("HT0001"), record("HT0001", "Transmit"), failed};
    EXPECT_EQ(runTable(run),
              "Box  Terminal  Job         Files  Bytes  Seconds  Result  Status\n"
              "  3  HT0001    Receive         2   1234    1.500  done    Done\n"
              "  3  HT0001    Transmit        2   1234    1.500  done    Done\n"
              "  4  HT?02     AP install      0      0    3.000  failed  Line Error\n"
              "     Total     3 jobs          4   2468    6.000  2 done\n");
    // A zone east of UTC: 22:12 UTC is 07:12 next day, local.
    const char* oldTz = getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "JST-9", 1);
    tzset();
    const std::vector<std::pair<std::vector<JobRecord>, std::string>> cases = {
        {run, "2 terminals, 2 done, 1 error end"}, {{record("HT0001")}, "1 terminal, 1 done, 0 error end"},
        {{}, "no terminal served"}};
    for (const auto& [jobs, summary] : cases)
        EXPECT_EQ(lastRunLine(jobs, sys_days{year{2026} / 12 / 7} + 22h + 12min),
                  "Last run 07:12: " + summary + " - see quendril-log.csv");
    oldTz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace quendril::test
