// htsim's fleet description: what it accepts and the clear errors it gives.
#include <gtest/gtest.h>

#include "fleet.h"

using htsim::JobKind;
using htsim::parseFleet;

TEST(Fleet, ReadsLineSettingsBoxesAndScripts) {
    std::string error;
    auto fleet = parseFleet("# a fleet\n"
                            "line baud=9600 data=7 parity=even stop=2 a=80 b=4000 c=5\n"
                            "box 3 id=HT0003 rev=12 dir=/tmp/x appear=4 delay=20 vanish=1000\n"
                            "job 3 send /data/out type=2 as=NAME repeat=3   # trailing comment\n"
                            "job 3 recv\n"
                            "job 3 install\n"
                            "job 3 end\n"
                            "box 1\n",
                            error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ(fleet->serial.bitsPerSecond, 9600u);
    EXPECT_TRUE(fleet->serial.sevenBits);
    EXPECT_EQ(fleet->serial.parity, 2);
    EXPECT_EQ(fleet->serial.stopBits, 2);
    EXPECT_EQ(fleet->timers.responseMs, 80);
    EXPECT_EQ(fleet->timers.progressMs, 4000);
    EXPECT_EQ(fleet->timers.retries, 5);
    ASSERT_EQ(fleet->boxes.size(), 2u);
    const auto& b = fleet->boxes[0];
    EXPECT_EQ(b.box, 3);
    EXPECT_EQ(b.id, "HT0003");
    EXPECT_EQ(b.rev, "12");
    EXPECT_EQ(b.appearAfter, 4);
    EXPECT_EQ(b.delayMs, 20);
    EXPECT_EQ(b.vanishAfter, 1000u);
    ASSERT_EQ(b.jobs.size(), 4u);
    EXPECT_EQ(b.jobs[0].kind, JobKind::Send);
    EXPECT_EQ(b.jobs[0].dir, "/data/out");
    EXPECT_EQ(b.jobs[0].sendAs, "NAME");
    EXPECT_EQ(b.jobs[0].repeat, 3);
    EXPECT_EQ(b.jobs[0].transType, 2);
    EXPECT_EQ(b.jobs[1].transType, 3);
    EXPECT_EQ(b.jobs[2].transType, 15);
    EXPECT_EQ(b.jobs[3].kind, JobKind::End);
    EXPECT_TRUE(fleet->boxes[1].id.empty());
}

TEST(Fleet, RefusesBadLinesWithTheirNumber) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"box 17\n", "line 1: box needs a number 1..16"},
        {"box 1\nbox 1\n", "line 2: box 1 given twice"},
        {"box 1 id=TOOLONGID\n", "line 1: id is at most 6 characters, rev at most 2"},
        {"job 1 recv\n", "line 1: job needs a box with a terminal declared before it"},
        {"box 1\njob 1 recv\n", "line 2: job needs a box with a terminal declared before it"},
        {"box 1 id=A\njob 1 fly\n", "line 2: unknown job fly"},
        {"box 1 id=A\njob 1 send\n", "line 2: wrong number of words for job send"},
        {"box 1 id=A\njob 1 recv repeat=0\n", "line 2: bad repeat=0"},
        {"box 1 colour=red\n", "line 1: unknown option colour"},
        {"line parity=mark\n", "line 1: bad parity=mark"},
        {"line baud=fast\n", "line 1: bad baud=fast"},
        {"\n\nteleport\n", "line 3: unknown directive teleport"},
        {"a=1\n", "line 1: missing directive"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parseFleet(c.text, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}
