// The line's deadlines and sizes over every speed and the extreme timer
// settings: a window or frame still crossing a slow line must never run a
// timer out, on either side.
#include <gtest/gtest.h>

#include "channel.h"
#include "frame.h"
#include "link.h"
#include "tempdir.h"
#include "testfiles.h"
#include "timing.h"
#include "transfer.h"

using namespace tvk;
using namespace std::chrono_literals;

namespace {

struct Format {
    const char* name;
    unsigned bitsPerChar;
    bool sevenBits;
};

constexpr unsigned kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr Format kFormats[] = {{"8N1", 10, false}, {"8E2", 12, false}, {"7E1", 9, true}};
constexpr int kAnswerWaits[] = {30, 300};     // lineParamA, the program's range
constexpr int kStallWaits[] = {500, 10000};  // lineParamB

template <class F>
void forEveryLine(F&& check) {
    for (unsigned rate : kRates)
        for (const Format& fmt : kFormats)
            for (int a : kAnswerWaits)
                for (int b : kStallWaits) {
                    LineTimers t;
                    t.bitsPerSecond = rate;
                    t.bitsPerChar = fmt.bitsPerChar;
                    t.sevenBits = fmt.sevenBits;
                    t.responseMs = a;
                    t.progressMs = b;
                    std::string what = std::to_string(rate) + " " + fmt.name + " A=" + std::to_string(a) +
                                       " B=" + std::to_string(b);
                    check(t, what);
                }
}

Clock::duration frameTime(const LineTimers& t, size_t payload) {
    return lineTime(t, encodedLength(payload, t.sevenBits) + 1);
}

// Largest payload bytes a window of the given budget may carry: the budget
// plus the frame that crosses it.
size_t windowPayloadLimit(const LineTimers& t) { return windowBytesFor(t) + frameBytesFor(t); }

}  // namespace

TEST(LineTiming, FramesAndWindowsFitTheLineRate) {
    forEveryLine([](const LineTimers& t, const std::string& what) {
        size_t frame = frameBytesFor(t), window = windowBytesFor(t);
        EXPECT_GE(frame, kFrameMin) << what;
        EXPECT_LE(frame, kFrameMax) << what;
        EXPECT_GE(window, frame) << what;
        EXPECT_LE(window, kWindowBytesMax) << what;
        // A few seconds per frame and window at most, unless the protocol's
        // smallest sizes take longer.
        if (frame > kFrameMin) {
            EXPECT_LE(frameTime(t, frame), kFrameLineTime) << what;
        }
        size_t frames = (window + frame - 1) / frame;
        if (frames > 1) {
            EXPECT_LE(frameTime(t, frame) * frames, kWindowLineTime) << what;
        }
    });
    LineTimers fast;
    EXPECT_EQ(frameBytesFor(fast), kFrameMax) << "115200 8N1 keeps the largest frames";
    EXPECT_EQ(windowBytesFor(fast), kWindowBytesMax) << "and the largest windows";
    LineTimers slow;
    slow.bitsPerSecond = 9600;
    EXPECT_LT(windowBytesFor(slow), 8 * 1024u) << "a 9600 bit/s window is acknowledged within seconds";
}

TEST(LineTiming, AnswerWaitStartsWhenOurCharactersHaveLeftTheLine) {
    forEveryLine([](const LineTimers& t, const std::string& what) {
        const auto now = Clock::now();
        // A whole window still in the driver's buffer, or nothing at all.
        for (size_t buffered : {size_t(0), size_t(20 * 1024), windowPayloadLimit(t)}) {
            auto lineIdle = now + lineTime(t, buffered);
            for (size_t answer : {size_t(0), kAckLen, size_t(22)}) {
                auto d = answerDeadline(t, now, lineIdle, answer);
                auto floor = lineIdle + frameTime(t, answer) + Ms(t.responseMs);
                EXPECT_GE(d, floor) << what << " buffered " << buffered;
                // and the margin stays proportionate
                EXPECT_LE(d - floor, lineTime(t, buffered) / 16 + frameTime(t, answer) / 4 + 1ms) << what;
            }
        }
        // A write that finished long ago: the wait counts from now.
        auto d = answerDeadline(t, now, now - 1h, 0);
        EXPECT_GE(d, now + Ms(t.responseMs)) << what;
        EXPECT_LE(d, now + Ms(t.responseMs) + frameTime(t, 0) * 2) << what;
    });
}

