// `quendril AUTO` on the offscreen platform serves a simulated fleet over the
// emulated line until a terminal reports the end of its work, then exits; it
// finishes what an earlier run left pending, keeps its own files to itself,
// and ends by itself when the line is lost.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "appendjob.h"
#include "filebytes.h"
#include "linerig.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

class EndToEnd : public ::testing::Test {
protected:
    ScopedWorkDir work;
    std::string root = work.str();
    TestPrompt prompt;
    Files files{prompt};

    std::string dir(const std::string& name) {
        fs::create_directories(root + "/" + name);
        return root + "/" + name;
    }
    // Writes root/path, making its directory first.
    void file(const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(root + "/" + path).parent_path());
        writeBytes(root + "/" + path, bytes);
    }

    // hostpc.ini through the program's own writer: COM0 at 115200 8N1, boxes 1 to 6.
    // ownDirs false keeps the defaults: every directory is the working folder.
    void writeIni(bool append, bool ownDirs = true) {
        Settings s = defaultSettings();
        s.comPort = "00";
        s.baudCode = "07";
        s.ioBoxCount = "06";
        if (ownDirs) {
            s.apDir = dir("ap");
            s.recvDir = dir("recv");
            s.sendDir = dir("send");
        }
        s.fileKind = "ALL";
        s.appendWord = append ? "APPEND" : "";
        // Generous line timers: a loaded test machine must not fail a job.
        s.lineParamA = "0100";
        s.lineParamB = "10000";
        s.lineParamC = "10";
        ASSERT_TRUE(writeSettings(files, s));
    }
    void writeIdFile(const std::vector<std::string>& records) {
        std::string text = "hostpcid.inf\r\n";
        for (const std::string& r : records) text += r + "\r\n";
        file("HOSTPCID.INF", text);
    }

    // Runs the program to its own end; false when it had to be stopped.
    // duringRun may act on the line while the program runs.
    bool runProgram(const std::string& fleet, const std::function<void(LineRig&)>& duringRun = {}) {
        file("fleet.txt", fleet);
        LineRig rig;
        rig.exportComPort(0);
        rig.startHtsim(root + "/fleet.txt", {"--speed", "115200", "--a", "100", "--b", "10000", "--c", "10"});
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Two files: two writers of one file would overwrite each other's lines.
        ChildProcess program({QUENDRIL_BIN, "AUTO"}, {"/dev/null", root + "/quendril.out", root + "/quendril.log"});
        running = &program;
        if (duringRun) duringRun(rig);
        running = nullptr;
        const std::optional<int> status = program.wait(std::chrono::seconds(90));
        rig.stop();
        htsimLog = readBytes(rig.dir() + "/htsim.log");
        if (!status) return false;
        exitStatus = *status;
        return true;
    }
    std::string programLog() { return readBytes(root + "/quendril.log"); }

    void expectSame(const std::string& from, const std::string& to) {
        ASSERT_TRUE(fs::exists(root + "/" + to)) << to;
        EXPECT_EQ(readBytes(root + "/" + to), readBytes(root + "/" + from)) << from << " -> " << to;
    }
    std::vector<std::string> filesIn(const std::string& d) {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root + "/" + d)) {
            names.push_back(fs::relative(e.path(), root + "/" + d).string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "quendril.out:\n" << readBytes(root + "/quendril.out") << "\nquendril.log:\n"
                      << readBytes(root + "/quendril.log") << "\nhtsim.log:\n" << htsimLog << "\n";
        }
    }

    int exitStatus = -1;
    std::string htsimLog;
    ChildProcess* running = nullptr;  // the program, while runProgram runs it
};

