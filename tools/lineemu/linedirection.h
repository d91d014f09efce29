// One direction of the line: paces characters at the line rate, applies the
// faults, and holds what is due for the receiving end until it is written.
// Times are nanoseconds since the relay started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "lineconfig.h"

namespace quendril::lineemu {

struct DirectionCounters {
    uint64_t bytesIn = 0;         // characters put on the line
    uint64_t bytesDelivered = 0;  // characters handed to the receiving end
    uint64_t bitsFlipped = 0;
    uint64_t bytesDropped = 0;
    uint64_t bytesLostOutage = 0;
    uint64_t bytesOverrun = 0;    // receiving end did not read and its backlog was full
};

class LineDirection {
public:
    // Characters due but not yet taken by the receiving end, at most this many.
    static constexpr size_t kBacklogLimit = 64 * 1024;

    LineDirection(const LineFormat& format, double latencyMs, const Faults& faults,
                  uint64_t streamId);

    // How many characters the line takes now without running ahead of its
    // read-ahead window (a UART FIFO's worth of a few milliseconds).
    size_t room(double now) const;
    void accept(const uint8_t* data, size_t n, double now);
    // Moves characters whose delivery time has come into the backlog.
    void releaseDue(double now);

    const std::vector<uint8_t>& backlog() const { return backlog_; }
    void consumed(size_t n);

    // Earliest time at which the direction needs attention; negative: none.
    double nextWake(double now) const;
    const DirectionCounters& counters() const { return counters_; }

private:
    struct InFlight {
        double deliverAt;
        uint8_t byte;
    };

    bool inOutage(double start) const;
    bool drawDrop();
    uint8_t flipBits(uint8_t byte);
    void drawNextErrorGap();

    double charTime_;
    double latency_;
    double window_;
    double lineFree_ = 0.0;
    int dataBits_;
    uint8_t mask_;
    Faults faults_;
    double outageStart_;
    double outageEnd_;
    std::mt19937_64 dropRng_;
    std::mt19937_64 bitRng_;
    uint64_t bitsToNextError_ = 0;
    std::deque<InFlight> inFlight_;
    std::vector<uint8_t> backlog_;
    DirectionCounters counters_;
};

}  // namespace quendril::lineemu
