// An in-process line between two ports with seeded faults, for the tests of
// the transfer between a master and a box.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "port.h"
#include "timing.h"

namespace quendril::test {

struct Faults {
    double bitErrorRate = 0;                          // per bit of each character
    double dropRate = 0, dupRate = 0, truncRate = 0;  // of a write (one write is one frame)
    double reorderRate = 0;                           // a write held back behind the next one
    uint64_t cutAfter = 0;                            // from this many characters on nothing arrives
    int dropFirst = 0;                                // the first writes of either side are lost
    bool echo = false;                                // every write also comes back to its writer
};

// An in-process line between two ports with seeded faults.
struct Channel {
    struct End final : tvk::Port {
        End(Channel& channel, int s) : c(channel), side(s) {}
        long readSome(uint8_t* buf, size_t cap) override {
            std::lock_guard l(c.m);
            auto& in = c.q[side];
            size_t n = std::min(cap, in.size());
            std::copy_n(in.begin(), n, buf);
            in.erase(in.begin(), in.begin() + long(n));
            return long(n);
        }
        long writeSome(const uint8_t* p, size_t n) override { return c.put(1 - side, {p, p + n}), long(n); }
        int wait(bool wantWrite, int ms) override {
            std::unique_lock l(c.m);
            bool readable = c.cv.wait_for(l, tvk::Ms(ms), [&] { return !c.q[side].empty(); });
            return (readable ? tvk::kReadable : 0) | (wantWrite ? tvk::kWritable : 0);
        }
        Channel& c;
        int side;
    };
    explicit Channel(Faults f = {}, uint32_t seed = 1) : faults(f), rng(seed) {}
    void deliver(int to, const std::vector<uint8_t>& bytes) {
        for (uint8_t ch : bytes)
            if (!faults.cutAfter || delivered < faults.cutAfter) ++delivered, q[to].push_back(ch);
    }
    void put(int to, std::vector<uint8_t> bytes) {
        std::lock_guard l(m);
        auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
        if (faults.echo) q[1 - to].insert(q[1 - to].end(), bytes.begin(), bytes.end());
        for (auto& ch : bytes)
            for (int bit = 0; bit < 8 && faults.bitErrorRate > 0; ++bit)
                if (chance(faults.bitErrorRate)) ch = uint8_t(ch ^ (1 << bit));
        if (chance(faults.truncRate) && bytes.size() > 1) bytes.resize(size_t(rng() % bytes.size()));
        if (chance(faults.dropRate) || writes++ < faults.dropFirst) bytes.clear();
        if (!held[to] && chance(faults.reorderRate)) {
            held[to] = bytes;
        } else {
            deliver(to, bytes);
            if (chance(faults.dupRate)) deliver(to, bytes);
            if (held[to]) deliver(to, *std::exchange(held[to], std::nullopt));
        }
        cv.notify_all();
    }
    Faults faults;
    std::mt19937_64 rng;
    std::mutex m;
    std::condition_variable cv;
    std::deque<uint8_t> q[2];
    std::optional<std::vector<uint8_t>> held[2];
    uint64_t delivered = 0;  // characters that reached either side
    int writes = 0;
    End a{*this, 0}, b{*this, 1};
};

}  // namespace quendril::test