TEST_F(EndToEnd, FleetIsServedAcrossPassesUntilATerminalEndsItsWork) {
    writeIni(false);
    file("t1a/A1.TXT", content(700, 1));
    file("t1a/bin1.dat", content(20000, 2));
    file("t1b/B1.TXT", content(1, 3));
    file("t5a/C.TXT", content(512, 4));
    file("t5b/D.TXT", content(0, 5));
    file("lod2/X.LOD", content(3000, 6));
    file("lod2/y.lod", content(10, 7));
    file("lod2/Z.TXT", content(10, 8));
    file("all3/P.LOD", content(1024, 9));
    file("all3/q.txt", content(9, 10));
    file("ap/PROG.EXE", content(40000, 11));
    file("ap/PROG.MAP", content(50, 12));
    file("TEMP/STRAY.LOD", "never sent");
    writeIdFile({"HT0001,,,", "HT0002,," + root + "/lod2,LOD", "HT0003,," + root + "/all3,ALL", "&&&&&&,,,   "});
    // The last terminal ends its work a pass later than strictly needed, so a
    // job that a loaded machine makes fail and repeat still completes.
    const std::string fleet =
        "box 1 id=HT0001 dir=" + root + "/ht1\njob 1 send " + root + "/t1a\njob 1 send " + root + "/t1b\n" +
        "box 2 id=HT0002 dir=" + root + "/ht2\njob 2 recv\n" +
        "box 3 id=HT0003 dir=" + root + "/ht3\njob 3 recv\n" +
        "box 4 id=HT0004 dir=" + root + "/ht4\njob 4 install\n" +
        "box 6 id=HT0006 dir=" + root + "/ht6\njob 6 send " + root + "/t5a\njob 6 send " + root +
        "/t5b repeat=3\njob 6 end\n";
    ASSERT_TRUE(runProgram(fleet)) << "the program did not end by itself";
    EXPECT_EQ(exitStatus, 0);

    EXPECT_EQ(filesIn("recv"), (std::vector<std::string>{"A1.TXT", "B1.TXT", "C.TXT", "D.TXT", "bin1.dat"}));
    expectSame("t1a/A1.TXT", "recv/A1.TXT");
    expectSame("t1a/bin1.dat", "recv/bin1.dat");
    expectSame("t1b/B1.TXT", "recv/B1.TXT");
    expectSame("t5a/C.TXT", "recv/C.TXT");
    expectSame("t5b/D.TXT", "recv/D.TXT");
    EXPECT_EQ(filesIn("ht2/recv"), (std::vector<std::string>{"X.LOD", "Y.LOD"}));
    expectSame("lod2/X.LOD", "ht2/recv/X.LOD");
    expectSame("lod2/y.lod", "ht2/recv/Y.LOD");
    EXPECT_EQ(filesIn("ht3/recv"), (std::vector<std::string>{"P.LOD", "q.txt"}));
    expectSame("all3/P.LOD", "ht3/recv/P.LOD");
    expectSame("all3/q.txt", "ht3/recv/q.txt");
    EXPECT_EQ(filesIn("ht4/app"), (std::vector<std::string>{"PROG.EXE", "PROG.MAP"}));
    expectSame("ap/PROG.EXE", "ht4/app/PROG.EXE");
    expectSame("ap/PROG.MAP", "ht4/app/PROG.MAP");
    EXPECT_EQ(filesIn("TEMP"), std::vector<std::string>{"STRAY.LOD"}) << "no staged copies left";
    EXPECT_EQ(filesIn("lod2"), (std::vector<std::string>{"X.LOD", "Z.TXT", "y.lod"})) << "sources untouched";
}

TEST_F(EndToEnd, AppendModeAppendsEachJobToItsNamesake) {
    writeIni(true);
    file("recv/Data.txt", "old bytes|");
    file("d1/data.txt", content(1500, 21));
    file("d2/DATA.TXT", content(512, 22));
    file("d3/log.bin", content(4096, 23));
    file("d4/pad.txt", "");
    // Names from the line are literal: none stands for the others.
    file("d4/*", "star");
    file("d4/?", "query");
    writeIdFile({"&&&&&&,,,"});
    const std::string fleet =
        "box 1 id=HT0001 dir=" + root + "/ht1\njob 1 send " + root + "/d1\njob 1 send " + root + "/d2\n" +
        "box 2 id=HT0002 dir=" + root + "/ht2\njob 2 send " + root + "/d3\njob 2 send " + root +
        "/d3\njob 2 send " + root + "/d4 repeat=2\njob 2 end\n";
    ASSERT_TRUE(runProgram(fleet)) << "the program did not end by itself";
    EXPECT_EQ(exitStatus, 0);

    EXPECT_EQ(filesIn("recv"), (std::vector<std::string>{"*", "?", "Data.txt", "LOG.BIN", "PAD.TXT"}));
    EXPECT_EQ(readBytes(root + "/recv/*"), "starstar");
    EXPECT_EQ(readBytes(root + "/recv/?"), "queryquery");
    EXPECT_EQ(readBytes(root + "/recv/Data.txt"), "old bytes|" + content(1500, 21) + content(512, 22));
    EXPECT_EQ(readBytes(root + "/recv/LOG.BIN"), content(4096, 23) + content(4096, 23));
    EXPECT_TRUE(filesIn("TEMP").empty()) << "every received copy was appended and removed";
}

