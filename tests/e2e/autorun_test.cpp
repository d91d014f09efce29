// `quendril AUTO` on the offscreen platform serves a simulated fleet over the
// emulated line until a terminal reports the end of its work, then exits; it
// ends with a status instead of a box, and stops cleanly on a signal.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "filebytes.h"
#include "linerig.h"
#include "tempdir.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    void TearDown() override {
        if (HasFailure()) std::cerr << "quendril.log:\n" << log() << "\nhtsim.log:\n" << htsimLog << "\n";
    }
    void file(const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(root + path).parent_path());
        writeBytes(root + path, bytes);
    }
    std::string bytes(const std::string& path) { return readBytes(root + path); }
    std::string log() { return bytes("/quendril.log"); }
    FileMap tree(const std::string& dir) { return snapshot(root + dir); }
    // hostpc.ini (COM0 at 115200, boxes 1 to 6, generous line timers) and the ID file.
    void settings(const std::string& ids = "&&&&&&,,,\r\n") {
        for (const char* d : {"/ap", "/recv", "/send"}) fs::create_directories(root + d);
        file("/hostpc.ini", "HOSTPC.INI06000708000101001000010\r\n" + root + "/ap\r\n" + root + "/recv\r\n" + root +
                                "/send\r\nALL\r\nHOSTPCID.INF\r\n\r\n");
        file("/HOSTPCID.INF", "hostpcid.inf\r\n" + ids);
    }
    // Standard output and error in two files: two writers of one file would overwrite each other's lines.
    ChildProcess start() { return ChildProcess({QUENDRIL_BIN, "AUTO"}, {"/dev/null", root + "/out.txt", root + "/quendril.log"}); }
    // Runs the program to its own end over a line of `baud`; false when it had
    // to be stopped. duringRun may act on the line and the program meanwhile.
    bool run(const std::string& fleet, const std::function<void(LineRig&, ChildProcess&)>& duringRun = {},
             uint32_t baud = 2000000) {
        file("/fleet.txt", fleet);
        LineRig rig({.baud = baud, .outage = ""});
        rig.exportComPort(0);
        ::setenv("TVK_BAUD", std::to_string(baud).c_str(), 1);
        rig.startHtsim(root + "/fleet.txt", {"--speed", std::to_string(baud), "--a", "100", "--b", "10000", "--c", "10"});
        ChildProcess program = start();
        if (duringRun) duringRun(rig, program);
        const std::optional<int> status = program.wait(90s);
        rig.stop();
        ::unsetenv("TVK_BAUD");
        htsimLog = readBytes(rig.dir() + "/htsim.log");
        exitStatus = status.value_or(-1);
        return status.has_value();
    }
    ScopedWorkDir work;
    std::string root = work.str();
    int exitStatus = -1;
    std::string htsimLog;
};

TEST_F(EndToEnd, FleetIsServedAcrossPassesUntilATerminalEndsItsWork) {
    const std::string r = root;
    settings("HT0001,,,\r\nHT0002,," + r + "/lod2,LOD\r\nHT0003,," + r + "/all3,ALL\r\n&&&&&&,,,   \r\n");
    const std::vector<std::pair<std::string, int>> sources = {{"/t1a/A1.TXT", 700}, {"/t1a/bin1.dat", 20000},
        {"/t1b/B1.TXT", 1}, {"/t5a/C.TXT", 512}, {"/t5b/D.TXT", 0}, {"/lod2/X.LOD", 3000}, {"/lod2/y.lod", 10},
        {"/lod2/Z.TXT", 10}, {"/all3/P.LOD", 1024}, {"/all3/q.txt", 9}, {"/ap/PROG.EXE", 40000}, {"/ap/PROG.MAP", 50}};
    for (std::size_t i = 0; i < sources.size(); ++i) file(sources[i].first, content(sources[i].second, unsigned(i)));
    file("/TEMP/STRAY.LOD", "never sent");
    // The last terminal ends its work a pass later than strictly needed, so a
    // job that a loaded machine makes fail and repeat still completes. Boxes
    // 1 and 3 were built before the protocol's version 2.
    ASSERT_TRUE(run("box 1 id=HT0001 protocol=1 dir=" + r + "/ht1\njob 1 send " + r + "/t1a\njob 1 send " + r +
                    "/t1b\nbox 2 id=HT0002 dir=" + r + "/ht2\njob 2 recv\nbox 3 id=HT0003 protocol=1 dir=" + r +
                    "/ht3\njob 3 recv\nbox 4 id=HT0004 dir=" + r +
                    "/ht4\njob 4 install\nbox 6 id=HT0006 dir=" + r + "/ht6\njob 6 send " + r + "/t5a\njob 6 send " + r +
                    "/t5b repeat=3\njob 6 end\n")) << "the program did not end by itself";
    EXPECT_EQ(exitStatus, 0);
    const auto src = [&](const char* p) { return bytes(p); };
    EXPECT_EQ(tree("/recv"), (FileMap{{"A1.TXT", src("/t1a/A1.TXT")}, {"bin1.dat", src("/t1a/bin1.dat")},
                                   {"B1.TXT", src("/t1b/B1.TXT")}, {"C.TXT", src("/t5a/C.TXT")}, {"D.TXT", ""}}));
    EXPECT_EQ(tree("/ht2/recv"), (FileMap{{"X.LOD", src("/lod2/X.LOD")}, {"Y.LOD", src("/lod2/y.lod")}}));
    EXPECT_EQ(tree("/ht3/recv"), (FileMap{{"P.LOD", src("/all3/P.LOD")}, {"q.txt", src("/all3/q.txt")}}));
    EXPECT_EQ(tree("/ht4/app"), tree("/ap"));
    EXPECT_EQ(tree("/TEMP"), (FileMap{{"STRAY.LOD", "never sent"}})) << "no staged copies left";
    EXPECT_EQ(tree("/lod2").size(), 3u) << "sources untouched";
}

