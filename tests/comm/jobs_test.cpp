#include <atomic>
#include <fstream>
#include <limits>
#include <thread>

#include "commfixture.h"
#include "commint.h"

namespace quendril::test {
namespace {

using namespace std::chrono_literals;

class ReceiveTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        run.records = {makeRecord("HT0001", 0)};
        settings.appendMode = true;
    }
};

// Until the terminal is told, a failed job's copies are worth nothing: the
// terminal keeps its files and sends them again. Once it is told, they stay
// pending for the next start, even when the run was stopped just then.
TEST_F(ReceiveTest, AppendModeDiscardsAnUntoldJobAndKeepsAToldOneUntilItIsAppended) {
    writeBytes(settings.recvDir + "/HALF.DAT", "old|");
    // The told job first: the later jobs take the next free names beside it.
    for (const auto& [result, cancel, outcome] : {std::tuple{int16_t{0}, true, kOutcomeStop},
                                                  {int16_t{-1}, false, kOutcomeFailed}, {TVK_ESTOPPED, false, kOutcomeStop}}) {
        run.stop = false;
        fake.jobResults = {result};
        fake.onTransfer = [this, cancel = cancel](const std::string& dir, CommInfo&) {
            writeBytes(dir + "/half.dat", "half");
            run.stop = cancel;
        };
        EXPECT_EQ(receiveFile(run, 0), outcome) << result;
    }
    EXPECT_EQ(readBytes(settings.recvDir + "/HALF.DAT"), "old|") << "nothing appended yet";
    const Strings kept = entriesIn(tempDir);
    ASSERT_EQ(kept.size(), 3u) << "only the told job is kept";
    EXPECT_EQ(kept[1], kept[0] + ".job");
    EXPECT_EQ(readBytes(tempDir + "/" + kept[0] + "/half.dat"), "half");
    fake.jobResults = {0};
    // Names from the line are literal: "*" and "[a]" match only themselves.
    writeBytes(settings.recvDir + "/A", "x|");
    fake.onTransfer = [](const std::string& dir, CommInfo&) {
        for (auto [name, bytes] : {std::pair{"half.dat", "half"}, {"*", "s"}, {"[a]", "b"}, {"a", "c"}})
            writeBytes(dir + "/" + name, bytes);
    };
    EXPECT_EQ(receiveFile(run, 0), kOutcomeDone);
    for (auto [name, bytes] : {std::pair{"HALF.DAT", "old|half"}, {"*", "s"}, {"[A]", "b"}, {"A", "x|c"}})
        EXPECT_EQ(readBytes(settings.recvDir + "/" + name), bytes) << name << ": appended at once";
    EXPECT_EQ(entriesIn(tempDir), kept);
}

// IDs compare padded with blanks to six bytes, as the library and the
// terminal pad them: exact entries first, then the wildcard, else none.
TEST(FindHtIndex, ExactThenWildcardThenNone) {
    const TerminalTable table{{"HT0001", "", "", ""}, {"&&&&&&", "", "", ""}, {"HT01", "", "", ""}}, noWildcard{table[0]};
    for (auto [id, index] : {std::pair{"HT01  ", 2}, {"HT0001", 0}, {"HT0009", 1}}) EXPECT_EQ(findHtIndex(table, id), index) << id;
    EXPECT_EQ(findHtIndex(noWildcard, "ht0001"), 1) << "none: the table's size";
}

