// Turns fuzz bytes into what a peer puts on the line, so the transfer
// targets get past the frame check and reach the state machines.
//
// A script is a run of records:
//   byte 0     bit 7 P/F, bit 6 starts a new turn (held back until the
//              other side writes again), bit 5 an echo (the frame claims
//              to come from the side that receives it), bits 0-4 frame
//              type; type 31 is raw line characters instead of a frame
//   byte 1     box address; values below 0x80 mean box 1
//   bytes 2-3  sequence number, little-endian
//   bytes 4-5  payload length, little-endian, cut to what is left
//   payload
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame.h"

namespace fuzzline {

inline constexpr uint8_t kRawType = 31;

struct Record {
    bool newTurn = false;
    bool raw = false;
    bool echo = false;
    tvk::Frame frame;
    std::vector<uint8_t> rawBytes;
};

// Records until the bytes run out; a record cut short is dropped.
std::vector<Record> parseScript(const uint8_t* data, size_t size);

// The line characters of each turn, frames encoded as the station on the
// other side would send them (fromBox: that station is a box).
std::vector<std::vector<uint8_t>> lineTurns(const std::vector<Record>& records, bool sevenBits, bool fromBox);

// Appends one record; the seed writer builds its sessions with it.
void appendRecord(std::vector<uint8_t>& out, const tvk::Frame& f, bool newTurn, bool echo = false);

}  // namespace fuzzline