// AUTO never waits for a person: what would be a box goes to standard error
// and the run log, and the exit status says what ended the run: 2 the
// settings, 3 the line, 4 a local file.
TEST_F(EndToEnd, AutoEndsWithAStatusInsteadOfABox) {
    const struct {
        std::string ini, port, said;
        int status;
    } rows[] = {{"HOSTPC.IN_1600\r\n.\r\n.\r\n.\r\nALL\r\nHOSTPCID.INF\r\n\r\n", "", "Environment settingfile error", 2},
                {"", "/no-such-port", "no-such-port: No such file or directory", 3},
                {"", "/hostpc.ini", "not a serial device", 3}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said);
        if (row.ini.empty()) settings();
        else file("/hostpc.ini", row.ini);
        ::setenv("QUENDRIL_COM0", (root + row.port).c_str(), 1);
        EXPECT_EQ(start().wait(30s), row.status);
        EXPECT_NE(log().find(row.said), std::string::npos) << log();
        EXPECT_NE(bytes("/quendril-log.csv").find(row.said), std::string::npos) << "the run log says why";
        ::unsetenv("QUENDRIL_COM0");
    }
    // A terminal whose own transmit directory is missing ends the run at once.
    settings("HT0001,," + root + "/gone,ALL\r\n");
    ASSERT_TRUE(run("box 1 id=HT0001\njob 1 recv\nbox 2 id=HT0002\njob 2 end\n")) << "it waited for a person";
    EXPECT_EQ(exitStatus, 4);
    EXPECT_NE(log().find(root + "/gone"), std::string::npos);
    // A lost line ends the run at once with an error line, instead of polling
    // it at full speed for ever.
    settings();
    Clock::time_point lost;
    ASSERT_TRUE(run("box 1 id=HT0001 appear=1000000\njob 1 end\n", [&](LineRig& rig, ChildProcess&) {
        std::this_thread::sleep_for(1500ms);
        rig.stop();
        lost = Clock::now();
    }));
    EXPECT_EQ(exitStatus, 3);
    EXPECT_LT(Clock::now() - lost, 3s) << "ends soon after the line is gone";
    EXPECT_NE(log().find("COM0:Fatal Error"), std::string::npos);
}

// SIGINT and SIGTERM in the middle of a receive: the box is told (its job
// fails and will be sent again), no partial file stays, the port's lock is
// released, and the program ends with 128 + the signal soon after. SIGKILL
// before them leaves no file under its final name, only its lock (the next
// line may be another pseudo-terminal, so the takeover is PortLock's test).
TEST_F(EndToEnd, SignalsStopARunningTransferCleanly) {
    fs::create_directories(root + "/locks");
    ::setenv("TVK_LOCK_DIR", (root + "/locks").c_str(), 1);
    file("/big/SALES.DAT", content(2 * 1024 * 1024, 11));
    for (int sig : {SIGKILL, SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        settings();
        Clock::duration took{};
        ASSERT_TRUE(run("box 1 id=HT0001\njob 1 send " + root + "/big\n", [&](LineRig&, ChildProcess& program) {
            for (int i = 0; i < 300 && tree("/recv").empty(); ++i) std::this_thread::sleep_for(50ms);
            std::this_thread::sleep_for(300ms);
            const auto signalled = Clock::now();
            ::kill(program.pid(), sig);
            program.wait(10s);
            took = Clock::now() - signalled;
        }, 115200));
        if (sig == SIGKILL) {
            EXPECT_EQ(tree("/recv").count("SALES.DAT"), 0u);
            EXPECT_EQ(tree("/locks").size(), 1u);
            for (const char* d : {"/recv", "/TEMP", "/locks"}) fs::remove_all(root + d);
            fs::create_directories(root + "/locks");
            continue;
        }
        EXPECT_EQ(exitStatus, 128 + sig);
        EXPECT_LT(took, 2s);
        EXPECT_EQ(tree("/recv").size() + tree("/TEMP").size() + tree("/locks").size(), 0u) << "no partial file, lock released";
        EXPECT_NE(htsimLog.find("jobs ok 0 failed 1"), std::string::npos);
    }
    ::unsetenv("TVK_LOCK_DIR");
}

}  // namespace
}  // namespace quendril::test
