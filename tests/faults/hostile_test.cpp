// Hostile terminals on a real (emulated) line: file names that try to leave
// the receiving directory or name devices are refused with their error bit or
// kept harmless, and nothing is written outside the receiving directory; a
// record with every field at its extremes is read safely. (Garbage floods and
// endless frames are fuzz_flood's.)
#include <gtest/gtest.h>

#include <atomic>

#include "boxrig.h"
#include "faultrig.h"
#include "termiosport.h"
#include "wire.h"

namespace quendril::test::faults {
namespace {

TEST(HostileTerminal, NamesThatLeaveTheDirectoryOrNameDevicesAreRefused) {
    ScopedWorkDir work;
    const fs::path root = work.path();
    enum Expect { kRefused, kStoredInside };
    const std::vector<std::pair<std::string, Expect>> cases = {{"..", kRefused}, {"../../escape.txt", kRefused},
        {"..\\..\\back.txt", kRefused}, {"C:drive.txt", kRefused}, {"ctl\x01\x1b[2J.txt", kRefused}, {"del\x7f.txt", kRefused},
        {".tvk-part-0001", kRefused}, {".", kRefused}, {"CON", kStoredInside}, {"\xE9t\xE9.txt", kStoredInside},
        // The longest name a box can send.
        {std::string(255, 'x'), kStoredInside}};
    // Each terminal sends its hostile file first, then GOOD.TXT, into its own
    // directory deep/er/inN: ".." and "../.." land on watched ground.
    std::string fleet;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string n = std::to_string(i + 1), ht = (root / ("ht" + n)).string();
        putFiles(ht, {{"A.BIN", content(300, unsigned(i))}, {"GOOD.TXT", "good " + n}});
        fs::create_directories(root / "deep/er" / ("in" + n));
        fleet += "box " + n + " id=HT" + std::string(4 - n.size(), '0') + n + "\njob " + n + " send " + ht + " as=" +
                 cases[i].first + "\n";
    }
    putFiles(root / "deep/er/sibling", {{"KEEP.TXT", "keep"}});
    putFiles(root / "deep", {{"KEEP2.TXT", "keep2"}});
    const tvk_openparam p = lineParams(40, 1000, 2);
    FleetLine line(root / "fleet.txt", fleet, {.baud = 2000000, .outage = ""}, p);
    std::vector<tvk_comminfo> records = openAndPoll(p, int(cases.size()), int(cases.size()));
    ASSERT_EQ(records.size(), cases.size()) << line.log();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [name, expect] = cases[i];
        SCOPED_TRACE("name of " + std::to_string(name.size()) + " bytes: " + name.substr(0, 40));
        const fs::path in = root / "deep/er" / ("in" + std::to_string(i + 1));
        const int r = receive(in, records[i]), bits = tvk_geterrinf();
        FileMap stored = {{"GOOD.TXT", "good " + std::to_string(i + 1)}};
        if (expect == kStoredInside) stored[name] = content(300, unsigned(i));
        EXPECT_EQ(r, expect == kStoredInside ? TVK_OK : TVK_EFAIL);
        // A refused file sets the open bit alone.
        EXPECT_EQ(bits, expect == kRefused ? TVK_ES_FILEOPEN : 0);
        EXPECT_EQ(digestOf(in), digest(stored));
    }
    endPass();
    line.stop();
    FileMap outside = snapshot(root / "deep");
    std::erase_if(outside, [](const auto& f) { return f.first.rfind("er/in", 0) == 0; });
    EXPECT_EQ(digest(outside), digest({{"KEEP2.TXT", "keep2"}, {"er/", ""}, {"er/sibling/", ""}, {"er/sibling/KEEP.TXT", "keep"}}));
    EXPECT_FALSE(fs::exists(root / "escape.txt"));
}

// A box on side b whose terminal answers every poll with the test's record
// and sends the files of dir.
class CraftedBox {
public:
    CraftedBox(const std::string& device, const tvk::Record& record, const std::string& dir) : dir_(dir) {
        const auto bytes = tvk::encodeRecord(record);
        std::copy(bytes.begin(), bytes.end(), record_.begin());
        if (port_.open(device, tvk::SerialSettings{}) == 0)
            box_.emplace(port_, BoxSetup{.sendDir = dir_.c_str(), .recvDir = dir_.c_str(), .record = record_});
    }

private:
    std::array<uint8_t, TVKBOX_RECORD_LEN> record_{};
    std::string dir_;
    tvk::TermiosPort port_;
    std::optional<BoxThread> box_;
};

// ID bytes pass unchanged, counts saturate at INT32_MAX instead of turning
// negative, and the record's total binds the job: a terminal that announced
// nothing and sends a file is aborted before any of it is stored.
TEST(HostileTerminal, RecordWithEveryFieldAtItsExtremesIsReadSafely) {
    ScopedWorkDir work;
    putFiles(work.path() / "box", {{"DATA.TXT", "data"}});
    fs::create_directories(work.path() / "in");
    const char id[6] = {'\x01', '\x7f', '\xff', '\x1b', ' ', '\x80'};
    // transDir, transType, fileCount, totalSize, and the counts read.
    for (auto [dir, type, count, size, wantCount, wantSize] :
         {std::tuple<uint8_t, uint8_t, uint32_t, uint64_t, int32_t, int32_t>{7, 255, UINT32_MAX, UINT64_MAX, INT32_MAX, INT32_MAX},
          {254, 0, 0x80000000u, 0x80000000ull, INT32_MAX, INT32_MAX}, {0, 0, 0, 0, 0, 0}}) {
        SCOPED_TRACE(int(dir));
        LineRig rig({.baud = 2000000, .outage = ""});
        rig.exportComPort(0);
        ::setenv("TVK_BAUD", "2000000", 1);
        CraftedBox box(rig.pathB(), {{id[0], id[1], id[2], id[3], id[4], id[5]}, {'\xff', '\x01'}, dir, type, count, size},
                       (work.path() / "box").string());
        const auto records = openAndPoll(lineParams(40, 1000, 2), 1, 1);
        ASSERT_EQ(records.size(), 1u) << "one record, nothing after it";
        tvk_comminfo info = records[0];
        EXPECT_EQ(std::string(info.htId, 6), std::string(id, 6));
        EXPECT_EQ(std::tuple(info.aux2, info.transDir, info.transType, info.fileCount, info.totalSize),
                  std::tuple(1, dir, type, wantCount, wantSize));
        if (dir == TVK_DIR_TO_PC) {
            EXPECT_EQ(receive(work.path() / "in", info), TVK_EFAIL);
            EXPECT_EQ(tvk_geterrinf(), TVK_ES_OVERSIZE);
            EXPECT_TRUE(snapshot(work.path() / "in").empty());
        }
        endPass();
        ::unsetenv("TVK_BAUD");
    }
}

}  // namespace
}  // namespace quendril::test::faults
