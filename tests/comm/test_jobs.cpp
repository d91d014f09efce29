#include <sys/stat.h>

#include <cstring>
#include <limits>

#include "commfixture.h"
#include "commint.h"

namespace quendril::test {
namespace {

using Strings = std::vector<std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;

TEST_F(CommTest, FindHtIndexExactThenWildcardThenNone) {
    const std::vector<std::tuple<Strings, std::string, int16_t>> cases = {
        {{"HT0001", "&&&&&&", "HT0002"}, "HT0002", 2}, {{"HT0001", "&&&&&&", "HT0002"}, "HT0009", 1},
        {{"HT0001", "HT0002"}, "HT0009", 2},           {{"HT0001", "HT0002"}, "ht0001", 2},
        {{"HT0001 "}, "HT0001", 0},                    {{}, "HT0001", 0},
        // Padded as the library pads them: a short entry finds its terminal.
        {{"HT01", "&&&&&&"}, "HT01  ", 0},             {{"HT0001XY"}, "HT0001", 0},
    };
    for (const auto& [table, id, index] : cases) {
        htIdCount = 0;
        for (const std::string& entry : table) addEntry(entry);
        EXPECT_EQ(findHtIndex(id), index) << id;
    }
}

TEST_F(CommTest, JobDirectoryByKindEntryAndFallback) {
    addEntry("HT0001", "/own/recv", "/own/send", "LOD");
    addEntry("HT0002", "", "", "   ");
    EnvSettings.recvDir = "/g/recv";
    EnvSettings.sendDir = "/g/send";
    EnvSettings.apDir = "/g/ap";
    // transDir, transType, entry index, directory
    const std::vector<std::tuple<int32_t, int32_t, int16_t, std::string>> cases = {
        {0, 0, 0, "/own/recv"}, {0, 15, 0, "/own/recv"}, {0, 0, 1, "/g/recv"}, {1, 3, 0, "/own/send"},
        {1, 3, 1, "/g/send"},   {1, 15, 0, "/g/ap"},     {0, 0, 2, "/g/recv"}, {1, 3, 2, "/g/send"},
    };
    for (const auto& [transDir, transType, htIndex, dir] : cases) {
        EXPECT_EQ(getJobDirectory(makeRecord("HT0001", transDir, transType), htIndex), dir)
            << transDir << "/" << transType << " entry " << htIndex;
    }
}

class ReceiveTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        commInfoList = {makeRecord("HT0001", 0)};
    }
    // The library stores files into the directory it was handed.
    void libraryStores(Files files) {
        fake.onTransfer = [files](const std::string& dir, CommInfo&) {
            for (const auto& [name, content] : files) writeBytes(dir + "/" + name, content);
        };
    }
    std::string received(const std::string& name) const { return readBytes(EnvSettings.recvDir + "/" + name); }
};

TEST_F(ReceiveTest, NormalModeHandsTheDirectoryOverAndMapsResults) {
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {0, false, kOutcomeDone}, {-1, false, kOutcomeFailed}, {-9, false, kOutcomeFailed},
        {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}};
    for (const auto& [result, cancel, outcome] : cases) {
        stopRequested = false;
        fake.transferTexts.clear();
        fake.jobResults = {result};
        libraryStores({{"data.txt", "abc"}});
        if (cancel) fake.onTransfer = [](const std::string&, CommInfo&) { stopRequested = true; };
        EXPECT_EQ(receiveFile(0), outcome) << result;
        EXPECT_EQ(fake.transferTexts, Strings{EnvSettings.recvDir});
    }
    EXPECT_EQ(entriesIn(EnvSettings.recvDir), Strings{"data.txt"}) << "no upper-casing";
    EXPECT_TRUE(entriesIn(tempDir).empty());

    // The terminal's own directory, else the wildcard entry's.
    const std::string own = makeDir("own"), any = makeDir("any");
    addEntry("HT0001", own);
    addEntry("&&&&&&", any);
    commInfoList = {makeRecord("HT0001", 0), makeRecord("HT0099", 0)};
    stopRequested = false;
    fake.onTransfer = nullptr;
    fake.transferTexts.clear();
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(receiveFile(1), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, (Strings{own, any}));
}

