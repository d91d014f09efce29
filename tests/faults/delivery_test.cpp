// Delivery to a small disk on a real (emulated) line: the terminal is told
// that a job arrived only when every file of it is stored. A job whose files
// do not all fit fails, the terminal keeps its data and asks again; a job
// whose announced total cannot fit is refused before any data flows.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "faultrig.h"
#include "tempdir.h"

namespace quendril::test::faults {
namespace {

using namespace std::chrono_literals;

// A small file system mounted over the receiving directory; root may mount,
// a build that runs without that right skips.
class SmallDisk {
public:
    SmallDisk(const fs::path& dir, const char* size) : dir_(dir) {
        fs::create_directories(dir);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    bool resize(const char* size) {
        return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT, (std::string("size=") + size).c_str()) == 0;
    }

private:
    fs::path dir_;
    bool mounted_ = false;
    std::string error_;
};

class Delivery : public ::testing::Test {
protected:
    // htsim on box 1 sends the files of ht1; its frames are logged.
    std::vector<tvk_comminfo> startSender(const std::map<std::string, std::string>& files) {
        for (const auto& [name, bytes] : files) putFile(root / "ht1" / name, bytes);
        LineSettings s;
        s.baud = 2000000;
        line = std::make_unique<FleetLine>(root / "fleet.txt",
                                           "box 1 id=HT0001\njob 1 send " + (root / "ht1").string() + "\n", s, params,
                                           std::vector<std::string>{"--debug"});
        return openAndPoll(params, 1, 1);
    }
    int receive(tvk_comminfo& info) { return tvk_filerecv(const_cast<char*>(inDir.c_str()), &info); }

    ScopedWorkDir work;
    fs::path root = work.path();
    std::string inDir = (root / "in").string();
    tvk_openparam params = lineParams(40, 1000, 3);
    std::unique_ptr<FleetLine> line;
};

TEST_F(Delivery, FilesThatDoNotFitFailTheJobAndTheTerminalSendsThemAgain) {
    SmallDisk disk(root / "in", "64k");
    if (!disk.mounted()) GTEST_SKIP() << "no small file system: " << disk.error();
    // The announced 9000 bytes fit, but every file takes a 4 KiB page.
    std::map<std::string, std::string> files;
    for (unsigned i = 0; i < 30; ++i) files["F" + std::to_string(100 + i) + ".DAT"] = content(300, 50 + i);
    auto records = startSender(files);
    ASSERT_EQ(records.size(), 1u) << line->htsimLog();
    EXPECT_EQ(receive(records[0]), TVK_EFAIL);
    const int bits = tvk_geterrinf();
    EXPECT_TRUE(bits & TVK_ES_FILEOPEN) << bits;
    EXPECT_EQ(wrongFiles(root / "in", files), "");
    tvk_comminfo blank{};
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);

    ASSERT_TRUE(disk.resize("1m")) << std::strerror(errno);
    ASSERT_EQ(pollUntilFound(1, 1, 5000ms), 1) << "the terminal asks again";
    tvk_comminfo again{};
    ASSERT_EQ(tvk_getcinffirst(&again), TVK_OK);
    EXPECT_EQ(receive(again), TVK_OK) << tvk_geterrinf();
    EXPECT_EQ(digestOf(root / "in"), digest(files)) << "every file, intact, and nothing else";
    EXPECT_EQ(tvk_disconnect(1, &blank), TVK_OK);
    tvk_close();
    line->stop();
    EXPECT_NE(line->htsimLog().find("box 1 HT0001: jobs ok 1 failed 1;"), std::string::npos) << line->htsimLog();
}

TEST_F(Delivery, AJobLargerThanTheFreeSpaceIsRefusedBeforeAnyDataFlows) {
    SmallDisk disk(root / "in", "64k");
    if (!disk.mounted()) GTEST_SKIP() << "no small file system: " << disk.error();
    const std::string old = content(8000, 41);
    putFile(root / "in/OLD.DAT", old);
    const std::map<std::string, std::string> files = {{"A.TXT", content(1000, 42)}, {"B.BIN", content(200000, 43)}};
    auto records = startSender(files);
    ASSERT_EQ(records.size(), 1u) << line->htsimLog();
    EXPECT_EQ(receive(records[0]), TVK_EFAIL);
    EXPECT_EQ(tvk_geterrinf(), TVK_ES_NOSPACE);
    EXPECT_EQ(digestOf(root / "in"), digest({{"OLD.DAT", old}})) << "what was stored before stays";
    tvk_close();
    line->stop();
    EXPECT_EQ(line->htsimLog().find("START"), std::string::npos) << "no job started:\n" << line->htsimLog();
    EXPECT_EQ(digestOf(root / "ht1"), digest(files));
}

}  // namespace
}  // namespace quendril::test::faults
