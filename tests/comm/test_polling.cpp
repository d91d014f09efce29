#include <chrono>
#include <thread>

#include "commfixture.h"

namespace quendril::test {
namespace {

using PollingTest = CommTest;

TEST_F(PollingTest, RegistersTheIdTableOrTheWildcardWhenItIsEmpty) {
    struct Case {
        std::vector<std::string> table;
        std::vector<std::string> registered;
    };
    const std::vector<Case> cases = {
        {{}, {"&&&&&&"}},
        {{"HT0001", "HT 02 ", "&&&&&&"}, {"HT0001", "HT 02 ", "&&&&&&"}},
    };
    for (const Case& c : cases) {
        htIdCount = 0;
        for (const std::string& id : c.table) addEntry(id);
        fake.pollResults = {1};
        fake.records = {{makeRecord("HT0001", 0), 0}};
        int16_t count = 0;
        EXPECT_EQ(pollTerminals(count), kOutcomeDone);
        EXPECT_EQ(fake.registeredIds, c.registered);
    }
}

TEST_F(PollingTest, PollsUntilATerminalAnswersYieldingAfterEveryCall) {
    EnvSettings.ioBoxCount = "08";
    fake.pollResults = {0, -1, -7, 0, 2};
    fake.records = {{makeRecord("HT0001", 0), 0}, {makeRecord("HT0002", 1), -3}};
    int yieldsAtPoll = 0;
    fake.onPoll = [&] { EXPECT_EQ(view.yields, yieldsAtPoll++); };
    int16_t count = 0;
    EXPECT_EQ(pollTerminals(count), kOutcomeDone);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(view.yields, 5);
    EXPECT_EQ(fake.pollBoxCounts, std::vector<int32_t>(5, 8));
    EXPECT_EQ(entriesWith(timeline, "polling").front(), "polling 8 mode 1");
    ASSERT_EQ(commInfoList.size(), 2u);
    EXPECT_EQ(std::string(commInfoList[1].htId, 6), "HT0002");
    EXPECT_EQ(entriesWith(timeline, "cell"),
              (std::vector<std::string>{"cell 0 clear 0", "cell 0 HT0001 0", "cell 1 HT0002 0"}));
}

TEST_F(PollingTest, StopWhilePollingChangesNothing) {
    commInfoList = {makeRecord("OLD001", 0)};
    fake.pollResults = {0, 0, 0, 0};
    view.onYield = [&] {
        if (view.yields == 3) pressCancel();
    };
    int16_t count = 42;
    EXPECT_EQ(pollTerminals(count), kOutcomeStop);
    EXPECT_EQ(count, 42);
    ASSERT_EQ(commInfoList.size(), 1u);
    EXPECT_EQ(std::string(commInfoList[0].htId, 6), "OLD001");
    EXPECT_TRUE(entriesWith(timeline, "cell").empty());
    EXPECT_EQ(fake.calls("polling"), 4);
}

TEST_F(PollingTest, LastRecordResultDecidesTheOutcome) {
    struct Case {
        int16_t last;
        int16_t outcome;
    };
    for (const Case& c : {Case{0, kOutcomeDone}, Case{-3, kOutcomeDone}, Case{-1, kOutcomeFailed},
                          Case{-7, kOutcomeFailed}}) {
        timeline.clear();
        fake.pollResults = {3};
        fake.records = {{makeRecord("A00001", 0), -1}, {makeRecord("A00002", 0), 0}, {makeRecord("A00003", 1), c.last}};
        int16_t count = 0;
        EXPECT_EQ(pollTerminals(count), c.outcome) << "last result " << c.last;
        EXPECT_EQ(fake.calls("getcinffirst"), 1);
        EXPECT_EQ(fake.calls("getcinfnext"), 2);
        EXPECT_EQ(entriesWith(timeline, "cell").size(), 4u) << "all cells shown";
    }
}

TEST_F(PollingTest, EndRecordOrStopWhileReadingStopsAtOnce) {
    struct Case {
        RecordAnswer second;
    };
    for (const Case& c : {Case{{makeRecord("A00002", TVK_DIR_END), 0}}, Case{{makeRecord("A00002", 0), TVK_ESTOPPED}}}) {
        timeline.clear();
        fake.pollResults = {3};
        fake.records = {{makeRecord("A00001", 0), 0}, c.second, {makeRecord("A00003", 0), 0}};
        int16_t count = 0;
        EXPECT_EQ(pollTerminals(count), kOutcomeStop);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(fake.calls("getcinfnext"), 1) << "the third record is not read";
        EXPECT_EQ(entriesWith(timeline, "cell"), (std::vector<std::string>{"cell 0 clear 0", "cell 0 A00001 0"}));
    }
}

TEST_F(PollingTest, MoreTerminalsThanCellsAreReadButOnlySixteenDrawn) {
    fake.pollResults = {18};
    for (int i = 0; i < 18; ++i) fake.records.push_back({makeRecord("T" + std::to_string(10000 + i), 0), 0});
    int16_t count = 0;
    EXPECT_EQ(pollTerminals(count), kOutcomeDone);
    EXPECT_EQ(count, 18);
    ASSERT_EQ(commInfoList.size(), 18u);
    EXPECT_EQ(std::string(commInfoList[17].htId, 6), "T10017");
    EXPECT_EQ(view.highestCell, 15);
}

class FakeClock {
public:
    static std::chrono::steady_clock::time_point now() { return start() + offset; }
    static std::chrono::milliseconds offset;

private:
    static std::chrono::steady_clock::time_point start() {
        static const auto t = std::chrono::steady_clock::now();
        return t;
    }
};
std::chrono::milliseconds FakeClock::offset{0};

class RepollTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        FakeClock::offset = std::chrono::milliseconds(0);
        setRepollClock(&FakeClock::now);
        fake.onPoll = [] { FakeClock::offset += std::chrono::milliseconds(300); };
        commInfoList = {makeRecord("HT0007", 1, TVK_TYPE_APPL)};
    }
};

