// Frames over a port with the line's timing: every wait is bounded, sliced
// for the caller's event pump and ends early on a stop request.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "frame.h"
#include "port.h"
#include "timing.h"

namespace tvk {

// What a blocked call lets through: the caller's event pump and its stop.
class Hooks {
public:
    virtual ~Hooks() = default;
    virtual void pump() {}
    virtual bool stopping() { return false; }
    // How long one wait on the line may last before pump() and stopping()
    // are asked again. Longer slices mean fewer wake-ups: fit for a caller
    // without a pump whose stop request also ends the port's wait.
    virtual Clock::duration slice() { return Ms(10); }
};

enum class Got { Frame, Timeout, Stopped, Fatal };

class Link {
public:
    Link(Port& port, const LineTimers& timers);

    void setHooks(Hooks* h) { hooks_ = h; }
    // A box's link marks its frames as a box's and ignores other boxes'
    // frames; the master's does the reverse (so an echo is never taken for
    // the peer's answer).
    void setBoxSide(bool box) { boxSide_ = box; }
    void setDebug(bool on, const char* who) { debug_ = on; who_ = who; }
    const LineTimers& timers() const { return t_; }

    // Hands the whole frame to the port (waiting for room as needed). A stop
    // refuses new frames unless evenWhenStopping (the abort that tells the
    // peer about the stop).
    Got send(const Frame& f, bool evenWhenStopping = false);
    // The next valid frame until deadline.
    Got receive(Frame& f, Clock::time_point deadline);
    // A frame already here, without waiting for the line.
    bool poll(Frame& f);
    // Waits (pumping, and reading what arrives) until deadline or a stop;
    // Stopped, Timeout or Fatal.
    Got sleepUntil(Clock::time_point deadline);
    // Waits until everything written has left the line.
    void drain();

    // Line time of n characters, and when what was written will be out.
    Clock::duration lineTime(size_t chars) const { return tvk::lineTime(t_, chars); }
    Clock::time_point lineIdleAt() const { return busyUntil_; }
    // Deadline for the answer to a frame just sent (timing.h).
    Clock::time_point answerDeadline(size_t answerPayload) const {
        return tvk::answerDeadline(t_, Clock::now(), busyUntil_, answerPayload);
    }
    // When lineParamB of silence from the peer, whose last valid frame
    // came at lastValid, will have passed (timing.h).
    Clock::time_point progressDeadline(Clock::time_point lastValid) const {
        return tvk::progressDeadline(t_, busyUntil_, lastValid, lastInput_);
    }
    Clock::time_point lastInputAt() const { return lastInput_; }

    // A line of text on the debug output.
    void report(const std::string& text) const;

    // TVK_ES_* conditions met since the last call.
    uint32_t takeStatus();
    uint32_t peekStatus() const { return status_; }
    size_t badFrames() const { return decoder_.crcErrors; }
    size_t repairedFrames() const { return decoder_.repaired; }
    size_t framesSent = 0;
    size_t framesReceived = 0;

private:
    bool readAvailable();
    bool takeReady(Frame& f);
    // One wait on the port for input (and room, when wantWrite), at most
    // until deadline and one slice; reads what arrived. False when the
    // device failed.
    bool awaitPort(bool wantWrite, Clock::time_point deadline);
    void pumpIfDue();
    void note(const char* dir, const Frame& f) const;

    Port& port_;
    LineTimers t_;
    Hooks* hooks_ = nullptr;
    FrameDecoder decoder_;
    std::vector<Frame> ready_;
    size_t readyAt_ = 0;
    std::vector<uint8_t> out_;
    uint32_t status_ = 0;
    Clock::time_point busyUntil_{};
    Clock::time_point lastInput_{};
    Clock::time_point lastPump_{};
    bool debug_ = false;
    const char* who_ = "tvk";
    size_t overlongSeen_ = 0;
    bool fatal_ = false;
    bool boxSide_ = false;
};

}  // namespace tvk