// The temporary directory is also made again when it was removed. Names
// from the line are literal: "*" or "?" never stand for other files.
TEST_F(ReceiveTest, AppendModeAppendsToANamesakeInAnyCaseOrCreatesUpperCase) {
    EnvSettings.appendMode = true;
    std::filesystem::remove_all(tempDir);
    writeBytes(EnvSettings.recvDir + "/Data.txt", "12345");
    writeBytes(EnvSettings.recvDir + "/.LOG", "dot:");
    const std::string exact = bytes(1024, '0');
    const std::string big = bytes(3 * 512 + 7, 'x') + std::string(100000, '\0') + bytes(511, 'y');
    libraryStores({{"DATA.TXT", "678"}, {"new.bin", exact}, {"empty", ""}, {"big.bin", big}, {"*", "star"},
                   {"?", "query"}, {"[a]", "bracket"}, {"a", "plain"}, {".log", "seen"}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_TRUE(host.shown.empty());
    ASSERT_EQ(fake.transferTexts.size(), 1u);
    EXPECT_EQ(fake.transferTexts[0].rfind(tempDir + "/", 0), 0u) << "received inside tempDir";
    EXPECT_GT(fake.transferTexts[0].size(), tempDir.size() + 1) << "into a directory of its own";
    EXPECT_EQ(entriesIn(EnvSettings.recvDir),
              (Strings{"*", ".LOG", "?", "A", "BIG.BIN", "Data.txt", "EMPTY", "NEW.BIN", "[A]"}));
    const Files expected = {{"Data.txt", "12345678"}, {"NEW.BIN", exact}, {"BIG.BIN", big}, {"EMPTY", ""},
                            {"*", "star"}, {"?", "query"}, {"[A]", "bracket"}, {"A", "plain"}, {".LOG", "dot:seen"}};
    for (const auto& [name, content] : expected) EXPECT_EQ(received(name), content) << name;
    EXPECT_TRUE(entriesIn(tempDir).empty()) << "the copies, the job directory and its notes are gone";
}

// Until the terminal is told, a failed job's copies are worth nothing: the
// terminal keeps its files and sends them again. Once it is told, they must
// arrive, even when the run was stopped just then.
TEST_F(ReceiveTest, AppendModeDiscardsAnUntoldJobAndKeepsAToldOneUntilItIsAppended) {
    EnvSettings.appendMode = true;
    writeBytes(EnvSettings.recvDir + "/PART.DAT", "old|");
    // library result, Cancel while it finishes, outcome
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {-1, false, kOutcomeFailed}, {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}};
    for (const auto& [result, cancel, outcome] : cases) {
        stopRequested = false;
        fake.jobResults = {result};
        fake.onTransfer = [cancel = cancel](const std::string& dir, CommInfo&) {
            writeBytes(dir + "/part.dat", "half");
            stopRequested = cancel;
        };
        EXPECT_EQ(receiveFile(0), outcome) << result;
    }
    EXPECT_EQ(received("PART.DAT"), "old|") << "nothing appended yet";
    const Strings kept = entriesIn(tempDir);
    ASSERT_EQ(kept.size(), 3u) << "only the told job is kept";
    EXPECT_EQ(kept[1], kept[0] + ".job");

    const std::vector<PendingJob> resumed = resumePendingAppends(tempDir);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0].htId, "HT0001");
    EXPECT_EQ(resumed[0].destDir, EnvSettings.recvDir);
    EXPECT_TRUE(resumed[0].appended);
    EXPECT_EQ(received("PART.DAT"), "old|half");
    EXPECT_TRUE(entriesIn(tempDir).empty());
    EXPECT_TRUE(resumePendingAppends(tempDir).empty()) << "appended once";
    EXPECT_EQ(received("PART.DAT"), "old|half");
}

