#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include "commfixture.h"
#include "commint.h"

namespace quendril::test {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using NamedBytes = std::vector<std::pair<std::string, std::string>>;

TEST_F(CommTest, FindHtIndexExactThenWildcardThenNone) {
    const std::vector<std::tuple<Strings, std::string, int16_t>> cases = {
        {{"HT0001", "&&&&&&", "HT0002"}, "HT0002", 2}, {{"HT0001", "&&&&&&", "HT0002"}, "HT0009", 1},
        {{"HT0001", "HT0002"}, "HT0009", 2},           {{"HT0001", "HT0002"}, "ht0001", 2},
        {{"HT0001 "}, "HT0001", 0},                    {{}, "HT0001", 0},
        // Padded as the library pads them: a short entry finds its terminal.
        {{"HT01", "&&&&&&"}, "HT01  ", 0},             {{"HT0001XY"}, "HT0001", 0},
    };
    for (const auto& [ids, id, index] : cases) {
        TerminalTable table;
        for (const std::string& entry : ids) table.push_back({entry, "", "", "   "});
        EXPECT_EQ(findHtIndex(table, id), index) << id;
    }
}

TEST_F(CommTest, JobDirectoryByKindEntryAndFallback) {
    addEntry("HT0001", "/own/recv", "/own/send", "LOD");
    addEntry("HT0002", "", "", "   ");
    settings.recvDir = "/g/recv";
    settings.sendDir = "/g/send";
    settings.apDir = "/g/ap";
    // transDir, transType, entry index, directory
    const std::vector<std::tuple<int32_t, int32_t, int16_t, std::string>> cases = {
        {0, 0, 0, "/own/recv"}, {0, 15, 0, "/own/recv"}, {0, 0, 1, "/g/recv"}, {1, 3, 0, "/own/send"},
        {1, 3, 1, "/g/send"},   {1, 15, 0, "/g/ap"},     {0, 0, 2, "/g/recv"}, {1, 3, 2, "/g/send"},
    };
    for (const auto& [transDir, transType, htIndex, dir] : cases) {
        EXPECT_EQ(getJobDirectory(settings, run.terminals, makeRecord("HT0001", transDir, transType), htIndex), dir)
            << transDir << "/" << transType << " entry " << htIndex;
    }
}

class ReceiveTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        run.records = {makeRecord("HT0001", 0)};
    }
    // The library stores files into the directory it was handed.
    void libraryStores(NamedBytes files) {
        fake.onTransfer = [files](const std::string& dir, CommInfo&) {
            for (const auto& [name, content] : files) writeBytes(dir + "/" + name, content);
        };
    }
    std::string received(const std::string& name) const { return readBytes(settings.recvDir + "/" + name); }
};

TEST_F(ReceiveTest, NormalModeHandsTheDirectoryOverAndMapsResults) {
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {0, false, kOutcomeDone}, {-1, false, kOutcomeFailed}, {-9, false, kOutcomeFailed},
        {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}};
    for (const auto& [result, cancel, outcome] : cases) {
        run.stop = false;
        fake.transferTexts.clear();
        fake.jobResults = {result};
        libraryStores({{"data.txt", "abc"}});
        if (cancel) fake.onTransfer = [this](const std::string&, CommInfo&) { run.stop = true; };
        EXPECT_EQ(receiveFile(run, 0), outcome) << result;
        EXPECT_EQ(fake.transferTexts, Strings{settings.recvDir});
    }
    EXPECT_EQ(entriesIn(settings.recvDir), Strings{"data.txt"}) << "no upper-casing";
    EXPECT_TRUE(entriesIn(tempDir).empty());

    // The terminal's own directory, else the wildcard entry's.
    const std::string own = makeDir("own"), any = makeDir("any");
    addEntry("HT0001", own);
    addEntry("&&&&&&", any);
    run.records = {makeRecord("HT0001", 0), makeRecord("HT0099", 0)};
    run.stop = false;
    fake.onTransfer = nullptr;
    fake.transferTexts.clear();
    EXPECT_EQ(receiveFile(run, 0), kOutcomeDone);
    EXPECT_EQ(receiveFile(run, 1), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, (Strings{own, any}));
}

