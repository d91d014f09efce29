// The C box (tvkbox) against the PC's master: frame by frame without a
// line, and whole jobs over an in-process line with seeded faults. Built
// twice: with the box's features, and as the smallest box.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "boxrig.h"
#include "filebytes.h"
#include "master.h"
#include "memline.h"
#include "tempdir.h"
#include "tervolk.h"
#include "transfer.h"

using namespace tvk;
using namespace quendril::test;
namespace fs = std::filesystem;

namespace {

Frame masterFrame(FrameType type, std::vector<uint8_t> payload = {}, uint16_t seq = 0, uint8_t addr = 1) {
    Frame f;
    f.addr = addr;
    f.type = type;
    f.pf = true;
    f.seq = seq;
    f.payload = std::move(payload);
    return f;
}

std::vector<uint8_t> start(uint8_t dir, bool v2 = true, uint8_t type = 3) {
    return encodeStart({dir, type, 0, 0, uint8_t(v2 ? 2 : 1), uint8_t(v2 ? kAllFeatures : 0)});
}

}  // namespace

// One frame in, the box's answer out: what each request brings, and what
// it ignores or refuses.
TEST(Box, AnswersEachRequestAsTheProtocolSays) {
    ScopedWorkDir wd;
    fs::create_directories("dst");
    fs::create_directories("src");
    const std::vector<uint8_t> v2{2};
    struct Case {
        const char* what;
        std::vector<Frame> before;  // their answers are not looked at
        Frame request;
        std::vector<FrameType> answers;
        std::vector<uint8_t> payload;  // of the first answer (of a DATA answer, its start), when checked
        int ended = 0;                 // jobs the terminal hears ended
        bool versionOne = false;
    };
    Frame echo = masterFrame(FrameType::Poll);
    echo.fromBox = true;
    const Case cases[] = {
        {"poll", {}, masterFrame(FrameType::Poll, {}, 7), {FrameType::Idle}, {}},
        {"another box's poll", {}, masterFrame(FrameType::Poll, {}, 7, 2), {}, {}},
        {"an echo of a box's frame", {}, echo, {}, {}},
        {"start of a send job", {}, masterFrame(FrameType::Start, start(1)), {FrameType::Ready}, {}},
        {"version-1 start", {}, masterFrame(FrameType::Start, start(1, false)), {FrameType::Ready}, {}},
        {"start of 15 bytes", {}, masterFrame(FrameType::Start, std::vector<uint8_t>(15)), {FrameType::Reject}, v2},
        {"start, direction 2", {}, masterFrame(FrameType::Start, {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         {FrameType::Reject}, v2},
        {"version-2 start to a version-1 box", {}, masterFrame(FrameType::Start, start(1)), {FrameType::Reject}, {},
         0, true},
        {"RR without a job", {}, masterFrame(FrameType::Rr, encodeAck({}, true)), {FrameType::Reject}, v2},
        {"ACKREQ without a job", {}, masterFrame(FrameType::AckReq), {FrameType::Reject}, v2},
        {"DATA with P without a job", {}, masterFrame(FrameType::Data, {4}), {FrameType::Reject}, v2},
        {"DATA without P", {}, [] { auto f = masterFrame(FrameType::Data, {4}); return f.pf = false, f; }(), {}, {}},
        {"ACKREQ in a receive", {masterFrame(FrameType::Start, start(1))}, masterFrame(FrameType::AckReq, {}, 9),
         {FrameType::Ack}, encodeAck({}, true)},
        {"the stream's END", {masterFrame(FrameType::Start, start(1))}, masterFrame(FrameType::Data, {4}),
         {FrameType::Ack}, encodeAck({1, {}, 1, 0}, true), 1},
        {"a malformed chunk", {masterFrame(FrameType::Start, start(1, false))}, masterFrame(FrameType::Data, {9}),
         {FrameType::Ack}, encodeAck({1, {}, 2, 0}, false)},
        {"release", {masterFrame(FrameType::Start, start(1))}, masterFrame(FrameType::Disc), {FrameType::Ua}, {}, 1},
        {"abort", {masterFrame(FrameType::Start, start(0))}, masterFrame(FrameType::Abort), {}, {}, 1},
        {"a poll in a job", {masterFrame(FrameType::Start, start(0))}, masterFrame(FrameType::Poll),
         {FrameType::Idle}, {}, 1},
        {"an empty send", {}, masterFrame(FrameType::Start, start(0)), {FrameType::Data},
         TVKBOX_PACK ? std::vector<uint8_t>{kChunkPacked, kPackZstd} : std::vector<uint8_t>{kChunkEnd}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Box b({.versionOne = c.versionOne});
        for (const Frame& f : c.before) b.answer(f, nowMs());
        const auto got = b.answer(c.request, nowMs());
        std::vector<FrameType> types;
        for (const Frame& f : got) types.push_back(f.type);
        EXPECT_EQ(types, c.answers);
        if (got.empty()) {
            EXPECT_EQ(b.term.ended, c.ended);
            continue;
        }
        EXPECT_EQ(got[0].seq, c.request.type == FrameType::Data || c.request.type == FrameType::AckReq ||
                                      c.request.type == FrameType::Poll
                                  ? c.request.seq
                                  : 0);
        auto payload = got[0].payload;
        if (got[0].type == FrameType::Data) payload.resize(std::min(payload.size(), c.payload.size()));
        if (!c.payload.empty()) {
            EXPECT_EQ(payload, c.payload);
        }
        if (got[0].type == FrameType::Ready && c.request.payload.size() > kStartLen) {
            const Hello h = decodeHello(got[0].payload);
            EXPECT_EQ(h.features, (TVKBOX_PACK ? kFeaturePacked : 0) | (TVKBOX_FEC ? kFeatureProtected : 0));
            EXPECT_EQ(h.frameMax, tvkbox_frame_max(&b.box));
            EXPECT_EQ(h.window, tvkbox_window(&b.box));
        }
        EXPECT_EQ(b.term.ended, c.ended);
        EXPECT_EQ(b.term.released, c.request.type == FrameType::Disc);
    }
}

// A box whose master has gone silent drops the job, and not before.
TEST(Box, DropsAJobWhoseMasterWentSilent) {
    ScopedWorkDir wd;
    fs::create_directories("dst");
    const uint32_t t0 = nowMs();
    Box b({.progressMs = 500}, t0);
    b.answer(masterFrame(FrameType::Start, start(1)), t0);
    tvkbox_poll(&b.box, t0 + 400);
    EXPECT_TRUE(tvkbox_in_job(&b.box));
    tvkbox_poll(&b.box, t0 + 600);
    EXPECT_FALSE(tvkbox_in_job(&b.box));
    EXPECT_EQ(std::pair(b.term.ended.load(), b.term.endedOk.load()), std::pair(1, 0));
}

// Whole jobs in both directions, through faults, for boxes of every size.
TEST(Box, MovesFilesWithTheMasterThroughFaults) {
    struct Case {
        const char* what;
        BoxSetup box;
        Faults faults;
        bool masterVersionOne = false;
    };
    const BoxSetup small{.buffer = 4096, .pack = false};
    const Case cases[] = {
        {"clean", {}, {}},
        {"4 KiB of buffers", small, {}},
        {"4 KiB of buffers, dropped frames", small, {.dropRate = 0.05}},
        {"4 KiB of buffers, bit errors", small, {.bitErrorRate = 1e-4}},
        {"smallest frames", {.buffer = 4096, .frame = TVKBOX_MIN_FRAME}, {.dropRate = 0.05}},
        {"uncompressed", {.pack = false}, {}},
        {"bit errors", {}, {.bitErrorRate = 1e-4}},
        {"dropped frames", {}, {.dropRate = 0.05}},
        {"truncated frames", {}, {.truncRate = 0.05}},
        {"duplicated frames", {}, {.dupRate = 0.1}},
        {"reordered frames", {}, {.reorderRate = 0.1}},
        {"first answer lost", {}, {.dropFirst = 2}},
        {"echoing line", {}, {.echo = true}},
        {"7-bit line", {.sevenBits = true}, {.bitErrorRate = 1e-5}},
        {"version-1 box", {.versionOne = true}, {.dropRate = 0.05}},
        {"version-1 master", {}, {.dropRate = 0.05}, true},
    };
    for (bool masterReceives : {true, false})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(masterReceives ? "box sends, " : "box receives, ") + c.what);
            ScopedWorkDir wd;
            fs::create_directories("dst");
            fs::create_directories("src");
            // Text that packs well, bytes that do not, an empty file and a
            // file of exactly one small frame.
            std::string text;
            while (text.size() < 60000) text += "line " + std::to_string(text.size()) + " of the sales list\n";
            writeBytes("src/a.txt", text);
            writeBytes("src/b.bin", content(30000, 2));
            writeBytes("src/c.empty", "");
            writeBytes("src/d.bin", content(TVKBOX_MIN_FRAME, 4));
            Channel ch(c.faults, masterReceives ? 11 : 5);
            LineTimers timers{.bitsPerSecond = 4000000, .sevenBits = c.box.sevenBits, .responseMs = 60,
                              .progressMs = 1000, .retries = 8};
            BoxThread box(ch.b, c.box);
            Link link(ch.a, timers);
            uint32_t status = 0;
            BoxProtocol protocol{c.masterVersionOne};
            JobChecks yes;
            bool listed = false;
            const uint8_t type = masterReceives ? 0 : 15;
            const int r = masterReceives ? receiveFiles(link, 1, "dst", nullptr, status, protocol, {std::nullopt, &yes})
                                         : sendFiles(link, 1, listSendFiles("src", listed, &yes), type, nullptr,
                                                     status, protocol);
            box.thread.request_stop();
            box.thread.join();
            ASSERT_EQ(r, TVK_OK) << status;
            for (const char* name : {"a.txt", "b.bin", "c.empty", "d.bin"})
                EXPECT_EQ(readBytes(std::string("dst/") + name), readBytes(std::string("src/") + name)) << name;
            EXPECT_EQ(box.box.term.endedOk, 1);
            EXPECT_EQ(protocol.versionOne, c.box.versionOne || c.masterVersionOne);
            if (!masterReceives) {
                EXPECT_EQ(box.box.term.jobType, type);
            }
            // Compressed when both sides may: the text crosses in far fewer characters.
            const bool packed = TVKBOX_PACK && c.box.pack && !protocol.versionOne;
            if (c.faults.dropRate == 0 && c.faults.dupRate == 0 && !c.faults.echo) {
                EXPECT_EQ(ch.delivered < 60000, packed) << ch.delivered;
            }
            const size_t repaired = masterReceives ? link.repairedFrames() : tvkbox_bad_frames(&box.box.box);
            if (c.faults.bitErrorRate >= 1e-4 && masterReceives) {
                EXPECT_EQ(repaired > 0, TVKBOX_FEC && !protocol.versionOne) << repaired;
            }
        }
}
