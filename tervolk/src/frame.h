// Frames on the line: header, payload and CRC-32C, stuffed with COBS (after
// 7-in-8 packing on a 7-bit line) and closed by a 0x00 delimiter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvk {

enum class FrameType : uint8_t {
    Poll = 1,     // master: does box <addr> have something?
    NoTerm = 2,   // box: no terminal in this box
    Idle = 3,     // box: terminal present, nothing asked
    Record = 4,   // box: the terminal's record
    Start = 5,    // master: begin the job (direction in the payload)
    Ready = 6,    // box: ready to receive
    Data = 7,     // either: a window frame with stream chunks
    AckReq = 8,   // master: repeat your acknowledgement
    Ack = 9,      // box: acknowledgement of the master's window
    Rr = 10,      // master: acknowledgement, send your next window
    Done = 11,    // box: everything it had is acknowledged
    Disc = 12,    // master: release the terminal
    Ua = 13,      // box: released
    Abort = 14,   // either: the job is abandoned
    Reject = 15,  // box: cannot do the job asked for
    Frag = 16,    // either: one piece of a window frame resent in pieces
};

const char* frameTypeName(FrameType t);

struct Frame {
    uint8_t addr = 0;  // I/O box 1..16
    FrameType type = FrameType::Poll;
    bool pf = false;   // poll bit from the master, final bit from a box
    bool fromBox = false;  // sent by a box (an echoing line returns a station's own frames)
    uint16_t seq = 0;
    std::vector<uint8_t> payload;
    uint8_t fec = 0;         // error-correction strength it is sent with or came with (fec.h)
    uint16_t corrected = 0;  // bytes the receiver set right
};

inline constexpr size_t kHeaderLen = 4;
inline constexpr size_t kCrcLen = 4;
// Longest payload a station accepts; longer frames are refused.
inline constexpr size_t kMaxPayload = 4096 + 64;
inline constexpr size_t kMaxBody = kHeaderLen + kMaxPayload + kCrcLen;

// Appends the frame's line characters, delimiter included.
void encodeFrame(const Frame& f, bool sevenBits, std::vector<uint8_t>& out);
// Line characters of a frame with n payload bytes, delimiter included.
size_t encodedLength(size_t payloadLen, bool sevenBits, int fec = 0);
// Largest payload a frame protected at strength fec may carry: protected
// frames are never longer than the longest plain one the receiver takes
// (frameMax payload bytes), so a station that cannot repair them still
// refuses nothing for its length.
size_t maxPayloadAt(int fec, size_t frameMax = kMaxPayload);

// Turns received characters into frames; resynchronises at every delimiter.
class FrameDecoder {
public:
    explicit FrameDecoder(bool sevenBits);
    // Feeds characters; complete valid frames are appended to frames.
    void feed(const uint8_t* p, size_t n, std::vector<Frame>& frames);
    // Drops the characters of the frame in progress (a line error hit it).
    void discardCurrent() { skipping_ = true; buf_.clear(); }

    size_t crcErrors = 0;   // delimited blocks that failed COBS, length or CRC
    size_t repaired = 0;    // protected frames that needed and got a repair
    size_t overlong = 0;    // frames refused for their length

private:
    void finish(std::vector<Frame>& frames);
    bool accept(const std::vector<uint8_t>& body, Frame& f) const;

    bool seven_;
    bool skipping_ = false;
    std::vector<uint8_t> buf_;
    std::vector<uint8_t> stage_;
    std::vector<uint8_t> body_;
    std::vector<uint8_t> repairedBody_;
    size_t maxEncoded_;
};

std::string describeFrame(const Frame& f);

}  // namespace tvk
