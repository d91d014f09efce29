// Every deadline of the line, on both sides, comes from here: the line time
// of what is on its way plus the configured waits. A finished write() only
// means the driver took the bytes (a pseudo-terminal buffers about 20 KiB),
// so waits start from when our own characters will have left the line, and
// a peer whose frame is still arriving is not silent.
#pragma once

#include <chrono>
#include <cstddef>

namespace tvk {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

struct LineTimers {
    unsigned bitsPerSecond = 115200;
    unsigned bitsPerChar = 10;  // start + data + parity + stop bits
    bool sevenBits = false;
    int responseMs = 50;   // lineParamA
    int progressMs = 3000; // lineParamB
    int retries = 3;       // lineParamC
};

// Line time of n characters.
Clock::duration lineTime(const LineTimers& t, size_t chars);
// Line time of the largest frame either side may send.
Clock::duration largestFrameTime(const LineTimers& t);

// Deadline for an answer of answerPayload bytes to a frame just sent, when
// our own characters leave the line at lineIdle: the line time still
// outstanding, a sixteenth of it for a line a little slower than nominal,
// the answer's own line time with a quarter more, and lineParamA.
Clock::time_point answerDeadline(const LineTimers& t, Clock::time_point now, Clock::time_point lineIdle,
                                 size_t answerPayload);

// Since when the peer counts as silent: our own line going idle, its last
// valid frame, or its characters still arriving - but characters count only
// within one largest frame of the last valid frame, so that a flood of
// garbage cannot hold a wait open.
Clock::time_point quietSince(const LineTimers& t, Clock::time_point lineIdle, Clock::time_point lastValid,
                             Clock::time_point lastInput);
// The moment lineParamB of such silence has passed.
Clock::time_point progressDeadline(const LineTimers& t, Clock::time_point lineIdle, Clock::time_point lastValid,
                                   Clock::time_point lastInput);

// Payload bytes per frame and per window the line rate allows
// (tvk_line_frame_cap, shared with the box): a frame takes at most
// kFrameLineTime, a window at most kWindowLineTime (so a lost window costs
// little, the peer's timers stay short and progress stays live), within the
// protocol's fixed limits.
inline constexpr auto kFrameLineTime = Ms(2000);
inline constexpr auto kWindowLineTime = Ms(6000);
size_t frameBytesFor(const LineTimers& t);
size_t windowBytesFor(const LineTimers& t);

}  // namespace tvk
