#include "channel.h"

#include <chrono>

namespace tvktest {

class Channel::End final : public tvk::Port {
public:
    End(Channel& c, int side) : c_(c), side_(side) {}
    long readSome(uint8_t* buf, size_t cap) override {
        std::lock_guard<std::mutex> l(c_.m_);
        auto& q = c_.q_[side_];
        size_t n = std::min(cap, q.size());
        for (size_t i = 0; i < n; ++i) {
            buf[i] = q.front();
            q.pop_front();
        }
        return long(n);
    }
    long writeSome(const uint8_t* p, size_t n) override {
        c_.put(1 - side_, p, n);
        return long(n);
    }
    int wait(bool wantWrite, int ms) override {
        std::unique_lock<std::mutex> l(c_.m_);
        c_.cv_.wait_for(l, std::chrono::milliseconds(ms), [&] { return !c_.q_[side_].empty(); });
        return (c_.q_[side_].empty() ? 0 : tvk::kReadable) | (wantWrite ? tvk::kWritable : 0);
    }

private:
    Channel& c_;
    int side_;
};

Channel::Channel(Faults f, uint32_t seed)
    : faults_(f), rng_(seed), a_(std::make_unique<End>(*this, 0)), b_(std::make_unique<End>(*this, 1)) {}

Channel::~Channel() = default;
tvk::Port& Channel::a() { return *a_; }
tvk::Port& Channel::b() { return *b_; }

void Channel::deliver(int to, const std::vector<uint8_t>& bytes) {
    for (uint8_t c : bytes) {
        if (faults_.cutAfter && delivered_ >= faults_.cutAfter) return;
        ++delivered_;
        q_[to].push_back(c);
    }
}

void Channel::put(int to, const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> l(m_);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<uint8_t> bytes(p, p + n);
    if (faults_.echo) q_[1 - to].insert(q_[1 - to].end(), p, p + n);
    if (faults_.bitErrorRate > 0) {
        for (auto& c : bytes)
            for (int bit = 0; bit < 8; ++bit)
                if (u(rng_) < faults_.bitErrorRate) c = uint8_t(c ^ (1 << bit));
    }
    if (u(rng_) < faults_.truncRate && bytes.size() > 1) bytes.resize(size_t(rng_() % bytes.size()));
    if (u(rng_) < faults_.dropRate || writes_++ < faults_.dropFirst) bytes.clear();
    if (!holding_[to] && u(rng_) < faults_.reorderRate) {
        held_[to] = bytes;
        holding_[to] = true;
    } else {
        deliver(to, bytes);
        if (u(rng_) < faults_.dupRate) deliver(to, bytes);
        if (holding_[to]) {
            deliver(to, held_[to]);
            holding_[to] = false;
        }
    }
    cv_.notify_all();
}

}  // namespace tvktest