// A run killed after telling a terminal its files arrived left them in
// TEMP: the next start appends them to that terminal's directory and says so.
TEST_F(EndToEnd, PendingCopiesAreAppendedAtTheNextStartAndSaidSo) {
    writeIni(true);
    writeIdFile({"HT0001," + dir("own") + ",,", "&&&&&&,,,"});
    file("own/SALES.DAT", "monday|");
    {
        std::optional<AppendJob> job = AppendJob::begin(files, root + "/TEMP", "HT0001", root + "/own");
        ASSERT_TRUE(job);
        writeBytes(job->dir() + "/sales.dat", "tuesday|");
        ASSERT_TRUE(job->commit());
    }
    ASSERT_TRUE(runProgram("box 1 id=HT0002\njob 1 end\n")) << "the program did not end by itself";
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(readBytes(root + "/own/SALES.DAT"), "monday|tuesday|");
    EXPECT_TRUE(filesIn("recv").empty()) << "never another terminal's directory";
    EXPECT_TRUE(filesIn("TEMP").empty());
    EXPECT_NE(programLog().find("HT0001:Pending data appended"), std::string::npos) << programLog();
}

// A lost line ends the run at once with an error line and exit status 3,
// instead of polling it at full speed for ever.
TEST_F(EndToEnd, LostLineEndsTheRunWithAnErrorLine) {
    writeIni(false);
    writeIdFile({"&&&&&&,,,"});
    std::chrono::steady_clock::time_point lost;
    ASSERT_TRUE(runProgram("box 1 id=HT0001 appear=1000000\njob 1 end\n", [&](LineRig& rig) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        rig.stop();
        lost = std::chrono::steady_clock::now();
    })) << "the program did not end by itself";
    const auto endedAfter = std::chrono::steady_clock::now() - lost;
    EXPECT_EQ(exitStatus, 3);
    EXPECT_LT(endedAfter, std::chrono::seconds(3)) << "ends soon after the line is gone";
    EXPECT_NE(programLog().find("COM0:Fatal Error"), std::string::npos) << programLog();
    std::cout << "[e2e] line lost: the run ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(endedAfter).count() << " ms later, status "
              << exitStatus << "\n";
}

// With the default settings every directory is the working folder: a
// terminal may neither overwrite the program's files nor fetch them.
TEST_F(EndToEnd, DefaultSetUpKeepsTheProgramsOwnFiles) {
    writeIni(false, false);
    const std::string ini = readBytes(root + "/hostpc.ini");
    writeIdFile({"&&&&&&,,,"});
    const std::string ids = readBytes(root + "/HOSTPCID.INF");
    file(".bashrc", "mine");
    file("SHARED.TXT", "for the terminals");
    file("evil/hostpc.ini", "HOSTPC.INI garbage");
    file("evil/GOOD.TXT", "good");
    file("dots/X", "rm -rf ~");
    const std::string fleet = "box 1 id=HT0001\njob 1 send " + root + "/evil\n" +
                              "box 2 id=HT0002 dir=" + root + "/ht2\njob 2 recv\n" +
                              "box 3 id=HT0003\njob 3 send " + root + "/dots as=.profile\n" +
                              "box 4 id=HT0004 appear=4\njob 4 end\n";
    ASSERT_TRUE(runProgram(fleet)) << "the program did not end by itself";
    EXPECT_EQ(exitStatus, 1) << "the refused jobs failed";
    EXPECT_EQ(readBytes(root + "/hostpc.ini"), ini);
    EXPECT_EQ(readBytes(root + "/HOSTPCID.INF"), ids);
    EXPECT_EQ(readBytes(root + "/.bashrc"), "mine");
    EXPECT_FALSE(fs::exists(root + "/.profile"));
    EXPECT_EQ(readBytes(root + "/GOOD.TXT"), "good") << "the harmless file of the job arrives";
    const std::vector<std::string> fetched = filesIn("ht2/recv");
    EXPECT_NE(std::find(fetched.begin(), fetched.end(), "SHARED.TXT"), fetched.end());
    for (const char* own : {"hostpc.ini", "HOSTPCID.INF", ".bashrc", "TEMP"}) {
        EXPECT_EQ(std::find(fetched.begin(), fetched.end(), own), fetched.end()) << own << " was sent";
    }
}

