#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <optional>

#include "filebytes.h"
#include "runlog.h"
#include "tempdir.h"

namespace quendril::test {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

const system_clock::time_point kStart = sys_days{year{2026} / 12 / 7} + 11h + 4min + 54s;

JobRecord record(const std::string& id, const std::string& job = "Receive") {
    return {kStart, 3, id, job, 2, 1234, 1.5, "done", 0, "Done"};
}

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.open(work.str())); }
    std::string log() const { return readBytes(kRunLogName); }
    std::string line(const std::string& id) const { return runLogLine(record(id)) + '\n'; }
    const std::string header = runLogHeader() + '\n';

    ScopedWorkDir work;
    Directory dir;
};

TEST_F(RunLogTest, FieldsQuotedOnlyWhenNeededAndBytesKept) {
    EXPECT_EQ(runLogHeader(), "time,box,terminal,job,files,bytes,seconds,result,status,status text");
    EXPECT_EQ(runLogLine({kStart, 3, "HT0001", "Receive", 2, 1234, 12.3456, "done", 0x1a2b, "Line Error"}),
              "2026-12-07T11:04:54Z,3,HT0001,Receive,2,1234,12.346,done,0x1A2B,Line Error");
    const std::string hostile = "&,\"\n\xFF";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"A,B", "\"A,B\""},   {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"A\rB", "\"A\rB\""},
        {"A\nB", "\"A\nB\""}, {"\xE9t\xE9", "\xE9t\xE9"},              {hostile, "\"&,\"\"\n\xFF\""},
    };
    for (const auto& [id, field] : cases) {
        EXPECT_EQ(runLogLine(record(id)), "2026-12-07T11:04:54Z,3," + field + ",Receive,2,1234,1.500,done,0x0000,Done");
    }
    ASSERT_FALSE(appendRunLog(dir, record(hostile)));
    EXPECT_EQ(log(), header + line(hostile));
}

TEST_F(RunLogTest, AppendsAfterWholeLinesOnlyWithOneHeader) {
    const std::string whole = header + line("HT0001");
    // File before, what is kept of it when HT0002 is appended
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", header},
        {whole, whole},
        {whole + "2026-12-07T11:0", whole},
        // Torn inside a quoted ID after its line end: that line end ends no line.
        {whole + "2026-12-07T11:04:54Z,3,\"A\nB", whole},
        {whole + "2026-12-07T11:04:54Z,3,\"A\n", whole},
        {"time,bo", header},
    };
    for (const auto& [before, kept] : cases) {
        writeBytes(kRunLogName, before);
        ASSERT_FALSE(appendRunLog(dir, record("HT0002")));
        EXPECT_EQ(log(), kept + line("HT0002")) << before;
    }
}

TEST_F(RunLogTest, RotationKeepsOneOldCopyAndStartsWithHeader) {
    const std::uint64_t limit = header.size() + 2 * line("HT0001").size();
    const std::string old = std::string(kRunLogName) + ".1";
    for (const char* id : {"HT0001", "HT0002", "HT0003", "HT0004", "HT0005"}) {
        ASSERT_FALSE(appendRunLog(dir, record(id), limit)) << id;
    }
    EXPECT_EQ(readBytes(old), header + line("HT0003") + line("HT0004"));
    EXPECT_EQ(log(), header + line("HT0005"));
    Strings names;
    ASSERT_FALSE(dir.list(names));
    EXPECT_EQ(names, (Strings{kRunLogName, old}));
}

TEST_F(RunLogTest, LinkAtTheNameRefusedAndTargetUntouched) {
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
    const std::optional<std::string> saved = oldTz ? std::optional<std::string>(oldTz) : std::nullopt;
    setenv("TZ", "JST-9", 1);
    tzset();
    const auto ended = sys_days{year{2026} / 12 / 7} + 22h + 12min;
    const std::vector<std::pair<std::vector<JobRecord>, std::string>> cases = {
        {run, "2 terminals, 2 done, 1 error end"},
        {{record("HT0001")}, "1 terminal, 1 done, 0 error end"},
        {{}, "no terminal served"},
    };
    for (const auto& [jobs, summary] : cases) {
        EXPECT_EQ(lastRunLine(jobs, ended), "Last run 07:12: " + summary + " - see quendril-log.csv");
    }
    saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace quendril::test
