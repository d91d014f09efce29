#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "commfixture.h"

namespace quendril::test {
namespace {

using LookupTest = CommTest;

TEST_F(LookupTest, FindHtIndexExactThenWildcardThenNone) {
    struct Case {
        std::vector<std::string> table;
        std::string id;
        int16_t index;
    };
    const std::vector<Case> cases = {
        {{"HT0001", "&&&&&&", "HT0002"}, "HT0002", 2},
        {{"HT0001", "&&&&&&", "HT0002"}, "HT0009", 1},
        {{"HT0001", "HT0002"}, "HT0009", 2},
        {{"HT0001", "HT0002"}, "ht0001", 2},
        {{"HT0001 "}, "HT0001", 1},
        {{}, "HT0001", 0},
    };
    for (const Case& c : cases) {
        htIdCount = 0;
        for (const std::string& id : c.table) addEntry(id);
        EXPECT_EQ(findHtIndex(c.id), c.index) << c.id;
    }
}

TEST_F(LookupTest, JobDirectoryByKindEntryAndFallback) {
    addEntry("HT0001", "/own/recv", "/own/send", "LOD");
    addEntry("HT0002", "", "", "   ");
    EnvSettings.recvDir = "/g/recv";
    EnvSettings.sendDir = "/g/send";
    EnvSettings.apDir = "/g/ap";
    struct Case {
        int32_t transDir;
        int32_t transType;
        int16_t htIndex;
        std::string dir;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, "/own/recv"},   {0, 15, 0, "/own/recv"}, {0, 0, 1, "/g/recv"},
        {1, 3, 0, "/own/send"},   {1, 3, 1, "/g/send"},    {1, 15, 0, "/g/ap"},
        {0, 0, 2, "/g/recv"},     {1, 3, 2, "/g/send"},
    };
    for (const Case& c : cases) {
        const CommInfo info = makeRecord("HT0001", c.transDir, c.transType);
        EXPECT_EQ(getJobDirectory(info, c.htIndex), c.dir)
            << c.transDir << "/" << c.transType << " entry " << c.htIndex;
    }
}

class ReceiveTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        commInfoList = {makeRecord("HT0001", 0)};
    }
    // The library stores files into the directory it was handed.
    void libraryStores(std::vector<std::pair<std::string, std::string>> files) {
        fake.onTransfer = [files](const std::string& dir, CommInfo&) {
            for (const auto& [name, content] : files) writeBytes(dir + "/" + name, content);
        };
    }
};

TEST_F(ReceiveTest, NormalModeHandsTheDirectoryOverAndMapsResults) {
    struct Case {
        int16_t result;
        bool cancel;
        int16_t outcome;
    };
    for (const Case& c : {Case{0, false, kOutcomeDone}, Case{-1, false, kOutcomeFailed},
                          Case{-9, false, kOutcomeFailed}, Case{TVK_ESTOPPED, false, kOutcomeStop},
                          Case{0, true, kOutcomeStop}}) {
        stopRequested = false;
        fake.transferTexts.clear();
        fake.jobResults = {c.result};
        libraryStores({{"data.txt", "abc"}});
        if (c.cancel) fake.onTransfer = [](const std::string&, CommInfo&) { stopRequested = true; };
        EXPECT_EQ(receiveFile(0), c.outcome) << c.result;
        EXPECT_EQ(fake.transferTexts, std::vector<std::string>{EnvSettings.recvDir});
    }
    EXPECT_EQ(entriesIn(EnvSettings.recvDir), std::vector<std::string>{"data.txt"}) << "no upper-casing";
    EXPECT_TRUE(entriesIn(tempDir).empty());
}

TEST_F(ReceiveTest, TerminalsOwnOrWildcardDirectoryIsUsed) {
    const std::string own = makeDir("own");
    const std::string any = makeDir("any");
    addEntry("HT0001", own);
    addEntry("&&&&&&", any);
    commInfoList = {makeRecord("HT0001", 0), makeRecord("HT0099", 0)};
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(receiveFile(1), kOutcomeDone);
    EXPECT_EQ(fake.transferTexts, (std::vector<std::string>{own, any}));
}