// What the program lets a terminal store: never one of its own files in the
// working folder, never a name whose namesake in append mode is a link, a
// directory or a device.
TEST_F(CommTest, StoreChecksKeepTheProgramsOwnFilesAndLinks) {
    run.records = {makeRecord("HT0001", 0)};
    settings.htIdFile = "HOSTPCID.INF";
    const std::string home = work.str(), recv = settings.recvDir, outside = makeDir("outside");
    writeBytes(outside + "/target", "untouched");
    std::filesystem::create_symlink(outside + "/target", recv + "/LINKED.TXT");
    std::filesystem::create_symlink(outside + "/none", recv + "/DANGLING.TXT");
    std::filesystem::create_directories(recv + "/SUBDIR");
    // destination, append mode, name, may be stored
    const std::vector<std::tuple<std::string, bool, std::string, bool>> cases = {
        {home, false, "HOSTPC.INI", false}, {home, false, "QUENDRIL-LOG.CSV.1", false}, {home, false, "Temp", false},
        {home, false, "hostpcid.inf", false}, {home, false, ".bashrc", false}, {home, false, "DATA.TXT", true},
        {tempDir, false, "RECV1.job", false}, {tempDir, false, "RECORD.TXT", true}, {recv, false, ".profile", true},
        {recv, false, "hostpc.ini", true}, {recv, true, "linked.txt", false}, {recv, true, "DANGLING.TXT", false},
        {recv, true, "subdir", false}, {recv, true, "NEW.TXT", true}, {recv, false, "LINKED.TXT", true}};
    for (const auto& [dest, append, name, stored] : cases) {
        settings.appendMode = append;
        run.terminals = {{"HT0001", dest, "", "   "}};
        fake.onTransfer = [&, dest = dest, name = name, stored = stored](const std::string&, CommInfo&) {
            EXPECT_EQ(fake.checkFn(fake.checkUser, TVK_CHECK_STORE, name.c_str()) != 0, stored) << dest << " " << name;
        };
        receiveFile(run, 0);
    }
    EXPECT_EQ(fake.checkFn, nullptr) << "uninstalled after the job";
    EXPECT_EQ(readBytes(outside + "/target"), "untouched");
    EXPECT_FALSE(std::filesystem::exists(outside + "/none"));
}

// Cancel 50 ms into appending a 200 MB copy the terminal was told of: the
// destination is cut back to its old bytes, the copy stays pending, and the
// next start appends it exactly once.
TEST_F(ReceiveTest, StopDuringALargeAppendCutsBackAndKeepsTheCopyPending) {
    constexpr std::size_t kBlock = std::size_t{1} << 20, kBlocks = 200;
    const std::string dest = settings.recvDir + "/BIG.DAT";
    writeBytes(dest, "old|");
    fake.onTransfer = [&](const std::string& dir, CommInfo&) {
        std::ofstream out(dir + "/big.dat", std::ios::binary);
        for (std::size_t i = 0; i < kBlocks; ++i) out << std::string(kBlock, 'x');
    };
    // The append of a copy begins with its journal beside the job.
    std::atomic<bool> returned{false}, stopped{false};
    std::thread stopper([&] {
        const auto journal = [](const std::string& n) { return n.ends_with(".append"); };
        while (!returned && std::ranges::none_of(entriesIn(tempDir), journal)) std::this_thread::sleep_for(200us);
        std::this_thread::sleep_for(50ms);
        if (!returned) stopped = true, requestStop(run);
    });
    EXPECT_EQ(receiveFile(run, 0), kOutcomeStop);
    returned = true;
    stopper.join();
    ASSERT_TRUE(stopped) << "the append never began";
    EXPECT_EQ(readBytes(dest), "old|");
    EXPECT_TRUE(prompt.shown.empty()) << "a stop is no failure";
    const Strings pending = entriesIn(tempDir);
    ASSERT_EQ(pending, (Strings{pending[0], pending[0] + ".job", pending[0] + ".recv"})) << "committed, no journal";
    const std::vector<PendingJob> resumed = resumePendingAppends(tempDir);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(std::tuple(resumed[0].htId, resumed[0].destDir, resumed[0].appended),
              std::tuple("HT0001", settings.recvDir, true));
    EXPECT_EQ(std::filesystem::file_size(dest), 4 + kBlock * kBlocks) << "appended exactly once";
    EXPECT_EQ(readBytes(dest).substr(0, 5), "old|x");
    EXPECT_TRUE(entriesIn(tempDir).empty());
}