// The temporary directory is also made again when it was removed. Names
// from the line are literal: "*" or "?" never stand for other files.
TEST_F(ReceiveTest, AppendModeAppendsToANamesakeInAnyCaseOrCreatesUpperCase) {
    settings.appendMode = true;
    std::filesystem::remove_all(tempDir);
    writeBytes(settings.recvDir + "/Data.txt", "12345");
    writeBytes(settings.recvDir + "/.LOG", "dot:");
    const std::string exact = content(1024, 1);
    const std::string big = content(3 * 512 + 7, 2) + std::string(100000, '\0') + content(511, 3);
    libraryStores({{"DATA.TXT", "678"}, {"new.bin", exact}, {"empty", ""}, {"big.bin", big}, {"*", "star"},
                   {"?", "query"}, {"[a]", "bracket"}, {"a", "plain"}, {".log", "seen"}});
    EXPECT_EQ(receiveFile(run, 0), kOutcomeDone);
    EXPECT_TRUE(prompt.shown.empty());
    ASSERT_EQ(fake.transferTexts.size(), 1u);
    EXPECT_EQ(fake.transferTexts[0].rfind(tempDir + "/", 0), 0u) << "received inside tempDir";
    EXPECT_GT(fake.transferTexts[0].size(), tempDir.size() + 1) << "into a directory of its own";
    EXPECT_EQ(entriesIn(settings.recvDir),
              (Strings{"*", ".LOG", "?", "A", "BIG.BIN", "Data.txt", "EMPTY", "NEW.BIN", "[A]"}));
    const NamedBytes expected = {{"Data.txt", "12345678"}, {"NEW.BIN", exact}, {"BIG.BIN", big}, {"EMPTY", ""},
                                 {"*", "star"}, {"?", "query"}, {"[A]", "bracket"}, {"A", "plain"}, {".LOG", "dot:seen"}};
    for (const auto& [name, content] : expected) EXPECT_EQ(received(name), content) << name;
    EXPECT_TRUE(entriesIn(tempDir).empty()) << "the copies, the job directory and its notes are gone";
}

// Until the terminal is told, a failed job's copies are worth nothing: the
// terminal keeps its files and sends them again. Once it is told, they stay
// pending for the next start, even when the run was stopped just then.
TEST_F(ReceiveTest, AppendModeDiscardsAnUntoldJobAndKeepsAToldOneUntilItIsAppended) {
    settings.appendMode = true;
    writeBytes(settings.recvDir + "/PART.DAT", "old|");
    // library result, Cancel while it finishes, outcome
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {-1, false, kOutcomeFailed}, {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}};
    for (const auto& [result, cancel, outcome] : cases) {
        run.stop = false;
        fake.jobResults = {result};
        fake.onTransfer = [this, cancel = cancel](const std::string& dir, CommInfo&) {
            writeBytes(dir + "/part.dat", "half");
            run.stop = cancel;
        };
        EXPECT_EQ(receiveFile(run, 0), outcome) << result;
    }
    EXPECT_EQ(received("PART.DAT"), "old|") << "nothing appended yet";
    const Strings kept = entriesIn(tempDir);
    ASSERT_EQ(kept.size(), 3u) << "only the told job is kept";
    EXPECT_EQ(kept[1], kept[0] + ".job");
    EXPECT_EQ(readBytes(tempDir + "/" + kept[0] + "/part.dat"), "half");
}

TEST_F(ReceiveTest, AppendIntoTheTemporaryDirectoryItselfNeverAppendsAFileToItself) {
    settings.appendMode = true;
    settings.recvDir = tempDir;
    writeBytes(tempDir + "/LOG.TXT", "old");
    libraryStores({{"log.txt", "new"}});
    EXPECT_EQ(receiveFile(run, 0), kOutcomeDone);
    EXPECT_EQ(entriesIn(tempDir), Strings{"LOG.TXT"});
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");
    EXPECT_TRUE(resumePendingAppends(tempDir).empty());
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");
}