TEST_F(RepollTest, DisconnectsATerminalThatReportsTheEndOfItsWork) {
    struct Case {
        int32_t transDir;
        int disconnects;
    };
    for (const Case& c : {Case{TVK_DIR_END, 1}, Case{TVK_DIR_TO_PC, 0}, Case{TVK_DIR_TO_HT, 0}}) {
        timeline.clear();
        fake.disconnectModes.clear();
        fake.pollResults = {0, 1};
        fake.records = {{makeRecord("HT0007", c.transDir), 0}};
        EXPECT_EQ(repollAfterInstall(0), kOutcomeDone);
        EXPECT_EQ(fake.registeredIds, std::vector<std::string>{"HT0007"});
        EXPECT_EQ(fake.calls("polling"), 2);
        EXPECT_EQ(fake.calls("getcinffirst"), 1);
        EXPECT_EQ(fake.disconnectModes, std::vector<int32_t>(static_cast<std::size_t>(c.disconnects), 0));
        EXPECT_EQ(std::string(commInfoList[0].htId, 6), "HT0007") << "the list is not changed";
        EXPECT_EQ(commInfoList[0].transDir, 1);
    }
}

TEST_F(RepollTest, WindowIsOneSecondOnTheMonotonicClock) {
    fake.pollResults = std::deque<int16_t>(20, 0);
    EXPECT_EQ(repollAfterInstall(0), kOutcomeDone);
    // Polls start at 0, 300, 600 and 900 ms; at 1200 ms the window is closed.
    EXPECT_EQ(fake.calls("polling"), 4);
    EXPECT_EQ(view.yields, 4);
    EXPECT_EQ(fake.calls("getcinffirst"), 1) << "the record is read although no terminal answered";
}

TEST_F(RepollTest, APositiveRegistrationSkipsPolling) {
    fake.idAddResults = {1};
    EXPECT_EQ(repollAfterInstall(0), kOutcomeDone);
    EXPECT_EQ(fake.calls("polling"), 0);
    EXPECT_EQ(fake.calls("getcinffirst"), 1);
}

TEST_F(RepollTest, OnlyAFinalStopResultStops) {
    struct Case {
        std::deque<int16_t> polls;
        int16_t outcome;
    };
    for (const Case& c : {Case{{-11, -11, -11, -11}, kOutcomeStop}, Case{{-11, 1}, kOutcomeDone},
                          Case{{0, -11, 0, 0}, kOutcomeDone}}) {
        timeline.clear();
        FakeClock::offset = std::chrono::milliseconds(0);
        fake.pollResults = c.polls;
        EXPECT_EQ(repollAfterInstall(0), c.outcome);
        EXPECT_EQ(fake.calls("getcinffirst"), c.outcome == kOutcomeStop ? 0 : 1);
    }
}

TEST(RepollClock, SteadyClockWindowCloses) {
    ScopedWorkDir work;
    std::vector<std::string> timeline;
    FakeTvk fake(timeline);
    RecordingView view(timeline);
    setRepollClock(nullptr);
    EnvSettings.ioBoxCount = "16";
    commInfoList = {makeRecord("HT0007", 1, TVK_TYPE_APPL)};
    fake.pollResults = std::deque<int16_t>(1000, 0);
    fake.onPoll = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(repollAfterInstall(0), kOutcomeDone);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_GT(fake.calls("polling"), 0);
}

}  // namespace
}  // namespace quendril::test
