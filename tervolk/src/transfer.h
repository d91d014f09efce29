// The windowed transfer: selective repeat with a bitmap acknowledgement at
// the end of each window. The sender numbers its frames; at most kWindowMax
// frames are outstanding past the receiver's first missing one.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "link.h"
#include "stream.h"
#include "tvkshape.h"
#include "wire.h"

namespace tvk {

inline constexpr size_t kWindowMax = 128;
inline constexpr size_t kFrameMin = TVK_FRAME_MIN;
inline constexpr size_t kFrameMax = TVK_FRAME_MAX;
inline constexpr size_t kWindowBytesMax = TVK_WINDOW_MAX;

// cum: the first sequence number not yet received; bit i of the bitmap is
// set when cum + 1 + i has been received. Flags: kAckComplete when the
// batch is complete and every stored file is on disk, kAckFailed when the
// receiver could not store a file of the job (the sender keeps its data).
// From protocol version 2 it also carries corrected: the bytes the
// receiver's error correction set right in the job so far (u32), by which
// the sender measures the line.
struct AckInfo {
    uint16_t cum = 0;
    std::array<uint64_t, 2> bits{};
    uint8_t flags = 0;
    uint32_t corrected = 0;
    bool has(size_t i) const { return i < 128 && ((bits[i / 64] >> (i % 64)) & 1); }
    void set(size_t i) { bits[i / 64] |= uint64_t(1) << (i % 64); }
};
inline constexpr uint8_t kAckComplete = 1;
inline constexpr uint8_t kAckFailed = 2;
inline constexpr size_t kAckLen = 19;
inline constexpr size_t kAckLenV2 = 23;

// withCorrected: the peer speaks version 2 (a version-1 peer takes 19 bytes only).
std::vector<uint8_t> encodeAck(const AckInfo& a, bool withCorrected);
bool decodeAck(const std::vector<uint8_t>& p, AckInfo& a);

struct SendStats {
    size_t framesSent = 0;
    size_t framesResent = 0;
    size_t windows = 0;
};

// What the receiver can hold: its largest frame payload and how many frames
// may be outstanding from its first missing one (a box's READY says so).
struct ReceiverLimits {
    size_t frameMax = kMaxPayload;
    size_t window = kWindowMax;
};
// The limits a READY announced, within the protocol's bounds.
ReceiverLimits limitsOf(const Hello& box);

class WindowSender {
public:
    // Frame and window sizes stay within what the line carries in a few
    // seconds (timing.h) and what the receiver holds. mayProtect: the
    // receiver repairs protected frames, so a noisy line gets error
    // correction (fec.h).
    WindowSender(BatchReader& reader, uint8_t addr, const LineTimers& timers = {}, bool mayProtect = false,
                 const ReceiverLimits& limits = {});

    // Sends the next window: frames still missing first, then new ones. The
    // last frame carries the P/F bit.
    Got sendWindow(Link& link);
    // Applies an acknowledgement; true when it acknowledged something new.
    bool applyAck(const AckInfo& a);
    // Every frame, END included, is acknowledged.
    bool finished() const { return reader_.exhausted() && outstanding_.empty(); }
    const SendStats& stats() const { return stats_; }
    // Sequence number of the last frame sent with the P/F bit; the
    // acknowledgement echoes it.
    uint16_t lastPollSeq() const { return lastPollSeq_; }
    size_t frameSize() const { return shape_.frame_size; }
    int strength() const { return shape_.strength; }

private:
    struct Out {
        uint16_t seq;
        std::vector<uint8_t> payload;
        bool acked = false;
        bool inLastWindow = false;
    };
    // The window's frames; a frame built larger than the line now carries
    // is resent in pieces.
    std::vector<Frame> buildWindow();
    void addFrame(std::vector<Frame>& win, const Out& o, bool resend) const;

    BatchReader& reader_;
    uint8_t addr_;
    uint16_t nextSeq_ = 0;
    uint16_t lastPollSeq_ = 0;
    std::deque<Out> outstanding_;
    ReceiverLimits limits_;
    tvk_shape shape_;  // frame size, window and error correction of new frames
    SendStats stats_;
};

class WindowReceiver {
public:
    explicit WindowReceiver(BatchWriter& writer) : writer_(writer) {}
    // A data frame of the window; duplicates and frames out of range are ignored.
    void onData(const Frame& f);
    // A piece of a frame; the frame counts once all its pieces are here.
    void onFrag(const Frame& f);
    AckInfo ack() const;
    bool complete() const { return writer_.ended(); }
    // Bytes held in pieces of frames not yet whole.
    size_t pieceBytes() const;
    size_t duplicates = 0;
    // Bytes that error correction set right in the frames of this job.
    uint32_t corrected = 0;

private:
    BatchWriter& writer_;
    uint16_t cum_ = 0;
    void store(uint16_t seq, std::vector<uint8_t> payload);
    struct Pieces {
        uint8_t count = 0;
        size_t bytes = 0;  // held in parts
        std::vector<std::optional<std::vector<uint8_t>>> parts;
    };
    std::array<std::optional<std::vector<uint8_t>>, kWindowMax> slots_;
    std::array<Pieces, kWindowMax> pieces_;
};

}  // namespace tvk
