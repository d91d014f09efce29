// Hostile terminals on a real (emulated) line: file names that try to leave
// the receiving directory or name devices, and a terminal record with every
// field at its extremes. Each is refused with its error bit or kept harmless;
// nothing is written outside the receiving directory; memory stays bounded.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include "faultrig.h"
#include "link.h"
#include "station.h"
#include "tempdir.h"
#include "termiosport.h"

namespace quendril::test::faults {
namespace {

using namespace std::chrono_literals;

long peakRssKiB() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

TEST(HostileTerminal, NamesThatLeaveTheDirectoryOrNameDevicesAreRefused) {
    ScopedWorkDir work;
    const fs::path root = work.path();
    enum Expect { kRefused, kStoredInside, kJobRefused };
    struct Case {
        std::string name;
        Expect expect;
    } cases[] = {
        {"..", kRefused},
        {"../../escape.txt", kRefused},
        {"sub/inner.txt", kRefused},
        {(root / "deep/absolute.txt").string(), kRefused},
        {"/dev/null", kRefused},
        {"..\\..\\back.txt", kRefused},
        {"C:\\drive.txt", kRefused},
        {"ctl\x01\x1b[2J.txt", kRefused},
        {"del\x7f.txt", kRefused},
        // Longer than any frame: the whole job is refused, not just the file.
        {std::string(10000, 'x'), kJobRefused},
        {".tvk-part-0001", kRefused},
        {".", kRefused},
        {"CON", kStoredInside},
        {"NUL.TXT", kStoredInside},
        {"\xE9t\xE9.txt", kStoredInside},
    };
    // Each terminal sends its hostile file first, then GOOD.TXT, into its own
    // directory deep/er/inN: ".." and "../.." land on watched ground.
    std::string fleet;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string n = std::to_string(i + 1);
        const fs::path src = root / ("ht" + n);
        putFile(src / "A.BIN", content(300, unsigned(i)));
        putFile(src / "GOOD.TXT", "good " + n);
        fs::create_directories(root / "deep/er" / ("in" + n));
        fleet += "box " + n + " id=HT" + std::string(4 - n.size(), '0') + n + "\njob " + n + " send " + src.string() +
                 " as=" + cases[i].name + "\n";
    }
    putFile(root / "deep/er/sibling/KEEP.TXT", "keep");
    putFile(root / "deep/KEEP2.TXT", "keep2");
    const auto before = snapshot(root / "deep");
    const long rssBefore = peakRssKiB();

    tvk_openparam p = lineParams(40, 1000, 2);
    LineSettings s;
    s.baud = 2000000;
    FleetLine line(root / "fleet.txt", fleet, s, p);
    const int count = static_cast<int>(std::size(cases));
    std::vector<tvk_comminfo> records = openAndPoll(p, count, count);
    ASSERT_EQ(records.size(), std::size(cases)) << line.htsimLog();

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("name of " + std::to_string(c.name.size()) + " bytes: " + c.name.substr(0, 40));
        const std::string n = std::to_string(i + 1);
        const fs::path in = root / "deep/er" / ("in" + n);
        const int r = tvk_filerecv(const_cast<char*>(in.string().c_str()), &records[i]);
        const int bits = tvk_geterrinf();
        std::map<std::string, std::string> stored = {{"GOOD.TXT", "good " + n}};
        if (c.expect == kRefused) {
            EXPECT_EQ(r, TVK_EFAIL);
            EXPECT_EQ(bits, TVK_ES_FILEOPEN);
        } else if (c.expect == kJobRefused) {
            EXPECT_EQ(r, TVK_EFAIL);
            EXPECT_TRUE(bits & TVK_ES_BUFFULL) << bits;
        } else {
            EXPECT_EQ(r, TVK_OK) << bits;
            stored[c.name] = content(300, unsigned(i));
        }
        const auto got = digestOf(in);
        EXPECT_TRUE(got.count("GOOD.TXT") || c.expect == kJobRefused) << "the harmless file of the job arrives";
        EXPECT_EQ(wrongFiles(in, stored), "");
        std::cout << "[faults] hostile name (" << c.name.size() << " bytes): "
                  << (r == TVK_OK ? std::string("stored inside") : "refused, bits " + std::to_string(bits))
                  << (got.count("GOOD.TXT") ? ", GOOD.TXT arrived" : "") << "\n";
    }
    tvk_comminfo blank{};
    tvk_disconnect(1, &blank);
    tvk_close();
    line.stop();