TEST_F(ReceiveTest, AppendModeAppendsToTheExistingNamesakeAndDeletesTheCopy) {
    EnvSettings.appendMode = true;
    const std::string old = bytes(10, 'a');
    const std::string received = bytes(1000, 'K');
    writeBytes(EnvSettings.recvDir + "/DATA.TXT", old);
    libraryStores({{"data.txt", received}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    ASSERT_EQ(fake.transferTexts.size(), 1u);
    EXPECT_EQ(fake.transferTexts[0].rfind(tempDir + "/", 0), 0u) << "received inside tempDir";
    EXPECT_NE(fake.transferTexts[0], tempDir) << "into a directory of its own";
    EXPECT_EQ(entriesIn(EnvSettings.recvDir), std::vector<std::string>{"DATA.TXT"});
    EXPECT_EQ(readBytes(EnvSettings.recvDir + "/DATA.TXT"), old + received);
    EXPECT_TRUE(entriesIn(tempDir).empty()) << "the copy and its job directory are gone";
}

TEST_F(ReceiveTest, AppendModeMatchesAnExistingNameInAnyCaseOrCreatesUpperCase) {
    EnvSettings.appendMode = true;
    writeBytes(EnvSettings.recvDir + "/Data.txt", "12345");
    const std::string exact = bytes(1024, '0');
    libraryStores({{"DATA.TXT", "678"}, {"new.bin", exact}, {"empty", ""}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(entriesIn(EnvSettings.recvDir), (std::vector<std::string>{"Data.txt", "EMPTY", "NEW.BIN"}));
    EXPECT_EQ(readBytes(EnvSettings.recvDir + "/Data.txt"), "12345678");
    EXPECT_EQ(readBytes(EnvSettings.recvDir + "/NEW.BIN"), exact);
    EXPECT_EQ(std::filesystem::file_size(EnvSettings.recvDir + "/EMPTY"), 0u);
}

TEST_F(ReceiveTest, AppendModeKeepsWhatAFailedOrStoppedJobLeftAndNeverAppendsItLater) {
    EnvSettings.appendMode = true;
    for (const int16_t result : {int16_t{-1}, int16_t{TVK_ESTOPPED}}) {
        fake.jobResults = {result};
        libraryStores({{"part.dat", "half"}});
        EXPECT_NE(receiveFile(0), kOutcomeDone);
    }
    EXPECT_TRUE(entriesIn(EnvSettings.recvDir).empty()) << "nothing appended";
    const std::vector<std::string> kept = entriesIn(tempDir);
    ASSERT_EQ(kept.size(), 2u) << "each job's leftovers in a directory of their own";
    for (const std::string& d : kept) EXPECT_EQ(readBytes(tempDir + "/" + d + "/part.dat"), "half");

    libraryStores({{"good.dat", "whole"}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(entriesIn(EnvSettings.recvDir), std::vector<std::string>{"GOOD.DAT"});
    EXPECT_EQ(entriesIn(tempDir), kept) << "a later job leaves them alone";
}

TEST_F(ReceiveTest, AppendModeMakesTheTemporaryDirectoryAgainWhenItWasRemoved) {
    EnvSettings.appendMode = true;
    std::filesystem::remove_all(tempDir);
    libraryStores({{"a.txt", "abc"}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(readBytes(EnvSettings.recvDir + "/A.TXT"), "abc");
    EXPECT_TRUE(entriesIn(tempDir).empty());
}

TEST_F(ReceiveTest, AppendIntoTheTemporaryDirectoryItselfNeverAppendsAFileToItself) {
    EnvSettings.appendMode = true;
    EnvSettings.recvDir = tempDir;
    writeBytes(tempDir + "/LOG.TXT", "old");
    libraryStores({{"log.txt", "new"}});
    EXPECT_EQ(receiveFile(0), kOutcomeDone);
    EXPECT_EQ(entriesIn(tempDir), std::vector<std::string>{"LOG.TXT"});
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");

    appendReceivedFiles(tempDir, tempDir);
    appendReceivedFiles(tempDir + "/", tempDir);
    EXPECT_EQ(readBytes(tempDir + "/LOG.TXT"), "oldnew");
}

TEST_F(ReceiveTest, AppendCopiesLargeFilesIntact) {
    const std::string src = makeDir("src");
    const std::string big = bytes(3 * 512 + 7, 'x') + std::string(100000, '\0') + bytes(511, 'y');
    writeBytes(src + "/big.bin", big);
    appendReceivedFiles(EnvSettings.recvDir, src);
    EXPECT_EQ(readBytes(EnvSettings.recvDir + "/BIG.BIN"), big);
    EXPECT_TRUE(entriesIn(src).empty());
}

// A socket file cannot be opened as a file: the open fails as a device that
// is not ready, which offers Retry and Cancel.
void makeSocketFile(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
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

TEST_F(ReceiveTest, FailedAppendIsReportedAndKeepsTheReceivedFile) {
    struct Case {
        int16_t answer;
        bool appended;
    };
    for (const Case& c : {Case{kAnswerRetry, true}, Case{kAnswerCancel, false}}) {
        const std::string src = makeDir("src");
        const std::string dest = makeDir("dest");
        makeSocketFile(dest + "/A.TXT");
        writeBytes(src + "/a.txt", "2");
        writeBytes(src + "/b.txt", "3");
        ActingHost acting;
        acting.answers = {c.answer};
        // Before the retry the destination becomes a file again.
        acting.atFirstBox = [&] {
            std::filesystem::remove(dest + "/A.TXT");
            writeBytes(dest + "/A.TXT", "1");
        };
        appendReceivedFiles(dest, src);
        ASSERT_EQ(acting.shown.size(), 1u);
        EXPECT_EQ(acting.shown[0].buttons, BoxButtons::RetryCancel);
        EXPECT_NE(acting.shown[0].text.find(dest + "/A.TXT"), std::string::npos) << acting.shown[0].text;
        EXPECT_EQ(readBytes(dest + "/A.TXT"), c.appended ? "12" : "1");
        EXPECT_EQ(entriesIn(src), c.appended ? std::vector<std::string>{} : std::vector<std::string>{"a.txt"});
        EXPECT_EQ(readBytes(dest + "/B.TXT"), "3") << "the next file is still appended";
        std::filesystem::remove_all(src);
        std::filesystem::remove_all(dest);
    }
}

TEST_F(ReceiveTest, DiskFullWhileAppendingKeepsTheReceivedFile) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no full device to write to";
    const std::string src = makeDir("src");
    const std::string dest = makeDir("dest");
    std::filesystem::create_symlink("/dev/full", dest + "/DATA.TXT");
    writeBytes(src + "/data.txt", bytes(2000, 'q'));
    EXPECT_THROW(appendReceivedFiles(dest, src), ProgramEnded);
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].text.rfind(fileErrMessage(kFileErrDiskFull, ""), 0), 0u) << host.shown[0].text;
    EXPECT_EQ(readBytes(src + "/data.txt"), bytes(2000, 'q')) << "kept whole";
}

}  // namespace
}  // namespace quendril::test