// AUTO never waits for a person: what would be a box goes to standard error
// and the run log with the system's reason, and the exit status says what
// ended the run.
TEST_F(EndToEnd, AutoEndsWithAStatusInsteadOfABox) {
    const struct {
        const char* what;
        std::function<void()> setUp;
        int status;
        const char* said;
    } rows[] = {
        {"damaged settings",
         [this] { file("hostpc.ini", "HOSTPC.IN_1600\r\n.\r\n.\r\n.\r\nALL\r\nHOSTPCID.INF\r\n\r\n"); }, 2,
         "Environment settingfile error"},
        {"missing device", [this] { writeIni(false); ::setenv("QUENDRIL_COM0", (root + "/no-such-port").c_str(), 1); },
         3, "no-such-port: No such file or directory"},
        {"not a device", [this] { writeIni(false); ::setenv("QUENDRIL_COM0", (root + "/hostpc.ini").c_str(), 1); }, 3,
         "not a serial device"},
    };
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove(root + "/hostpc.ini");
        r.setUp();
        ChildProcess program({QUENDRIL_BIN, "AUTO"}, {"/dev/null", root + "/quendril.out", root + "/quendril.log"});
        EXPECT_EQ(program.wait(std::chrono::seconds(30)), r.status);
        EXPECT_NE(programLog().find(r.said), std::string::npos) << programLog();
        EXPECT_NE(readBytes(root + "/quendril-log.csv").find(r.said), std::string::npos) << "the run log says why";
        ::unsetenv("QUENDRIL_COM0");
    }
}

// A terminal whose own transmit directory is missing ends the run at once
// with a local file error: status 4, the line released, nobody else served.
TEST_F(EndToEnd, MissingTransmitDirectoryEndsTheRunWithStatusFour) {
    writeIni(false);
    writeIdFile({"HT0001,," + root + "/gone,ALL"});
    ASSERT_TRUE(runProgram("box 1 id=HT0001\njob 1 recv\nbox 2 id=HT0002\njob 2 end\n"))
        << "the program waited for a person";
    EXPECT_EQ(exitStatus, 4);
    EXPECT_NE(programLog().find(root + "/gone"), std::string::npos) << programLog();
}

// SIGINT and SIGTERM in the middle of a receive: the box is told (its job
// fails and will be sent again), no partial file stays, the port's lock is
// released, and the program ends with 128 + the signal soon after.
TEST_F(EndToEnd, SignalsStopARunningTransferCleanly) {
    const std::string lockDir = dir("locks");
    ::setenv("TVK_LOCK_DIR", lockDir.c_str(), 1);
    file("big/SALES.DAT", content(2 * 1024 * 1024, 11));
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        writeIni(false);
        writeIdFile({"&&&&&&,,,"});
        std::chrono::steady_clock::duration took{};
        ASSERT_TRUE(runProgram("box 1 id=HT0001\njob 1 send " + root + "/big\n", [&](LineRig&) {
            // Until the receive has stored its first bytes.
            for (int i = 0; i < 300 && filesIn("recv").empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto signalled = std::chrono::steady_clock::now();
            ::kill(running->pid(), sig);
            running->wait(std::chrono::seconds(10));
            took = std::chrono::steady_clock::now() - signalled;
        })) << "the program did not end";
        EXPECT_EQ(exitStatus, 128 + sig);
        EXPECT_LT(took, std::chrono::seconds(2));
        EXPECT_TRUE(filesIn("recv").empty()) << "no partial file";
        EXPECT_TRUE(filesIn("TEMP").empty());
        EXPECT_TRUE(filesIn("locks").empty()) << "the port is released";
        EXPECT_NE(htsimLog.find("jobs ok 0 failed 1"), std::string::npos) << htsimLog;
        std::cout << "[e2e] signal " << sig << ": the program ended "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms later\n";
    }
    ::unsetenv("TVK_LOCK_DIR");
}

}  // namespace
}  // namespace quendril::test