// What the program lets a terminal store: never one of its own files in the
// working folder, never a name whose namesake in append mode is a link, a
// directory or a device.
TEST_F(ReceiveTest, StoreChecksKeepTheProgramsOwnFilesAndLinks) {
    settings.htIdFile = "HOSTPCID.INF";
    const std::string home = work.str();
    const std::string outside = makeDir("outside");
    writeBytes(outside + "/target", "untouched");
    std::filesystem::create_symlink(outside + "/target", settings.recvDir + "/LINKED.TXT");
    std::filesystem::create_symlink(outside + "/none", settings.recvDir + "/DANGLING.TXT");
    std::filesystem::create_directories(settings.recvDir + "/SUBDIR");
    // destination, append mode, name, may be stored
    const std::vector<std::tuple<std::string, bool, std::string, bool>> cases = {
        {home, false, "hostpc.ini", false},     {home, false, "HOSTPC.INI", false},
        {home, false, "quendril-log.csv", false}, {home, false, "QUENDRIL-LOG.CSV.1", false},
        {home, false, "hostpcid.inf", false},   {home, false, "Temp", false},
        {home, false, ".bashrc", false},        {home, false, "DATA.TXT", true},
        {tempDir, false, "RECV1.job", false},   {tempDir, false, "RECORD.TXT", true},
        {settings.recvDir, false, ".profile", true},   {settings.recvDir, false, "hostpc.ini", true},
        {settings.recvDir, true, "linked.txt", false}, {settings.recvDir, true, "DANGLING.TXT", false},
        {settings.recvDir, true, "subdir", false},     {settings.recvDir, true, "NEW.TXT", true},
        {settings.recvDir, false, "LINKED.TXT", true},
    };
    for (const auto& [dest, append, name, stored] : cases) {
        settings.appendMode = append;
        addEntry("HT0001", dest);
        fake.onTransfer = [&, name = name](const std::string&, CommInfo&) {
            EXPECT_EQ(fake.checkFn(fake.checkUser, TVK_CHECK_STORE, name.c_str()) != 0, stored) << dest << " " << name;
        };
        receiveFile(run, 0);
        run.terminals.clear();
    }
    EXPECT_EQ(fake.checkFn, nullptr) << "uninstalled after the job";
    EXPECT_EQ(readBytes(outside + "/target"), "untouched");
    EXPECT_FALSE(std::filesystem::exists(outside + "/none"));
}

// Answers the boxes like TestPrompt and, at the first box, runs an action.
class ActingPrompt : public TestPrompt {
public:
    std::function<void()> atFirstBox;
    BoxAnswer show(const Failure& failure) override {
        if (atFirstBox) std::exchange(atFirstBox, nullptr)();
        return TestPrompt::show(failure);
    }
};

// A failed append is reported under the failure rule; Cancel leaves the copy
// pending, and the next start or run appends it exactly once.
TEST_F(ReceiveTest, FailedAppendIsReportedAndThePendingCopyIsAppendedLater) {
    settings.appendMode = true;
    const std::string dest = settings.recvDir + "/A.TXT";
    for (const auto& [answer, appendedNow] : {std::pair{kAnswerRetry, true}, std::pair{kAnswerCancel, false}}) {
        ActingPrompt acting;
        // A fifo appears at the name after the receive (no reader: the open
        // fails as a device that is not ready); before the box is answered it
        // becomes a file again.
        fake.onTransfer = [&](const std::string& dir, CommInfo&) {
            writeBytes(dir + "/a.txt", "2");
            writeBytes(dir + "/b.txt", "3");
            ASSERT_EQ(::mkfifo(dest.c_str(), 0600), 0);
        };
        acting.answers = {answer};
        acting.atFirstBox = [&] {
            std::filesystem::remove(dest);
            writeBytes(dest, "1");
        };
        EXPECT_EQ(receiveFile(*runAsking(acting), 0), kOutcomeDone);
        ASSERT_EQ(acting.shown.size(), 1u);
        EXPECT_EQ(acting.shown[0].buttons, BoxButtons::RetryCancel);
        EXPECT_EQ(acting.shown[0].text, fileErrMessage(kFileErrDeviceUnavailable, dest));
        EXPECT_EQ(received("A.TXT"), appendedNow ? "12" : "1");
        EXPECT_EQ(received("B.TXT"), "3") << "the next copy is still appended";
        const std::vector<PendingJob> resumed = resumePendingAppends(tempDir);
        EXPECT_EQ(resumed.size(), appendedNow ? 0u : 1u);
        EXPECT_EQ(received("A.TXT"), "12") << "exactly once";
        EXPECT_TRUE(entriesIn(tempDir).empty());
        std::filesystem::remove(dest);
        std::filesystem::remove(settings.recvDir + "/B.TXT");
    }
}