// A start after a kill in the middle of an append settles it as its journal
// tells: cut back and appended again, or finished; a destination someone else
// changed (shorter, longer, no longer a file) or a torn journal stays pending.
TEST_F(CommTest, RepairAfterAKillAppendsEveryCopyExactlyOnce) {
    const std::string dest = settings.recvDir + "/A.TXT", job = tempDir + "/RECV0001";
    // destination before the start (nullptr: a directory), copy left, journal, destination after
    const std::vector<std::tuple<const char*, bool, std::string, const char*>> cases = {
        {"old|", true, "A.TXT\n4\n", "old|new"},      {"old|ne", true, "A.TXT\n4\n", "old|new"},
        {"old|new", true, "A.TXT\n4\n", "old|new"},   {"old|new", false, "A.TXT\n4\n", "old|new"},
        {"ol", true, "A.TXT\n4\n", nullptr},          {"old|newer", true, "A.TXT\n4\n", nullptr},
        {nullptr, true, "A.TXT\n4\n", nullptr},       {"old|", true, "A.TXT\nfour\n", nullptr}};
    for (const auto& [before, copyLeft, journal, after] : cases) {
        SCOPED_TRACE(std::string(before ? before : "directory") + " / " + journal);
        std::filesystem::remove_all(dest);
        before ? writeBytes(dest, before) : void(std::filesystem::create_directories(dest + "/keep"));
        std::filesystem::create_directories(job);
        if (copyLeft) writeBytes(job + "/a.txt", "new");
        writeBytes(job + ".job", "485430303031\n" + settings.recvDir + "\n");
        writeBytes(job + ".append", "a.txt\n" + journal);
        const std::vector<PendingJob> resumed = resumePendingAppends(tempDir);
        ASSERT_EQ(resumed.size(), 1u);
        EXPECT_EQ(resumed[0].appended, after != nullptr);
        EXPECT_EQ(std::filesystem::is_directory(dest) ? "-" : readBytes(dest), before ? (after ? after : before) : "-");
        EXPECT_EQ(entriesIn(tempDir).empty(), after != nullptr) << "a conflict is left to a person";
        std::filesystem::remove_all(tempDir);
        std::filesystem::create_directories(tempDir);
    }
}

class TransmitTest : public CommTest {
protected:
    // What the library would send: the names in the pattern's directory at the
    // moment of the call, as it lists them (no name beginning with '.', none
    // the check leaves out).
    Strings sent;
    void SetUp() override {
        CommTest::SetUp();
        fake.onTransfer = [this](const std::string& pattern, CommInfo&) {
            ASSERT_TRUE(pattern.ends_with("/*.*"));
            for (const std::string& name : entriesIn(pattern.substr(0, pattern.size() - 4))) {
                if (!name.starts_with('.') && fake.checkFn(fake.checkUser, TVK_CHECK_SEND, name.c_str()) != 0)
                    sent.push_back(name);
            }
        };
        again();
    }
    void again(int32_t type = 3) {
        sent.clear();
        fake.clearCounts();
        run.records = {makeRecord("HT0001", 1, type)};
    }
};

TEST_F(TransmitTest, FileTypeSelectsWhatIsSent) {
    writeBytes(settings.sendDir + "/A.LOD", "lod-a");
    writeBytes(settings.sendDir + "/b.lod", "lod-b");
    writeBytes(settings.sendDir + "/C.TXT", "text");
    writeBytes(settings.sendDir + "/AB", "short");
    // settings' type, entry's type, files sent, their bytes, sent from the source itself
    const std::vector<std::tuple<std::string, std::string, Strings, int32_t, bool>> cases = {
        {"LOD", "", {"A.LOD", "B.LOD"}, 10, false}, {"ALL", "lod", {"A.LOD", "B.LOD"}, 10, false},
        {"OTR", "   ", {"AB", "C.TXT"}, 9, false}, {"LOD", "all", {"A.LOD", "AB", "C.TXT", "b.lod"}, 19, true},
        {"XYZ", "   ", {}, 0, false}};
    for (const auto& [globalKind, entryKind, names, bytes, fromSendDir] : cases) {
        run.terminals = {{"HT0001", "", "", entryKind}};
        settings.fileKind = globalKind;
        again();
        EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
        EXPECT_EQ(sent, names) << globalKind << "/" << entryKind;
        EXPECT_EQ(std::tuple(fake.sentRecords[0].fileCount, run.records[0].fileCount, fake.sentRecords[0].totalSize),
                  std::tuple(static_cast<int32_t>(names.size()), static_cast<int32_t>(names.size()), bytes));
        EXPECT_EQ(fake.transferTexts[0] == settings.sendDir + "/*.*", fromSendDir) << fake.transferTexts[0];
        EXPECT_TRUE(entriesIn(tempDir).empty());
    }
    // Sent from the working folder, the program's own files stay behind.
    settings.sendDir = std::filesystem::path(tempDir).parent_path().string();
    for (const char* name : {"hostpc.ini", "quendril-log.csv", "X.LOD"}) writeBytes(settings.sendDir + "/" + name, "x");
    run.terminals = {{"HT0001", "", "", "all"}};
    again();
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    for (const char* name : {"hostpc.ini", "quendril-log.csv", "TEMP", "X.LOD"})
        EXPECT_EQ(std::ranges::count(sent, std::string(name)), name[0] == 'X') << name;
}

