// One I/O box of the fleet: the box library (tvkbox) with a POSIX platform,
// playing its simulated terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "posix.h"
#include "simterminal.h"
#include "timing.h"
#include "tvkbox.h"

namespace htsim {

// Where a box's characters go: the line, shared by the fleet.
using LineWriter = std::function<void(const uint8_t* chars, size_t n)>;

class SimBox {
public:
    SimBox(const BoxDesc& desc, const tvk::LineTimers& timers, LineWriter writer);
    ~SimBox();
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    // Characters from the line; a slow box hears them its delay later.
    void input(const uint8_t* chars, size_t n, tvk::Clock::time_point now);
    // Feeds what is due, sends the next frame of a window and runs the
    // watchdog; true while frames of a window wait.
    bool poll(tvk::Clock::time_point now);
    // When the next delayed input is due (max when none waits).
    tvk::Clock::time_point nextDue() const;
    bool inJob() const { return tvkbox_in_job(&box_); }
    int address() const { return terminal_.desc().box; }
    const SimTerminal& terminal() const { return terminal_; }

private:
    static SimBox& of(void* user);
    tvkbox_platform platform();
    bool present();
    void feed(const uint8_t* chars, size_t n, tvk::Clock::time_point now);

    // The platform's user: the file callbacks take it as its first member.
    struct User {
        tvkbox_posix files;
        SimBox* box;
    };
    User user_{};
    SimTerminal terminal_;
    LineWriter writer_;
    std::string sendDir_, sendAs_, recvDir_;
    std::vector<uint8_t> buffer_;
    std::vector<uint64_t> packMemory_;  // 8-byte aligned for the coder
    std::deque<std::pair<tvk::Clock::time_point, std::vector<uint8_t>>> delayed_;
    tvkbox box_{};
};

}  // namespace htsim
