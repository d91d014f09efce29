// The file stream: names from the line are untrusted, files are stored
// under their final name only when complete and checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "codec.h"
#include "stream.h"
#include "tempdir.h"
#include "tervolk.h"

using namespace tvk;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

// Chunks of one file as a sender would produce them, with room for lies.
std::vector<uint8_t> fileChunks(const std::string& name, uint64_t announced, const std::string& data,
                                uint32_t crc) {
    std::vector<uint8_t> p{kChunkFile};
    putVarint(p, name.size());
    p.insert(p.end(), name.begin(), name.end());
    putVarint(p, announced);
    if (!data.empty()) {
        p.push_back(kChunkData);
        putVarint(p, data.size());
        p.insert(p.end(), data.begin(), data.end());
    }
    p.push_back(kChunkEof);
    putLe(p, crc, 4);
    return p;
}

uint32_t crcOf(const std::string& s) { return crc32c(s.data(), s.size()); }

size_t entriesIn(const fs::path& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(Names, OnlyPlainFileNamesAreAccepted) {
    struct Case {
        std::string name;
        bool ok;
    } cases[] = {
        {"DATA.TXT", true},      {"a", true},           {"name with space.dat", true},
        {"\xE9t\xE9.txt", true}, {std::string(255, 'x'), true},
        {"", false},             {".", false},          {"..", false},
        {"../evil", false},      {"a/b", false},        {"/etc/passwd", false},
        {"..\\evil", false},     {"C:evil", false},     {"c:\\x", false},
        {"bad\nname", false},    {std::string("nul\0x", 5), false},
        {"del\x7F", false},      {std::string(256, 'x'), false},
        {".tvk-part-0123", false},
    };
    for (const auto& c : cases) EXPECT_EQ(acceptableName(c.name), c.ok) << c.name;
}

TEST(BatchWriter, StoresOnlyIntactFilesAndKeepsGoodOnes) {
    struct Case {
        const char* what;
        uint64_t announced;
        std::string data;
        bool goodCrc;
        bool stored;
        uint32_t bits;
    } cases[] = {
        {"intact", 5, "hello", true, true, 0},
        {"empty", 0, "", true, true, 0},
        {"wrong checksum", 5, "hello", false, false, TVK_ES_TRANSFER},
        {"shorter than announced", 9, "hello", true, false, TVK_ES_TRANSFER},
        {"longer than announced", 3, "hello", true, false, TVK_ES_TRANSFER | TVK_ES_PROTOCOL},
    };
    for (const auto& c : cases) {
        quendril::test::ScopedWorkDir wd;
        writeFile("keep.bin", "GOOD");
        BatchWriter w(".", nullptr);
        auto chunks = fileChunks("keep.bin", c.announced, c.data, c.goodCrc ? crcOf(c.data) : crcOf(c.data) ^ 1);
        chunks.push_back(kChunkEnd);
        w.consume(chunks.data(), chunks.size());
        EXPECT_TRUE(w.ended()) << c.what;
        EXPECT_EQ(w.status(), c.bits) << c.what;
        EXPECT_EQ(readAll("keep.bin"), c.stored ? c.data : "GOOD") << c.what;
        EXPECT_EQ(entriesIn("."), 1u) << c.what << ": no temporary file is left";
    }
}

TEST(BatchWriter, HostileNameFailsThatFileOnlyAndWritesNothingOutside) {
    quendril::test::ScopedWorkDir wd;
    fs::create_directory("in");
    BatchWriter w("in", nullptr);
    auto chunks = fileChunks("../evil", 4, "EVIL", crcOf("EVIL"));
    auto good = fileChunks("fine.txt", 2, "ok", crcOf("ok"));
    chunks.insert(chunks.end(), good.begin(), good.end());
    chunks.push_back(kChunkEnd);
    w.consume(chunks.data(), chunks.size());
    EXPECT_EQ(w.status(), uint32_t(TVK_ES_FILEOPEN));
    EXPECT_EQ(w.filesFailed(), 1u);
    EXPECT_EQ(w.filesStored(), 1u);
    EXPECT_FALSE(fs::exists("evil"));
    EXPECT_EQ(readAll("in/fine.txt"), "ok");
    EXPECT_EQ(entriesIn("in"), 1u);
}

TEST(BatchWriter, GarbageChunksAndAnInterruptedFileLeaveNothing) {
    quendril::test::ScopedWorkDir wd;
    {
        BatchWriter w(".", nullptr);
        std::vector<uint8_t> start{kChunkFile, 3, 'a', 'b', 'c', 100, kChunkData, 2, 'x', 'y'};
        w.consume(start.data(), start.size());
        std::vector<uint8_t> garbage{0x77, 1, 2, 3, kChunkData, 0xFF};
        w.consume(garbage.data(), garbage.size());
        EXPECT_TRUE(w.status() & TVK_ES_PROTOCOL);
    }
    {
        BatchWriter w(".", nullptr);
        std::vector<uint8_t> emptyRest{kChunkFile, 1, 'r', 4, kChunkRest};
        w.consume(emptyRest.data(), emptyRest.size());
        EXPECT_TRUE(w.status() & TVK_ES_PROTOCOL) << "data to the end of the frame, but none";
    }
    {
        BatchWriter w(".", nullptr);
        std::vector<uint8_t> start{kChunkFile, 3, 'd', 'e', 'f', 10, kChunkData, 2, 'x', 'y'};
        w.consume(start.data(), start.size());
    }  // the job ends before the file does
    EXPECT_EQ(entriesIn("."), 0u);
}

TEST(BatchReader, ChunksFitTheFrameAndRoundTripThroughTheWriter) {
    quendril::test::ScopedWorkDir wd;
    fs::create_directory("src");
    fs::create_directory("dst");
    writeFile("src/.hidden", "not sent");
    fs::create_directory("src/subdir");
    std::string big(10000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 31);
    writeFile("src/big.bin", big);
    writeFile("src/empty", "");
    writeFile("src/s.txt", "small");
    bool ok = false;
    auto files = listSendFiles("src", ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(files.size(), 3u);
    BatchReader r(files, nullptr);
    BatchWriter w("dst", nullptr);
    size_t frames = 0;
    while (!r.exhausted()) {
        std::vector<uint8_t> payload;
        r.fill(payload, 300);
        ASSERT_LE(payload.size(), 300u);
        ASSERT_FALSE(payload.empty());
        w.consume(payload.data(), payload.size());
        ++frames;
    }
    EXPECT_TRUE(w.ended());
    EXPECT_EQ(w.status(), 0u);
    EXPECT_EQ(w.filesStored(), 3u);
    EXPECT_EQ(readAll("dst/big.bin"), big);
    EXPECT_EQ(readAll("dst/s.txt"), "small");
    EXPECT_TRUE(fs::exists("dst/empty"));
    EXPECT_GE(frames, 10000u / 300u);
    bool missing = true;
    listSendFiles("nowhere", missing);
    EXPECT_FALSE(missing);
}

// Part files of a writer that died are removed when the next receive starts
// in their directory; a living writer's part file and links stay.
TEST(BatchWriter, RemovesOnlyThePartFilesNoLivingWriterHolds) {
    quendril::test::ScopedWorkDir wd;
    fs::create_directory("in");
    writeFile("target", "TARGET");
    BatchWriter living("in", nullptr);
    std::vector<uint8_t> start{kChunkFile, 4, 'l', 'i', 'v', 'e', 5, kChunkData, 2, 'a', 'b'};
    living.consume(start.data(), start.size());
    writeFile("in/.tvk-part-00000000deadbeef", "left by a killed writer");
    fs::create_symlink("../target", "in/.tvk-part-link");
    {
        BatchWriter next("in", nullptr);
    }
    EXPECT_FALSE(fs::exists("in/.tvk-part-00000000deadbeef"));
    EXPECT_TRUE(fs::is_symlink("in/.tvk-part-link"));
    EXPECT_EQ(readAll("target"), "TARGET");
    std::vector<uint8_t> rest{kChunkData, 3, 'c', 'd', 'e', kChunkEof};
    putLe(rest, crcOf("abcde"), 4);
    rest.push_back(kChunkEnd);
    living.consume(rest.data(), rest.size());
    EXPECT_EQ(living.status(), 0u);
    EXPECT_EQ(readAll("in/live"), "abcde");
    EXPECT_EQ(entriesIn("in"), 2u) << "the file and the link";
}