// Cancel 50 ms into appending a 200 MB copy the terminal was told of: the
// destination is cut back to its old bytes, the copy stays pending, and the
// next start appends it exactly once.
TEST_F(ReceiveTest, StopDuringALargeAppendCutsBackAndKeepsTheCopyPending) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kBlock = std::size_t{1} << 20, kBlocks = 200;
    settings.appendMode = true;
    const std::string dest = settings.recvDir + "/BIG.DAT";
    writeBytes(dest, "old|");
    // Each block carries its number, so a block appended twice or out of order shows.
    const std::string pattern = content(kBlock, 7);
    const auto block = [&](std::size_t i) {
        std::string b = pattern;
        std::memcpy(b.data(), &i, sizeof i);
        return b;
    };
    fake.onTransfer = [&](const std::string& dir, CommInfo&) {
        std::ofstream out(dir + "/big.dat", std::ios::binary);
        for (std::size_t i = 0; i < kBlocks; ++i) out << block(i);
    };
    std::atomic<bool> returned{false};
    Clock::time_point stoppedAt{};
    // The append of a copy begins with its journal beside the job.
    const auto journal = [](const std::string& name) { return name.ends_with(".append"); };
    std::thread stopper([&] {
        while (!returned && std::ranges::none_of(entriesIn(tempDir), journal)) std::this_thread::sleep_for(200us);
        if (returned) return;
        std::this_thread::sleep_for(50ms);
        stoppedAt = Clock::now();
        requestStop(run);
    });
    const int16_t outcome = receiveFile(run, 0);
    const auto returnedAt = Clock::now();
    returned = true;
    stopper.join();
    ASSERT_NE(stoppedAt, Clock::time_point{}) << "the append never began";
    std::cout << "[comm] stop during a 200 MB append: returned "
              << std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - stoppedAt).count()
              << " ms after the stop request\n";
    EXPECT_EQ(outcome, kOutcomeStop);
    EXPECT_EQ(readBytes(dest), "old|") << "cut back to its old bytes";
    EXPECT_TRUE(prompt.shown.empty()) << "a stop is no failure";
    const Strings pending = entriesIn(tempDir);
    ASSERT_EQ(pending, (Strings{pending[0], pending[0] + ".job", pending[0] + ".recv"})) << "committed, no journal";
    EXPECT_EQ(std::filesystem::file_size(tempDir + "/" + pending[0] + "/big.dat"), kBlock * kBlocks);

    const std::vector<PendingJob> resumed = resumePendingAppends(tempDir);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0].htId, "HT0001");
    EXPECT_EQ(resumed[0].destDir, settings.recvDir);
    EXPECT_TRUE(resumed[0].appended);
    EXPECT_TRUE(resumePendingAppends(tempDir).empty());
    ASSERT_EQ(std::filesystem::file_size(dest), 4 + kBlock * kBlocks) << "appended exactly once";
    std::ifstream in(dest, std::ios::binary);
    std::string got(4, '\0');
    EXPECT_TRUE(in.read(got.data(), 4) && got == "old|");
    got.resize(kBlock);
    for (std::size_t i = 0; i < kBlocks && in.read(got.data(), kBlock); ++i) ASSERT_TRUE(got == block(i)) << i;
    EXPECT_TRUE(entriesIn(tempDir).empty());
}

class TransmitTest : public CommTest {
protected:
    // Files the library would send: the listing of the pattern's directory
    // at the moment of the call, with their contents.
    std::vector<NamedBytes> sent;