TEST_F(ReceiveTest, AppendIntoTheTemporaryDirectoryItselfNeverAppendsAFileToItself) {
    EnvSettings.appendMode = true;
    EnvSettings.recvDir = tempDir;
    writeBytes(tempDir + "/LOG.TXT", "old");
    libraryStores({{"log.txt", "new"}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(entriesIn(tempDir), Strings{"LOG.TXT"});
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");
    EXPECT_TRUE(resumePendingAppends(tempDir).empty());
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");
}

// What the program lets a terminal store: never one of its own files in the
// working folder, never a name whose namesake in append mode is a link, a
// directory or a device.
TEST_F(ReceiveTest, StoreChecksKeepTheProgramsOwnFilesAndLinks) {
    EnvSettings.htIdFile = "HOSTPCID.INF";
    const std::string home = work.str();
    const std::string outside = makeDir("outside");
    writeBytes(outside + "/target", "untouched");
    std::filesystem::create_symlink(outside + "/target", EnvSettings.recvDir + "/LINKED.TXT");
    std::filesystem::create_symlink(outside + "/none", EnvSettings.recvDir + "/DANGLING.TXT");
    std::filesystem::create_directories(EnvSettings.recvDir + "/SUBDIR");
    // destination, append mode, name, may be stored
    const std::vector<std::tuple<std::string, bool, std::string, bool>> cases = {
        {home, false, "hostpc.ini", false},     {home, false, "HOSTPC.INI", false},
        {home, false, "hostpcid.inf", false},   {home, false, "Temp", false},
        {home, false, ".bashrc", false},        {home, false, "DATA.TXT", true},
        {tempDir, false, "RECV1.job", false},   {tempDir, false, "RECORD.TXT", true},
        {EnvSettings.recvDir, false, ".profile", true},  {EnvSettings.recvDir, false, "hostpc.ini", true},
        {EnvSettings.recvDir, true, "linked.txt", false}, {EnvSettings.recvDir, true, "DANGLING.TXT", false},
        {EnvSettings.recvDir, true, "subdir", false},     {EnvSettings.recvDir, true, "NEW.TXT", true},
        {EnvSettings.recvDir, false, "LINKED.TXT", true},
    };
    for (const auto& [dest, append, name, stored] : cases) {
        EnvSettings.appendMode = append;
        addEntry("HT0001", dest);
        fake.onTransfer = [&, name = name](const std::string&, CommInfo&) {
            EXPECT_EQ(fake.checkFn(fake.checkUser, TVK_CHECK_STORE, name.c_str()) != 0, stored) << dest << " " << name;
        };
        receiveFile(0);
        htIdCount = 0;
    }
    EXPECT_EQ(fake.checkFn, nullptr) << "uninstalled after the job";
    EXPECT_EQ(readBytes(outside + "/target"), "untouched");
    EXPECT_FALSE(std::filesystem::exists(outside + "/none"));
}

// Answers the boxes like TestHost and, at the first box, runs an action.
class ActingHost : public TestHost {
public:
    std::function<void()> atFirstBox;
    int16_t messageBox(const std::string& text, BoxButtons buttons) override {
        if (atFirstBox) std::exchange(atFirstBox, nullptr)();
        return TestHost::messageBox(text, buttons);
    }
};

// A failed append is reported under the failure rule; Cancel leaves the copy
// pending, and the next start or run appends it exactly once.
TEST_F(ReceiveTest, FailedAppendIsReportedAndThePendingCopyIsAppendedLater) {
    EnvSettings.appendMode = true;
    const std::string dest = EnvSettings.recvDir + "/A.TXT";
    for (const auto& [answer, appendedNow] : {std::pair{kAnswerRetry, true}, std::pair{kAnswerCancel, false}}) {
        ActingHost acting;
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
        EXPECT_EQ(receiveFile(0), kOutcomeDone);
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
        std::filesystem::remove(EnvSettings.recvDir + "/B.TXT");
    }
}

class TransmitTest : public CommTest {
protected:
    // Files the library would send: the listing of the pattern's directory
    // at the moment of the call, with their contents.
    std::vector<Files> sent;

    void SetUp() override {
        CommTest::SetUp();
        fake.onTransfer = [this](const std::string& pattern, CommInfo&) {
            ASSERT_GE(pattern.size(), 4u);
            ASSERT_EQ(pattern.substr(pattern.size() - 4), "/*.*");
            Files files;
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
        commInfoList = {makeRecord("HT0001", 1, 3)};
    }
    void fillSendDir() {
        writeBytes(EnvSettings.sendDir + "/A.LOD", "lod-a");
        writeBytes(EnvSettings.sendDir + "/b.lod", "lod-b");
        writeBytes(EnvSettings.sendDir + "/C.TXT", "text");
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
    writeBytes(EnvSettings.sendDir + "/AB", "short");
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
        htIdCount = 0;
        addEntry("HT0001", "", "", entryKind);
        EnvSettings.fileKind = globalKind;
        commInfoList = {makeRecord("HT0001", 1, 3)};
        sent.clear();
        fake.transferTexts.clear();
        fake.sentRecords.clear();
        EXPECT_EQ(transmitFile(0), kOutcomeDone);
        EXPECT_EQ(sentNames(0), names) << globalKind << "/" << entryKind;
        EXPECT_EQ(fake.sentRecords[0].fileCount, static_cast<int32_t>(names.size()));
        EXPECT_EQ(commInfoList[0].fileCount, static_cast<int32_t>(names.size()));
        EXPECT_EQ(fake.transferTexts[0] == EnvSettings.sendDir + "/*.*", fromSendDir) << fake.transferTexts[0];
        expectTempDirEmpty();
    }
    EXPECT_EQ(sent[0], (Files{{"A.LOD", "lod-a"}, {"B.LOD", "lod-b"}})) << "staged copies carry the bytes";
    EXPECT_EQ(fake.sentRecords[0].totalSize, 10);
    EXPECT_EQ(entriesIn(EnvSettings.sendDir), (Strings{"A.LOD", "AB", "C.TXT", "b.lod"})) << "the source is unchanged";
}

TEST_F(TransmitTest, NothingElseInTempDirIsSentOrLost) {
    fillSendDir();
    writeBytes(tempDir + "/STRAY.LOD", "stray");
    EnvSettings.fileKind = "LOD";
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(sentNames(0), (Strings{"A.LOD", "B.LOD"}));
    EXPECT_EQ(entriesIn(tempDir), Strings{"STRAY.LOD"});
    // A transmitting directory that is tempDir itself loses nothing.
    EnvSettings.sendDir = tempDir;
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(sent[1], (Files{{"STRAY.LOD", "stray"}}));
    EXPECT_EQ(entriesIn(tempDir), Strings{"STRAY.LOD"});
    EXPECT_EQ(readBytes(tempDir + "/STRAY.LOD"), "stray");
}

// The default set-up sends from the working folder: its settings, the ID
// file and anything beginning with '.' never leave it.
TEST_F(TransmitTest, ProgramsOwnFilesAreNeverSent) {
    const std::string home = work.str();
    EnvSettings.htIdFile = "HOSTPCID.INF";
    for (const char* name : {"hostpc.ini", "HOSTPCID.INF", ".bashrc", ".LOD"}) writeBytes(home + "/" + name, "own");
    writeBytes(home + "/A.LOD", "lod");
    writeBytes(home + "/B.TXT", "text");
    EnvSettings.sendDir = home;
    EnvSettings.apDir = home;
    // file type, transType, files sent
    const std::vector<std::tuple<std::string, int32_t, Strings>> cases = {
        {"ALL", 3, {"A.LOD", "B.TXT"}}, {"LOD", 3, {"A.LOD"}}, {"OTR", 3, {"B.TXT"}},
        {"LOD", TVK_TYPE_APPL, {"A.LOD", "B.TXT"}}};
    for (const auto& [kind, type, names] : cases) {
        EnvSettings.fileKind = kind;
        commInfoList = {makeRecord("HT0001", 1, type)};
        sent.clear();
        fake.sentRecords.clear();
        fake.pollResults = {1};
        fake.records = {{makeRecord("HT0001", 0), 0}};
        EXPECT_EQ(transmitFile(0), kOutcomeDone);
        EXPECT_EQ(sentNames(0), names) << kind;
        EXPECT_EQ(fake.sentRecords[0].fileCount, static_cast<int32_t>(names.size())) << kind;
    }
    EXPECT_EQ(fake.checkFn, nullptr);
}

TEST_F(TransmitTest, ResultsAndStopsMapToOutcomesAndCopiesAreAlwaysRemoved) {
    fillSendDir();
    EnvSettings.fileKind = "OTR";
    const std::vector<std::tuple<int16_t, bool, int16_t>> cases = {
        {-1, false, kOutcomeFailed}, {TVK_ESTOPPED, false, kOutcomeStop}, {0, true, kOutcomeStop}, {1, false, kOutcomeDone}};
    for (const auto& [result, cancel, outcome] : cases) {
        stopRequested = false;
        fake.jobResults = {result};
        fake.onTransfer = [cancel = cancel](const std::string&, CommInfo&) { stopRequested = cancel; };
        EXPECT_EQ(transmitFile(0), outcome) << result;
        expectTempDirEmpty();
    }
    EXPECT_EQ(fake.calls("idtblclr"), 0) << "a Transmit File never re-polls";
}

TEST_F(TransmitTest, ApInstallSendsTheApplicationDirectoryLeavingMapFilesOutOfTheTotals) {
    writeBytes(EnvSettings.apDir + "/PROG.EXE", bytes(1000, 'e'));
    writeBytes(EnvSettings.apDir + "/PROG.MAP", bytes(50, 'm'));
    writeBytes(EnvSettings.apDir + "/prog.map", bytes(7, 'm'));
    addEntry("HT0001", "", makeDir("own"), "LOD");
    commInfoList = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
    fake.pollResults = {1};
    fake.records = {{makeRecord("HT0001", TVK_DIR_END), 0}};
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, Strings{EnvSettings.apDir + "/*.*"});
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
    writeBytes(EnvSettings.apDir + "/PROG.EXE", "x");
    // send result, poll results, outcome, re-polls
    const std::vector<std::tuple<int16_t, std::deque<int16_t>, int16_t, int>> cases = {
        {-1, {}, kOutcomeFailed, 0}, {TVK_ESTOPPED, {}, kOutcomeStop, 0},
        {0, {TVK_ESTOPPED, TVK_ESTOPPED, TVK_ESTOPPED}, kOutcomeStop, 1}};
    for (const auto& [send, polls, outcome, repolls] : cases) {
        timeline.clear();
        commInfoList = {makeRecord("HT0001", 1, TVK_TYPE_APPL)};
        fake.jobResults = {send};
        fake.pollResults = polls;
        int pollCount = 0;
        fake.onPoll = [&] {
            // Let the window close after the scripted polls.
            if (++pollCount == 3) setRepollClock([] { return std::chrono::steady_clock::time_point::max(); });
        };
        EXPECT_EQ(transmitFile(0), outcome);
        EXPECT_EQ(fake.calls("idtblclr"), repolls);
        setRepollClock(nullptr);
    }
}

TEST_F(TransmitTest, MissingSourceDirectoryEndsTheProgramWithoutSending) {
    const std::string missing = work.str() + "/nowhere";
    EnvSettings.sendDir = missing;
    EnvSettings.apDir = missing;
    for (const int32_t type : {3, TVK_TYPE_APPL}) {
        timeline.clear();
        host.shown.clear();
        commInfoList = {makeRecord("HT0001", 1, type)};
        EXPECT_THROW(transmitFile(0), ProgramEnded);
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].text, fileErrMessage(kFileErrPathAccess, missing));
        EXPECT_EQ(seen("disconnect"), Strings{"disconnect 1"});
        EXPECT_EQ(std::string(fake.disconnectSeen.back().htId, 6), std::string(6, '\0')) << "a blank record";
        EXPECT_EQ(timeline.back(), "close");
        EXPECT_EQ(fake.calls("filesend"), 0);
    }
}

TEST_F(TransmitTest, EmptySourceIsSentWithZeroTotalsAndFailedStagingSendsNothing) {
    EXPECT_EQ(transmitFile(0), kOutcomeDone);
    EXPECT_EQ(fake.sentRecords[0].fileCount, 0);
    EXPECT_EQ(fake.sentRecords[0].totalSize, 0);

    fillSendDir();
    host.answers = {kAnswerCancel};
    injectFileFault(kFileErrNotReady, 1);
    EXPECT_EQ(stageTransmitFiles(commInfoList[0], EnvSettings.sendDir, "LOD").dir, "");
    EXPECT_EQ(host.shown.size(), 1u);
    expectTempDirEmpty();
}

TEST_F(TransmitTest, TotalsSaturateInsteadOfWrapping) {
    const std::string big = makeDir("big");
    for (const char* name : {"/A.BIN", "/B.BIN"}) {
        writeBytes(big + name, "");
        std::filesystem::resize_file(big + name, std::uintmax_t{1} << 30);  // sparse
    }
    writeBytes(big + "/C.BIN", "1");
    const TransmitTotals t = countTransmitFiles(commInfoList[0], big);
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
