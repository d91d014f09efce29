// The relay loop: moves characters between the two pseudo-terminal masters
// through a LineDirection each way until the stop descriptor becomes readable.
#pragma once

#include <array>
#include <string>

#include "lineconfig.h"
#include "linedirection.h"

namespace quendril::lineemu {

class Relay {
public:
    Relay(const Config& config, int masterA, int masterB);
    // Returns when stopFd becomes readable, or, with watchParent, once the
    // process that started lineemu has gone.
    void run(int stopFd, bool watchParent);

    const DirectionCounters& ab() const { return dirs_[0].line.counters(); }
    const DirectionCounters& ba() const { return dirs_[1].line.counters(); }

private:
    struct Way {
        int from;
        int to;
        LineDirection line;
        double fromQuietUntil = 0;  // master read gave EIO: no endpoint yet
    };

    double now() const;
    void readSide(Way& w, double t);
    void writeSide(Way& w);
    int pollTimeoutMs(double t, bool watchParent) const;

    std::array<Way, 2> dirs_;
    long long startNs_;
};

// The counters as "name=value" lines.
std::string formatCounters(const DirectionCounters& ab, const DirectionCounters& ba);

}  // namespace quendril::lineemu