    void SetUp() override {
        CommTest::SetUp();
        fake.onTransfer = [this](const std::string& pattern, CommInfo&) {
            ASSERT_GE(pattern.size(), 4u);
            ASSERT_EQ(pattern.substr(pattern.size() - 4), "/*.*");
            NamedBytes files;
            // As the library does: no name beginning with '.', none the check leaves out.
            for (const auto& e : std::filesystem::directory_iterator(pattern.substr(0, pattern.size() - 4))) {
                const std::string name = e.path().filename().string();
                if (!e.is_regular_file() || name.starts_with('.')) continue;
                if (fake.checkFn && fake.checkFn(fake.checkUser, TVK_CHECK_SEND, name.c_str()) == 0) continue;
                files.emplace_back(name, readBytes(e.path().string()));
            }
            std::sort(files.begin(), files.end());
            sent.push_back(files);
        };
        fake.pollResults = {};
        run.records = {makeRecord("HT0001", 1, 3)};
    }
    void fillSendDir() {
        writeBytes(settings.sendDir + "/A.LOD", "lod-a");
        writeBytes(settings.sendDir + "/b.lod", "lod-b");
        writeBytes(settings.sendDir + "/C.TXT", "text");
    }
    Strings sentNames(std::size_t job) const {
        Strings names;
        for (const auto& f : sent.at(job)) names.push_back(f.first);
        return names;
    }
    void expectTempDirEmpty() { EXPECT_EQ(entriesIn(tempDir), Strings{}); }
};

TEST_F(TransmitTest, FileTypeSelectsWhatIsSent) {
    fillSendDir();
    writeBytes(settings.sendDir + "/AB", "short");
    // settings' type, entry's type, files sent, sent from the source itself
    const std::vector<std::tuple<std::string, std::string, Strings, bool>> cases = {
        {"LOD", "   ", {"A.LOD", "B.LOD"}, false},
        {"ALL", "lod", {"A.LOD", "B.LOD"}, false},
        {"OTR", "   ", {"AB", "C.TXT"}, false},
        {"ALL", "   ", {"A.LOD", "AB", "C.TXT", "b.lod"}, true},
        {"LOD", "all", {"A.LOD", "AB", "C.TXT", "b.lod"}, true},
        {"XYZ", "   ", {}, false},
        {"LOD", "", {"A.LOD", "B.LOD"}, false},
    };
    for (const auto& [globalKind, entryKind, names, fromSendDir] : cases) {
        run.terminals.clear();
        addEntry("HT0001", "", "", entryKind);
        settings.fileKind = globalKind;
        run.records = {makeRecord("HT0001", 1, 3)};
        sent.clear();
        fake.transferTexts.clear();
        fake.sentRecords.clear();
        EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
        EXPECT_EQ(sentNames(0), names) << globalKind << "/" << entryKind;
        EXPECT_EQ(fake.sentRecords[0].fileCount, static_cast<int32_t>(names.size()));
        EXPECT_EQ(run.records[0].fileCount, static_cast<int32_t>(names.size()));
        EXPECT_EQ(fake.transferTexts[0] == settings.sendDir + "/*.*", fromSendDir) << fake.transferTexts[0];
        expectTempDirEmpty();
    }
    EXPECT_EQ(sent[0], (NamedBytes{{"A.LOD", "lod-a"}, {"B.LOD", "lod-b"}})) << "staged copies carry the bytes";
    EXPECT_EQ(fake.sentRecords[0].totalSize, 10);
    EXPECT_EQ(entriesIn(settings.sendDir), (Strings{"A.LOD", "AB", "C.TXT", "b.lod"})) << "the source is unchanged";
}

// A stop while a large file is staged ends its copy within a block: the
// staging directory goes and nothing is sent.
TEST_F(TransmitTest, StopWhileStagingRemovesTheCopiesAndSendsNothing) {
    using Clock = std::chrono::steady_clock;
    settings.fileKind = "LOD";
    {
        std::ofstream out(settings.sendDir + "/BIG.LOD", std::ios::binary);
        const std::string block(std::size_t{1} << 20, 'x');
        for (int i = 0; i < 200; ++i) out << block;
    }
    std::atomic<bool> returned{false};
    Clock::time_point stoppedAt{};
    std::thread stopper([&] {
        while (!returned && entriesIn(tempDir).empty()) std::this_thread::sleep_for(200us);
        if (returned) return;
        std::this_thread::sleep_for(20ms);
        stoppedAt = Clock::now();
        requestStop(run);
    });
    const int16_t outcome = transmitFile(run, 0);
    const auto returnedAt = Clock::now();
    returned = true;
    stopper.join();
    ASSERT_NE(stoppedAt, Clock::time_point{}) << "staging never began";
    std::cout << "[comm] stop while staging 200 MB: returned "
              << std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - stoppedAt).count()
              << " ms after the stop request\n";
    EXPECT_EQ(outcome, kOutcomeStop);
    EXPECT_EQ(fake.calls("filesend"), 0);
    expectTempDirEmpty();
}

