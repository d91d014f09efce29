// Turns fuzz bytes into what a peer puts on the line, so the transfer targets
// get past the frame check, and keeps the directories they may touch.
// A script is a run of records:
//   byte 0     bit 7 P/F, bit 6 starts a new turn (held back until the other
//              side writes again), bit 5 an echo (the frame claims to come
//              from the side that receives it), bits 0-4 frame type; type 31
//              is raw line characters instead of a frame
//   byte 1     box address; values below 0x80 mean box 1
//   bytes 2-3  sequence number, little-endian
//   bytes 4-5  payload length, little-endian, cut to what is left
//   payload
#pragma once
#include <filesystem>
#include "check.h"
#include "frame.h"

namespace fuzzline {
struct Record {
    bool newTurn = false, raw = false, echo = false;
    tvk::Frame frame;  // raw: the payload holds the characters
};

// Records until the bytes run out; a record cut short is dropped.
std::vector<Record> parseScript(const uint8_t* data, size_t size);
// The line characters of each turn, frames encoded as the station on the
// other side would send them (fromBox: that station is a box).
std::vector<std::vector<uint8_t>> lineTurns(const std::vector<Record>& records, bool sevenBits, bool fromBox);

// "in" receives, "out" holds the files to send, alone in a private root: anything
// written beside them, a partial file left behind or a changed source file shows.
class Jail {
public:
    Jail();
    ~Jail() { std::filesystem::remove_all(root_); }
    std::string in() const { return (root_ / "in").string(); }
    std::string out() const { return (root_ / "out").string(); }
    // Aborts when a rule is broken, then empties "in" for the next input.
    void checkAndReset();
private:
    std::filesystem::path root_;
};

// One input: the mode byte (sevenBit marks a 7-bit line), then a script; the jail's rules follow.
template <class Run>
int runInJail(const uint8_t* data, size_t size, uint8_t sevenBit, Run run) {
    static Jail jail;
    if (size == 0) return 0;
    run(data[0], (data[0] & sevenBit) != 0, parseScript(data + 1, size - 1), jail);
    jail.checkAndReset();
    return 0;
}
}  // namespace fuzzline