// An install sends the application directory, leaving map files out of the
// totals, then polls that terminal once more and disconnects it when it
// reports the end of its work; a failed or stopped send has no re-poll.
TEST_F(TransmitTest, ApInstallSendsTheApplicationDirectoryAndRepollsOnce) {
    writeBytes(settings.apDir + "/PROG.EXE", content(1000, 4));
    writeBytes(settings.apDir + "/PROG.MAP", content(50, 5));
    writeBytes(settings.apDir + "/prog.map", content(7, 5));
    run.terminals = {{"HT0001", "", makeDir("own"), "LOD"}};
    // send result, poll results, outcome, re-polls, disconnects
    const std::vector<std::tuple<int16_t, std::deque<int16_t>, int16_t, int, std::vector<int32_t>>> cases = {
        {0, {1}, kOutcomeDone, 1, {0}}, {-1, {}, kOutcomeFailed, 0, {}}, {0, {TVK_ESTOPPED}, kOutcomeStop, 1, {}}};
    for (const auto& [send, polls, outcome, repolls, disconnects] : cases) {
        again(TVK_TYPE_APPL);
        fake.jobResults = {send};
        fake.pollResults = polls;
        fake.records = {{makeRecord("HT0001", TVK_DIR_END), 0}};
        EXPECT_EQ(transmitFile(run, 0), outcome);
        EXPECT_EQ(fake.transferTexts, Strings{settings.apDir + "/*.*"});
        EXPECT_EQ(sent, (Strings{"PROG.EXE", "PROG.MAP", "prog.map"}));
        EXPECT_EQ(std::pair(fake.sentRecords[0].fileCount, fake.sentRecords[0].totalSize), std::pair(1, 1000));
        EXPECT_EQ(std::tuple(fake.calls("idtblclr"), fake.disconnectModes), std::tuple(repolls, disconnects));
        EXPECT_EQ(fake.registeredIds, repolls ? Strings{"HT0001"} : Strings{});
    }
}

// An empty source sends an empty job; a failed staging sends nothing; a
// missing application directory ends the program, as a missing sending one does.
TEST_F(TransmitTest, FailuresBeforeSendingSendNothing) {
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    EXPECT_EQ(std::pair(fake.sentRecords[0].fileCount, fake.sentRecords[0].totalSize), std::pair(0, 0));
    writeBytes(settings.sendDir + "/A.LOD", "lod-a");
    run.files.injectFault(kFileErrNotReady, 1);
    EXPECT_EQ(stageTransmitFiles(run, run.records[0], settings.sendDir, "LOD").dir, "");
    EXPECT_EQ(prompt.shown.size(), 1u);
    EXPECT_TRUE(entriesIn(tempDir).empty());
    prompt.shown.clear();
    settings.apDir = work.str() + "/nowhere";
    again(TVK_TYPE_APPL);
    EXPECT_EQ(transmitFile(run, 0), kOutcomeFailed);
    EXPECT_EQ(prompt.shown.at(0).text, fileErrMessage(kFileErrPathAccess, settings.apDir));
    EXPECT_EQ(std::pair(run.files.ending().has_value(), fake.transferTexts.size()), std::pair(true, std::size_t{0}));
}

TEST(TransmitTotals, SaturateInsteadOfWrapping) {
    constexpr int32_t top = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(std::pair(countOneMore(0), countOneMore(32767)), std::pair(int16_t{1}, int16_t{32767}));
    EXPECT_EQ(std::tuple(addBytesSaturated(10, 1000), addBytesSaturated(top - 5, 5), addBytesSaturated(top - 5, 6),
                         addBytesSaturated(1, std::uintmax_t{1} << 40)),
              std::tuple(1010, top, top, top));
}

}  // namespace
}  // namespace quendril::test