TEST_F(TransmitTest, NothingElseInTempDirIsSentOrLost) {
    fillSendDir();
    writeBytes(tempDir + "/STRAY.LOD", "stray");
    settings.fileKind = "LOD";
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    EXPECT_EQ(sentNames(0), (Strings{"A.LOD", "B.LOD"}));
    EXPECT_EQ(entriesIn(tempDir), Strings{"STRAY.LOD"});
    // A transmitting directory that is tempDir itself loses nothing.
    settings.sendDir = tempDir;
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    EXPECT_EQ(sent[1], (NamedBytes{{"STRAY.LOD", "stray"}}));
    EXPECT_EQ(entriesIn(tempDir), Strings{"STRAY.LOD"});
    EXPECT_EQ(readBytes(tempDir + "/STRAY.LOD"), "stray");
}

// The default set-up sends from the working folder: its settings, the ID
// file and anything beginning with '.' never leave it.
TEST_F(TransmitTest, ProgramsOwnFilesAreNeverSent) {
    const std::string home = work.str();
    settings.htIdFile = "HOSTPCID.INF";
    for (const char* name : {"hostpc.ini", "HOSTPCID.INF", ".bashrc", ".LOD"}) writeBytes(home + "/" + name, "own");
    writeBytes(home + "/A.LOD", "lod");
    writeBytes(home + "/B.TXT", "text");
    settings.sendDir = home;
    settings.apDir = home;
    // file type, transType, files sent
    const std::vector<std::tuple<std::string, int32_t, Strings>> cases = {
        {"ALL", 3, {"A.LOD", "B.TXT"}}, {"LOD", 3, {"A.LOD"}}, {"OTR", 3, {"B.TXT"}},
        {"LOD", TVK_TYPE_APPL, {"A.LOD", "B.TXT"}}};
    for (const auto& [kind, type, names] : cases) {
        settings.fileKind = kind;
        run.records = {makeRecord("HT0001", 1, type)};
        sent.clear();
        fake.sentRecords.clear();
        fake.pollResults = {1};
        fake.records = {{makeRecord("HT0001", 0), 0}};
        EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
        EXPECT_EQ(sentNames(0), names) << kind;
        EXPECT_EQ(fake.sentRecords[0].fileCount, static_cast<int32_t>(names.size())) << kind;
    }
    EXPECT_EQ(fake.checkFn, nullptr);
}

TEST_F(TransmitTest, ResultsAndStopsMapToOutcomesAndCopiesAreAlwaysRemoved) {
    fillSendDir();
    settings.fileKind = "OTR";
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {-1, false, kOutcomeFailed}, {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}, {1, false, kOutcomeDone}};
    for (const auto& [result, cancel, outcome] : cases) {
        run.stop = false;
        fake.jobResults = {result};
        fake.onTransfer = [this, cancel = cancel](const std::string&, CommInfo&) { run.stop = cancel; };
        EXPECT_EQ(transmitFile(run, 0), outcome) << result;
        expectTempDirEmpty();
    }
    EXPECT_EQ(fake.calls("idtblclr"), 0) << "a Transmit File never re-polls";
}

TEST_F(TransmitTest, ApInstallSendsTheApplicationDirectoryLeavingMapFilesOutOfTheTotals) {
    writeBytes(settings.apDir + "/PROG.EXE", content(1000, 4));
    writeBytes(settings.apDir + "/PROG.MAP", content(50, 5));
    writeBytes(settings.apDir + "/prog.map", content(7, 5));
    addEntry("HT0001", "", makeDir("own"), "LOD");
    run.records = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
    fake.pollResults = {1};
    fake.records = {{makeRecord("HT0001", TVK_DIR_END), 0}};
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, Strings{settings.apDir + "/*.*"});
    EXPECT_EQ(sentNames(0), (Strings{"PROG.EXE", "PROG.MAP", "prog.map"}));
    EXPECT_EQ(fake.sentRecords[0].fileCount, 1);
    EXPECT_EQ(fake.sentRecords[0].totalSize, 1000);
    // Exactly one re-poll for this terminal, which then is disconnected.
    EXPECT_EQ(fake.calls("idtblclr"), 1);
    EXPECT_EQ(fake.registeredIds, Strings{"HT0001"});
    EXPECT_EQ(fake.calls("getcinffirst"), 1);
    EXPECT_EQ(fake.disconnectModes, std::vector<int32_t>{0});
    expectTempDirEmpty();
}

