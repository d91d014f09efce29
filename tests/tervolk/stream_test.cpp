// The file stream: names from the line are untrusted, files are stored
// under their final name only when complete and checked.
#include <gtest/gtest.h>
#include "codec.h"
#include "filebytes.h"
#include "stream.h"
#include "tempdir.h"
#include "tervolk.h"
#include "transfer.h"

using namespace tvk;
using namespace quendril::test;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
namespace {
uint32_t crcOf(const std::string& s) { return crc32c(s.data(), s.size()); }

// One file's chunks as a sender would produce them, with room for lies.
Bytes fileChunks(const std::string& name, uint64_t announced, const std::string& data, uint32_t crc) {
    Bytes p{kChunkFile};
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

void feed(BatchWriter& w, Bytes b) { w.consume(b.data(), b.size()); }

size_t entriesIn(const fs::path& dir) { return size_t(std::distance(fs::directory_iterator(dir), {})); }
}  // namespace

TEST(Stream, WriterStoresOnlyIntactFilesAndLeavesNoTemporaryFile) {
    // What, announced size, data, a wrong checksum, the status bits; stored when none.
    const std::tuple<const char*, uint64_t, std::string, bool, uint32_t> cases[] = {{"intact", 5, "hello", false, 0},
        {"empty", 0, "", false, 0}, {"wrong checksum", 5, "hello", true, TVK_ES_TRANSFER},
        {"shorter than announced", 9, "hello", false, TVK_ES_TRANSFER},
        {"longer than announced", 3, "hello", false, TVK_ES_TRANSFER | TVK_ES_PROTOCOL}};
    for (const auto& [what, announced, data, badCrc, bits] : cases) {
        SCOPED_TRACE(what);
        ScopedWorkDir wd;
        writeBytes("keep.bin", "GOOD");
        BatchWriter w(".", nullptr);
        auto chunks = fileChunks("keep.bin", announced, data, crcOf(data) ^ badCrc);
        chunks.push_back(kChunkEnd);
        feed(w, chunks);
        EXPECT_TRUE(w.ended());
        EXPECT_EQ(w.status(), bits);
        EXPECT_EQ(readBytes("keep.bin"), bits ? "GOOD" : data);
        EXPECT_EQ(entriesIn("."), 1u);
    }
}

TEST(Stream, HostileNamesGarbageAndInterruptedFilesLeaveNothingWrong) {
    ScopedWorkDir wd;
    fs::create_directory("in");
    BatchWriter w("in", nullptr);
    auto chunks = fileChunks("../evil", 4, "EVIL", crcOf("EVIL"));
    auto longName = fileChunks(std::string(kMaxNameLen + 1, 'x'), 4, "LONG", crcOf("LONG"));
    chunks.insert(chunks.end(), longName.begin(), longName.end());
    auto good = fileChunks("fine.txt", 2, "ok", crcOf("ok"));
    chunks.insert(chunks.end(), good.begin(), good.end());
    chunks.push_back(kChunkEnd);
    feed(w, chunks);
    EXPECT_EQ(w.status(), uint32_t(TVK_ES_FILEOPEN));
    EXPECT_EQ(w.filesFailed(), 2u);
    EXPECT_EQ(w.filesStored(), 1u);
    EXPECT_FALSE(fs::exists("evil"));
    EXPECT_EQ(readBytes("in/fine.txt"), "ok");
    EXPECT_EQ(entriesIn("in"), 1u);
    fs::remove("in/fine.txt");
    {
        BatchWriter g("in", nullptr);
        feed(g, {kChunkFile, 3, 'a', 'b', 'c', 100, kChunkData, 2, 'x', 'y'});
        feed(g, {0x77, 1, 2, 3, kChunkData, 0xFF});
        EXPECT_TRUE(g.status() & TVK_ES_PROTOCOL);
        BatchWriter rest("in", nullptr);
        feed(rest, {kChunkFile, 1, 'r', 4, kChunkRest});
        EXPECT_TRUE(rest.status() & TVK_ES_PROTOCOL) << "data to the end of the frame, but none";
        BatchWriter cut("in", nullptr);
        feed(cut, {kChunkFile, 3, 'd', 'e', 'f', 10, kChunkData, 2, 'x', 'y'});
    }  // the job ends before the files do
    EXPECT_EQ(entriesIn("in"), 0u);
    fs::create_directories("in/subdir");
    writeBytes("in/.hidden", "not sent");
    writeBytes("in/sent", "");
    bool ok = false;
    auto files = listSendFiles("in", ok);
    EXPECT_TRUE(ok && files.size() == 1 && files[0].name == "sent");
    listSendFiles("nowhere", ok);
    EXPECT_FALSE(ok);
}

// Part files of a writer that died go when the next receive starts in their
// directory; a living writer's part file and links stay.
TEST(Stream, RemovesOnlyThePartFilesNoLivingWriterHolds) {
    ScopedWorkDir wd;
    fs::create_directory("in");
    writeBytes("target", "TARGET");
    BatchWriter living("in", nullptr);
    feed(living, {kChunkFile, 4, 'l', 'i', 'v', 'e', 5, kChunkData, 2, 'a', 'b'});
    writeBytes("in/.tvk-part-00000000deadbeef", "left by a killed writer");
    fs::create_symlink("../target", "in/.tvk-part-link");
    BatchWriter{"in", nullptr};  // the next receive in the directory
    EXPECT_FALSE(fs::exists("in/.tvk-part-00000000deadbeef"));
    EXPECT_TRUE(fs::is_symlink("in/.tvk-part-link"));
    EXPECT_EQ(readBytes("target"), "TARGET");
    Bytes rest{kChunkData, 3, 'c', 'd', 'e', kChunkEof};
    putLe(rest, crcOf("abcde"), 4);
    rest.push_back(kChunkEnd);
    feed(living, rest);
    EXPECT_EQ(living.status(), 0u);
    EXPECT_EQ(readBytes("in/live"), "abcde");
    EXPECT_EQ(entriesIn("in"), 2u) << "the file and the link";
}

// A peer sending pieces that never complete a frame: the receiver holds one
// frame per window slot at most, and a frame whose pieces fit still arrives.
TEST(Stream, PiecesThatNeverCompleteAFrameStayBounded) {
    ScopedWorkDir wd;
    BatchWriter writer(".", nullptr);
    auto piece = [](uint16_t seq, uint8_t index, uint8_t count, size_t len) {
        Bytes p(len + 2, 0x55);
        p[0] = index, p[1] = count;
        return Frame{1, FrameType::Frag, false, false, seq, p};
    };
    WindowReceiver flooded(writer), again(writer);
    for (uint16_t seq = 0; seq < kWindowMax; ++seq)
        for (uint8_t i = 0; i < 254; ++i) flooded.onFrag(piece(seq, i, 255, kMaxPayload - 2));
    EXPECT_LE(flooded.pieceBytes(), kWindowMax * kMaxPayload);
    EXPECT_EQ(flooded.ack().cum, 0u) << "no frame may count as whole";
    for (int n = 0; n < 100; ++n) again.onFrag(piece(0, 0, 2, 1000));
    EXPECT_EQ(again.pieceBytes(), 1000u) << "a piece sent again replaces the earlier copy";
    again.onFrag(piece(0, 1, 2, 0));
    EXPECT_EQ(std::pair(again.pieceBytes(), unsigned(again.ack().cum)), std::pair(size_t(0), 1u));
}

// A compressed stream: files of every kind arrive intact through frames of
// any size; damage to it, or a block longer than allowed, stores nothing
// wrong and fails the job.
TEST(Stream, PackedStreamArrivesIntactAndDamageStoresNothingWrong) {
    ScopedWorkDir wd;
    fs::create_directories("src");
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "2026-12-07;HT0001;" + std::to_string(i % 97) + ";milk 1l;0.99\n";
    writeBytes("src/sales.csv", text);
    writeBytes("src/noise.bin", content(30000, 3));
    writeBytes("src/empty", "");
    bool ok = false;
    const auto files = listSendFiles("src", ok);
    // Frame size, a byte of the third frame damaged, a name longer than a block.
    const std::tuple<size_t, bool, bool> cases[] = {{64, false, false}, {4096, false, false}, {1000, true, false},
                                                    {4096, false, true}};
    for (const auto& [frame, damage, longName] : cases) {
        SCOPED_TRACE(std::to_string(frame) + (damage ? " damaged" : "") + (longName ? " long name" : ""));
        fs::remove_all("dst");
        fs::create_directories("dst");
        auto sent = files;
        if (longName) sent.insert(sent.begin(), {sent[0].path, std::string(kPackBlock + 1, 'n'), sent[0].size});
        BatchReader reader(sent, nullptr);
        reader.pack();
        BatchWriter writer("dst", nullptr);
        size_t line = 0;
        for (int n = 0; !reader.exhausted(); ++n) {
            Bytes payload;
            reader.fill(payload, frame);
            ASSERT_TRUE(!payload.empty() && payload.size() <= frame);
            if (damage && n == 2) payload[payload.size() / 2] ^= 0x10;
            line += payload.size();
            writer.consume(payload.data(), payload.size());
        }
        const bool intact = !damage && !longName;
        EXPECT_EQ(writer.ended() && !writer.failed(), intact) << writer.status();
        if (intact) {
            EXPECT_LT(line, text.size() / 4 + 31000) << "the text shrinks, the noise does not grow";
        }
        for (const auto& e : fs::directory_iterator("dst"))
            EXPECT_EQ(readBytes(e.path()), readBytes("src" / e.path().filename()));
        EXPECT_EQ(entriesIn("dst"), intact ? 3u : entriesIn("dst")) << "all files, or some intact ones";
    }
}
