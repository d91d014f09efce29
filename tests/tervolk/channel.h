// An in-process line between two ports with seeded faults, for driving the
// transfer engine without devices. Faults act on whole writes (one write
// is one frame), bit errors on single characters.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>

#include "port.h"

namespace tvktest {

struct Faults {
    double bitErrorRate = 0;  // per bit of each character
    double dropRate = 0;      // a write is lost
    double dupRate = 0;       // a write arrives twice
    double reorderRate = 0;   // a write is held back behind the next one
    double truncRate = 0;     // a write loses its tail
    uint64_t cutAfter = 0;    // from this many characters on (0: never) nothing arrives
    int dropFirst = 0;        // the first writes of either side are lost
    bool echo = false;        // every write also comes back to its writer
};

class Channel {
public:
    explicit Channel(Faults f = {}, uint32_t seed = 1);
    ~Channel();
    tvk::Port& a();
    tvk::Port& b();
    uint64_t delivered() const { return delivered_; }

private:
    class End;
    friend class End;
    void put(int to, const uint8_t* p, size_t n);
    void deliver(int to, const std::vector<uint8_t>& bytes);

    Faults faults_;
    std::mt19937_64 rng_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<uint8_t> q_[2];
    std::vector<uint8_t> held_[2];
    bool holding_[2] = {false, false};
    uint64_t delivered_ = 0;
    int writes_ = 0;
    std::unique_ptr<End> a_, b_;
};

}  // namespace tvktest