TEST(LineTiming, PeerIsNotSilentWhileItsFrameCrossesTheLine) {
    forEveryLine([](const LineTimers& t, const std::string& what) {
        const auto lastValid = Clock::now();
        const auto longAgo = lastValid - 1h;
        // The next frame, even the largest the peer may send, is arriving:
        // its last character comes one frame time after the previous frame.
        for (size_t payload : {frameBytesFor(t), kMaxPayload}) {
            auto arrives = lastValid + frameTime(t, payload);
            auto almost = arrives - 1ms;
            EXPECT_GT(progressDeadline(t, longAgo, lastValid, almost), arrives) << what << " frame " << payload;
        }
        // Silence counts from the later of our own line going idle and the
        // peer's last frame.
        EXPECT_EQ(progressDeadline(t, longAgo, lastValid, lastValid), lastValid + Ms(t.progressMs)) << what;
        auto ourWindowOut = lastValid + lineTime(t, windowPayloadLimit(t));
        EXPECT_EQ(progressDeadline(t, ourWindowOut, lastValid, lastValid), ourWindowOut + Ms(t.progressMs)) << what;
        // Characters that never make a frame hold the wait for one largest
        // frame at most.
        EXPECT_EQ(progressDeadline(t, longAgo, lastValid, lastValid + 1h),
                  lastValid + largestFrameTime(t) + Ms(t.progressMs))
            << what;
    });
}

TEST(LineTiming, WindowSenderKeepsToTheSizesOfASlowLine) {
    quendril::test::ScopedWorkDir wd;
    tvktest::writeRandomFile("big.bin", 60000, 4);
    for (unsigned rate : {1200u, 9600u}) {
        LineTimers t;
        t.bitsPerSecond = rate;
        BatchReader reader({{"big.bin", "big.bin", 60000}}, nullptr);
        WindowSender tx(reader, 1, t);
        tvktest::Channel ch;
        LineTimers fastLink;
        fastLink.bitsPerSecond = 4000000;
        Link link(ch.a(), fastLink);
        size_t before = 0;
        for (int w = 0; w < 6; ++w) {
            size_t frameSize = tx.frameSize();
            ASSERT_EQ(tx.sendWindow(link, [] { return false; }), Got::Frame);
            size_t frames = link.framesSent - before;
            before = link.framesSent;
            EXPECT_LE(frameSize, frameBytesFor(t)) << rate;
            EXPECT_LE((frames - 1) * frameSize, windowBytesFor(t)) << rate << " window " << w;
            AckInfo all;
            all.cum = uint16_t(link.framesSent);
            ASSERT_TRUE(tx.applyAck(all));
        }
        EXPECT_EQ(tx.frameSize(), frameBytesFor(t)) << rate << ": clean windows grow the frames to the cap";
    }
}

TEST(LineTiming, ReceiverCountsTheFramesThatArriveAgain) {
    quendril::test::ScopedWorkDir wd;
    BatchWriter writer(".", nullptr);
    WindowReceiver rx(writer);
    auto frame = [](uint16_t seq, FrameType type = FrameType::Data, std::vector<uint8_t> payload = {0x04}) {
        Frame f;
        f.addr = 1;
        f.seq = seq;
        f.type = type;
        f.payload = std::move(payload);
        return f;
    };
    // Frame 1 lost: 0, 2, 3 arrive, then 1 is resent and 2 comes twice.
    for (int seq : {0, 2, 3}) rx.onData(frame(uint16_t(seq)));
    EXPECT_EQ(rx.resentSeen, 0u) << "new frames, even past a gap, are no resends";
    rx.onData(frame(1));
    rx.onData(frame(2));
    EXPECT_EQ(rx.resentSeen, 2u);
    // Frame 4 resent in two pieces counts once, when it is whole.
    rx.onFrag(frame(4, FrameType::Frag, {0, 2, 0x04}));
    EXPECT_EQ(rx.resentSeen, 2u);
    rx.onFrag(frame(4, FrameType::Frag, {1, 2}));
    EXPECT_EQ(rx.resentSeen, 3u);
}

// A peer that sends pieces which never complete a frame: what the receiver
// holds stays within one frame per window slot, and a frame sent whole in
// pieces afterwards still arrives.
TEST(LineTiming, PiecesThatNeverCompleteAFrameStayBounded) {
    quendril::test::ScopedWorkDir wd;
    BatchWriter writer(".", nullptr);
    WindowReceiver rx(writer);
    auto piece = [](uint16_t seq, uint8_t index, uint8_t count, size_t len) {
        Frame f;
        f.addr = 1;
        f.seq = seq;
        f.type = FrameType::Frag;
        f.payload.assign(len + 2, 0x55);
        f.payload[0] = index;
        f.payload[1] = count;
        return f;
    };
    // Every slot announced as 255 pieces, all but the last sent at full size.
    for (uint16_t seq = 0; seq < kWindowMax; ++seq)
        for (uint8_t i = 0; i < 254; ++i) rx.onFrag(piece(seq, i, 255, kMaxPayload - 2));
    EXPECT_LE(rx.pieceBytes(), kWindowMax * kMaxPayload);
    EXPECT_EQ(rx.ack().cum, 0u) << "no frame may count as whole";
    // Pieces sent again replace the earlier copy instead of adding to it.
    WindowReceiver again(writer);
    for (int n = 0; n < 100; ++n) again.onFrag(piece(0, 0, 2, 1000));
    EXPECT_EQ(again.pieceBytes(), 1000u);
    // A frame whose pieces fit completes and frees its slot.
    again.onFrag(piece(0, 1, 2, 0));
    EXPECT_EQ(again.pieceBytes(), 0u);
    EXPECT_EQ(again.ack().cum, 1u);
}