    auto after = snapshot(root / "deep");
    for (auto it = after.begin(); it != after.end();) {
        it = it->first.rfind("er/in", 0) == 0 ? after.erase(it) : std::next(it);
    }
    auto expectedOutside = before;
    for (auto it = expectedOutside.begin(); it != expectedOutside.end();) {
        it = it->first.rfind("er/in", 0) == 0 ? expectedOutside.erase(it) : std::next(it);
    }
    EXPECT_EQ(digest(after), digest(expectedOutside)) << "nothing written beside the receiving directories";
    EXPECT_FALSE(fs::exists(root / "escape.txt"));
    EXPECT_FALSE(fs::exists(root / "deep/absolute.txt"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_LT(peakRssKiB() - rssBefore, 64 * 1024) << "hostile names cost no memory to speak of";
}

// A box whose terminal answers every poll with `record` and sends the files
// of dir; it runs on side b of the line in a thread of its own.
class CraftedBox : public tvk::Terminal {
public:
    CraftedBox(const std::string& device, const tvk::Record& record, const fs::path& dir)
        : record_(record), dir_(dir), thread_([this, device] { serve(device); }) {}
    ~CraftedBox() override {
        stop_ = true;
        thread_.join();
    }
    CraftedBox(const CraftedBox&) = delete;
    CraftedBox& operator=(const CraftedBox&) = delete;

    std::optional<tvk::Record> answerPoll(bool& idle) override {
        idle = false;
        return record_;
    }
    std::optional<std::vector<tvk::SourceFile>> filesToSend() override {
        bool ok = false;
        auto files = tvk::listSendFiles(dir_.string(), ok);
        if (!ok) return std::nullopt;
        return files;
    }
    std::optional<std::string> receiveDir(const tvk::StartJob&) override { return dir_.string(); }
    void jobEnded(bool, size_t, uint64_t) override {}

private:
    void serve(const std::string& device) {
        tvk::SerialSettings serial;
        tvk::TermiosPort port;
        if (port.open(device, serial) != 0) return;
        tvk::LineTimers timers;
        timers.bitsPerSecond = 2000000;
        timers.responseMs = 40;
        timers.progressMs = 1000;
        timers.retries = 2;
        tvk::Link link(port, timers);
        link.setBoxSide(true);
        tvk::BoxStation station(1, *this);
        while (!stop_) {
            tvk::Frame f;
            const tvk::Got g = link.receive(f, tvk::Clock::now() + std::chrono::milliseconds(50));
            if (g == tvk::Got::Fatal) return;
            if (g == tvk::Got::Frame && f.addr == 1) station.handle(link, f);
            station.checkWatchdog(link);
        }
    }

    tvk::Record record_;
    fs::path dir_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(HostileTerminal, RecordWithEveryFieldAtItsExtremesIsReadSafely) {
    ScopedWorkDir work;
    const fs::path root = work.path();
    putFile(root / "box/DATA.TXT", "data");
    fs::create_directories(root / "in");
    struct Case {
        const char* what;
        uint8_t transDir;
        uint8_t transType;
        uint32_t fileCount;
        uint64_t totalSize;
        int32_t wantCount;
        int32_t wantSize;
    } cases[] = {
        {"unknown direction, largest counts", 7, 255, UINT32_MAX, UINT64_MAX, INT32_MAX, INT32_MAX},
        {"direction 254, counts just past int32", 254, 0, 0x80000000u, 0x80000000ull, INT32_MAX, INT32_MAX},
        {"zero everything", 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tvk::Record rec;
        const char id[6] = {'\x01', '\x7f', '\xff', '\x1b', ' ', '\x80'};
        std::memcpy(rec.htId, id, sizeof id);
        rec.aux1[0] = '\xff';
        rec.aux1[1] = '\x01';
        rec.transDir = c.transDir;
        rec.transType = c.transType;
        rec.fileCount = c.fileCount;
        rec.totalSize = c.totalSize;
        LineSettings s;
        s.baud = 2000000;
        LineRig rig(s);
        rig.exportComPort(0);
        ::setenv("TVK_BAUD", "2000000", 1);
        CraftedBox box(rig.pathB(), rec, root / "box");
        tvk_openparam p = lineParams(40, 1000, 2);
        const auto records = openAndPoll(p, 1, 1);
        ASSERT_EQ(records.size(), 1u) << "one record, nothing after it";
        tvk_comminfo info = records[0];
        EXPECT_EQ(std::string(info.htId, 6), std::string(id, 6)) << "the ID's bytes pass unchanged";
        EXPECT_EQ(info.aux2, 1);
        EXPECT_EQ(info.transDir, c.transDir);
        EXPECT_EQ(info.transType, c.transType);
        EXPECT_EQ(info.fileCount, c.wantCount) << "counts saturate instead of turning negative";
        EXPECT_EQ(info.totalSize, c.wantSize);
        // The record's total binds the job: a terminal that announced
        // nothing and sends a file is aborted before any of it is stored.
        if (c.transDir == TVK_DIR_TO_PC) {
            EXPECT_EQ(tvk_filerecv(const_cast<char*>((root / "in").string().c_str()), &info), TVK_EFAIL);
            EXPECT_EQ(tvk_geterrinf(), TVK_ES_OVERSIZE);
            EXPECT_TRUE(snapshot(root / "in").empty());
        }
        tvk_comminfo blank{};
        tvk_disconnect(1, &blank);
        tvk_close();
        ::unsetenv("TVK_BAUD");
    }
}


// Writes bytes from `next` to side b of the line without end, as a stuck or
// babbling transmitter would.
class Babbler {
public:
    Babbler(const std::string& device, std::function<uint8_t()> next)
        : next_(std::move(next)), thread_([this, device] { babble(device); }) {}
    ~Babbler() {
        stop_ = true;
        thread_.join();
    }
    Babbler(const Babbler&) = delete;
    Babbler& operator=(const Babbler&) = delete;

private:
    void babble(const std::string& device) {
        std::ofstream out(device, std::ios::binary);
        std::vector<char> chunk(256);
        while (!stop_ && out) {
            for (char& ch : chunk) ch = static_cast<char>(next_());
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            out.flush();
        }
    }

    std::function<uint8_t()> next_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(HostileTerminal, GarbageFloodsAndEndlessFramesEndEachPollWithinTheTimersAndBoundedMemory) {
    ScopedWorkDir work;
    struct Case {
        const char* what;
        std::function<uint8_t()> next;
        uint32_t wantBits;  // 0: damaged frames are dropped without a word
    } cases[] = {
        {"random bytes", [x = 12345u]() mutable { return uint8_t((x = x * 1103515245u + 12345u) >> 23); },
         0},
        {"a frame that never ends", [] { return uint8_t{0x55}; }, TVK_ES_BUFFULL},
    };
    const long rssBefore = peakRssKiB();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LineSettings s;
        s.baud = 2000000;
        LineRig rig(s);
        rig.exportComPort(0);
        ::setenv("TVK_BAUD", "2000000", 1);
        Babbler babbler(rig.pathB(), c.next);
        const int a = 40, b = 500, boxes = 4;
        tvk_openparam p = lineParams(a, b, 2);
        ASSERT_EQ(tvk_open(0, &p), TVK_OK);
        tvk_idtblclr();
        char any[] = "&&&&&&";
        tvk_idtbladd(any);
        uint32_t bits = 0;
        long long slowestMs = 0;
        for (int i = 0; i < 2; ++i) {
            int32_t mode = 1;
            const auto t0 = Clock::now();
            EXPECT_EQ(tvk_polling(&mode, boxes), 0) << "garbage is no terminal";
            slowestMs = std::max(slowestMs, msSince(t0));
            bits |= uint32_t(tvk_geterrinf());
        }
        // Characters that keep coming hold each box's wait to lineParamB.
        EXPECT_LT(slowestMs, boxes * (a + b) + 500) << "every box's wait ends although characters keep coming";
        if (c.wantBits != 0) {
            EXPECT_TRUE(bits & c.wantBits) << bits;
        }
        tvk_close();
        ::unsetenv("TVK_BAUD");
        std::cout << "[faults] flood of " << c.what << " while polling " << boxes << " boxes: slowest poll " << slowestMs
                  << " ms, bits " << bits << "\n";
    }
    EXPECT_LT(peakRssKiB() - rssBefore, 64 * 1024) << "a flood costs no memory to speak of";
}

}  // namespace
}  // namespace quendril::test::faults