TEST_F(TransmitTest, FailedOrStoppedApInstallHasNoRepollAndAStoppedRepollStops) {
    writeBytes(settings.apDir + "/PROG.EXE", "x");
    // send result, poll results, outcome, re-polls
    const std::vector<std::tuple<int16_t, std::deque<int16_t>, int16_t, int>> cases = {
        {-1, {}, kOutcomeFailed, 0}, {TVK_ESTOPPED, {}, kOutcomeStop, 0},
        {0, {TVK_ESTOPPED, TVK_ESTOPPED, TVK_ESTOPPED}, kOutcomeStop, 1}};
    for (const auto& [send, polls, outcome, repolls] : cases) {
        timeline.clear();
        run.records = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
        fake.jobResults = {send};
        fake.pollResults = polls;
        int pollCount = 0;
        fake.onPoll = [&] {
            // Let the window close after the scripted polls.
            if (++pollCount == 3) run.clock = [] { return std::chrono::steady_clock::time_point::max(); };
        };
        EXPECT_EQ(transmitFile(run, 0), outcome);
        EXPECT_EQ(fake.calls("idtblclr"), repolls);
        run.clock = nullptr;
    }
}

// As a missing sending directory does (DriverTest), a missing application
// directory ends the program; nothing is sent.
TEST_F(TransmitTest, MissingApplicationDirectoryEndsTheProgramWithoutSending) {
    settings.apDir = work.str() + "/nowhere";
    run.records = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
    EXPECT_EQ(transmitFile(run, 0), kOutcomeFailed);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, fileErrMessage(kFileErrPathAccess, settings.apDir));
    ASSERT_TRUE(run.files.ending());
    EXPECT_EQ(fake.calls("filesend"), 0);
}

TEST_F(TransmitTest, EmptySourceIsSentWithZeroTotalsAndFailedStagingSendsNothing) {
    EXPECT_EQ(transmitFile(run, 0), kOutcomeDone);
    EXPECT_EQ(fake.sentRecords[0].fileCount, 0);
    EXPECT_EQ(fake.sentRecords[0].totalSize, 0);

    fillSendDir();
    prompt.answers = {kAnswerCancel};
    run.files.injectFault(kFileErrNotReady, 1);
    EXPECT_EQ(stageTransmitFiles(run, run.records[0], settings.sendDir, "LOD").dir, "");
    EXPECT_EQ(prompt.shown.size(), 1u);
    expectTempDirEmpty();
}

TEST_F(TransmitTest, TotalsSaturateInsteadOfWrapping) {
    const std::string big = makeDir("big");
    for (const char* name : {"/A.BIN", "/B.BIN"}) {
        writeBytes(big + name, "");
        std::filesystem::resize_file(big + name, std::uintmax_t{1} << 30);  // sparse
    }
    writeBytes(big + "/C.BIN", "1");
    const TransmitTotals t = countTransmitFiles(run, run.records[0], big);
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(t.total, std::numeric_limits<int32_t>::max());

    for (const auto& [before, after] : {std::pair{0, 1}, std::pair{32766, 32767}, std::pair{32767, 32767}}) {
        EXPECT_EQ(countOneMore(static_cast<int16_t>(before)), after);
    }
    const int32_t top = std::numeric_limits<int32_t>::max();
    const std::vector<std::tuple<int32_t, std::uintmax_t, int32_t>> totals = {
        {0, 0, 0}, {10, 1000, 1010}, {top - 5, 5, top}, {top - 5, 6, top}, {top, 1, top}, {0, UINTMAX_MAX, top},
        {1, std::uintmax_t{1} << 40, top}};
    for (const auto& [total, add, result] : totals) EXPECT_EQ(addBytesSaturated(total, add), result) << total << " + " << add;
}

}  // namespace
}  // namespace quendril::test
