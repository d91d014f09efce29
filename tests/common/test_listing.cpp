#include "fixture.h"
#include "messages.h"

namespace quendril {
namespace {

using test::ProgramEnded;
using test::readBytes;
using test::writeBytes;

class Listing : public test::FileTest {
protected:
    void SetUp() override {
        FileTest::SetUp();
        for (const char* name : {"b.txt", "A.LOD", "noext", ".hidden", "c.dat"}) writeBytes(name, "x");
        std::filesystem::create_directory("sub");
        std::filesystem::create_directory(".hid");
    }

    std::vector<std::string> listAll(const std::string& pattern, int mask) {
        std::vector<std::string> names;
        for (std::string n = dirFirst(pattern, mask); !n.empty(); n = dirNext()) names.push_back(n);
        return names;
    }
};

TEST_F(Listing, PatternsAndMasks) {
    using Names = std::vector<std::string>;
    const std::string d = dir.str() + "/";
    const std::vector<std::tuple<std::string, int, Names>> cases = {
        {d + "*.*", 0, {"A.LOD", "b.txt", "c.dat", "noext"}},
        {"*.*", 0, {"A.LOD", "b.txt", "c.dat", "noext"}},
        {d + "*", 0, {"A.LOD", "b.txt", "c.dat", "noext"}},
        {d + "*.*", 16, {"A.LOD", "b.txt", "c.dat", "noext", "sub"}},
        {d, 16, {".", "A.LOD", "b.txt", "c.dat", "noext", "sub"}},
        {d, 0, {"A.LOD", "b.txt", "c.dat", "noext"}},
        {d + "*.lod", 0, {"A.LOD"}},
        {d + "?.txt", 0, {"b.txt"}},
        {d + "noext.*", 0, {"noext"}},
        {d + "*.", 0, {}},
        {d + "b.txt", 0, {"b.txt"}},
        {d + "B.TXT", 0, {}},
        {d + "sub", 0, {}},
        {d + "sub", 16, {"sub"}},
        {d + ".hidden", 0, {}},
        {d + "missing/*.*", 16, {}},
        {d + "missing", 16, {}},
        {d + "b.txt/x", 0, {}},
        {"", 16, {}},
    };
    for (const auto& [pattern, mask, names] : cases) {
        EXPECT_EQ(listAll(pattern, mask), names) << pattern << " mask " << mask;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, DirNextAfterLastGivesEmptyWithoutBox) {
    EXPECT_EQ(dirFirst("*.dat", 0), "c.dat");
    EXPECT_EQ(dirNext(), "");
    EXPECT_EQ(dirNext(), "");
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, NewListingEndsThePreviousOne) {
    EXPECT_EQ(dirFirst("*.*", 0), "A.LOD");
    EXPECT_EQ(dirFirst("*.dat", 0), "c.dat");
    EXPECT_EQ(dirNext(), "");
}

TEST_F(Listing, ExistenceTestsLeaveTheListingAlone) {
    EXPECT_EQ(dirFirst("*.*", 0), "A.LOD");
    EXPECT_TRUE(existFile("c.dat"));
    EXPECT_TRUE(existDir("sub"));
    EXPECT_EQ(dirNext(), "b.txt");
}

TEST_F(Listing, DirFirstFailureRule) {
    injectFileFault(71);
    host.answers = {kAnswerRetry};
    EXPECT_EQ(dirFirst("*.dat", 0), "c.dat");
    EXPECT_EQ(host.shown.back().text, "No disc\r*.dat");

    injectFileFault(71);
    host.answers = {kAnswerCancel};
    EXPECT_EQ(dirFirst("*.dat", 0), "");
    EXPECT_EQ(dirNext(), "");

    injectFileFault(70);
    EXPECT_THROW(dirFirst("*.dat", 0), ProgramEnded);
}

TEST_F(Listing, DirNextFailureNamesNextEntryWithoutLosingIt) {
    EXPECT_EQ(dirFirst("*.*", 0), "A.LOD");
    injectFileFault(57);
    host.answers = {kAnswerCancel};
    EXPECT_EQ(dirNext(), "");
    EXPECT_EQ(host.shown.back().text, "Device I/O error\rb.txt");
    EXPECT_EQ(dirNext(), "b.txt");
    injectFileFault(57);
    host.answers = {kAnswerRetry};
    EXPECT_EQ(dirNext(), "c.dat");
}

TEST_F(Listing, ExistDirAndExistFile) {
    const std::vector<std::tuple<std::string, bool, bool>> cases = {
        // path, existDir, existFile
        {"sub", true, false},
        {"b.txt", true, true},
        {dir.str(), true, false},
        {dir.str() + "/", true, true},
        {"missing", false, false},
        {"missing/deeper", false, false},
        {".hidden", false, false},
        {"", false, false},
    };
    for (const auto& [path, isDir, isFile] : cases) {
        EXPECT_EQ(existDir(path), isDir) << path;
        EXPECT_EQ(existFile(path), isFile) << path;
    }
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(Listing, ExistFileNotReadyRetryThenCancel) {
    injectFileFault(71);
    host.answers = {kAnswerRetry};
    EXPECT_TRUE(existFile("b.txt"));
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].text, "No disc\rb.txt");
    EXPECT_EQ(host.shown[0].buttons, BoxButtons::RetryCancel);

    injectFileFault(71, 3);
    host.answers = {kAnswerRetry, kAnswerRetry, kAnswerCancel};
    EXPECT_FALSE(existFile("b.txt"));
    EXPECT_EQ(host.shown.size(), 4u);

    injectFileFault(53);
    EXPECT_THROW(existFile("b.txt"), ProgramEnded);
}

TEST_F(Listing, ExistDirOkGivesFalseAndGoesOn) {
    injectFileFault(70);
    EXPECT_FALSE(existDir("sub"));
    EXPECT_EQ(host.shown.back().text, "Protected\rsub");
    EXPECT_EQ(host.endCount, 0);

    injectFileFault(68);
    host.answers = {kAnswerRetry};
    EXPECT_TRUE(existDir("sub"));
}

}  // namespace
}  // namespace quendril
