#include "relay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <cstring>

namespace quendril::lineemu {

namespace {

long long monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// After EIO (no slave open) the master is left alone this long instead of
// spinning on its hang-up state.
constexpr double kQuietNs = 20e6;

}  // namespace

Relay::Relay(const Config& config, int masterA, int masterB)
    : dirs_{Way{masterA, masterB, LineDirection(config.format, config.latencyAbMs, config.faults, 0)},
            Way{masterB, masterA, LineDirection(config.format, config.latencyBaMs, config.faults, 1)}},
      startNs_(monotonicNs()) {}

double Relay::now() const { return static_cast<double>(monotonicNs() - startNs_); }

void Relay::readSide(Way& w, double t) {
    size_t room = std::min<size_t>(w.line.room(t), 4096);
    if (room == 0 || t < w.fromQuietUntil) return;
    uint8_t buf[4096];
    ssize_t n = ::read(w.from, buf, room);
    if (n > 0) {
        w.line.accept(buf, static_cast<size_t>(n), t);
    } else if (n < 0 && errno == EIO) {
        w.fromQuietUntil = t + kQuietNs;
    }
}

void Relay::writeSide(Way& w) {
    const auto& pending = w.line.backlog();
    if (pending.empty()) return;
    ssize_t n = ::write(w.to, pending.data(), pending.size());
    if (n > 0) w.line.consumed(static_cast<size_t>(n));
}

int Relay::pollTimeoutMs(double t, bool watchParent) const {
    double wake = -1;
    for (const auto& w : dirs_) {
        double d = w.line.nextWake(t);
        if (d >= 0 && (wake < 0 || d < wake)) wake = d;
        if (w.fromQuietUntil > t && (wake < 0 || w.fromQuietUntil < wake)) wake = w.fromQuietUntil;
    }
    // A parent is checked for once a second.
    if (wake < 0) return watchParent ? 1000 : -1;
    // Rounded up: waking early would only spin.
    int ms = static_cast<int>(std::ceil(std::max(0.0, wake - t) / 1e6));
    return watchParent ? std::min(ms, 1000) : ms;
}

void Relay::run(int stopFd, bool watchParent) {
    const pid_t parent = ::getppid();
    for (;;) {
        if (watchParent && ::getppid() != parent) return;
        double t = now();
        for (auto& w : dirs_) {
            w.line.releaseDue(t);
            writeSide(w);
        }
        // Slot 0 is the stop descriptor, slot 1+i the master that way i reads from.
        pollfd fds[3] = {{stopFd, POLLIN, 0}, {dirs_[0].from, 0, 0}, {dirs_[1].from, 0, 0}};
        for (size_t i = 0; i < 2; ++i) {
            const Way& w = dirs_[i];
            if (w.line.room(t) > 0 && t >= w.fromQuietUntil) fds[1 + i].events |= POLLIN;
            // The master way i reads from is the one the other way writes to.
            if (!dirs_[1 - i].line.backlog().empty()) fds[1 + i].events |= POLLOUT;
            // Hang-up is reported even with no events asked for; skip the master then.
            if (fds[1 + i].events == 0) fds[1 + i].fd = -1;
        }
        int rc = ::poll(fds, 3, pollTimeoutMs(t, watchParent));
        if (rc < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (rc > 0 && (fds[0].revents & POLLIN)) return;
        t = now();
        for (size_t i = 0; i < 2; ++i) {
            if (fds[1 + i].revents & (POLLIN | POLLHUP | POLLERR)) readSide(dirs_[i], t);
        }
    }
}

std::string formatCounters(const DirectionCounters& ab, const DirectionCounters& ba) {
    std::ostringstream out;
    auto put = [&out](const char* prefix, const DirectionCounters& c) {
        out << prefix << "_bytes_in=" << c.bytesIn << '\n'
            << prefix << "_bytes_delivered=" << c.bytesDelivered << '\n'
            << prefix << "_bits_flipped=" << c.bitsFlipped << '\n'
            << prefix << "_bytes_dropped=" << c.bytesDropped << '\n'
            << prefix << "_bytes_lost_outage=" << c.bytesLostOutage << '\n'
            << prefix << "_bytes_overrun=" << c.bytesOverrun << '\n';
    };
    put("ab", ab);
    put("ba", ba);
    return out.str();
}

}  // namespace quendril::lineemu
