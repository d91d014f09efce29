#include "link.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "tervolk.h"

namespace tvk {

namespace {

constexpr auto kSlice = Ms(10);

}  // namespace

Link::Link(Port& port, const LineTimers& timers) : port_(port), t_(timers), decoder_(timers.sevenBits) {
    busyUntil_ = Clock::now();
    lastPump_ = busyUntil_;
}

uint32_t Link::takeStatus() {
    readAvailable();
    uint32_t s = status_;
    status_ = 0;
    return s;
}

void Link::note(const char* dir, const Frame& f) const {
    if (!debug_) return;
    static const auto t0 = Clock::now();
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::fprintf(stderr, "%s %10.1f %s %s\n", who_, ms, dir, describeFrame(f).c_str());
}

void Link::report(const std::string& text) const {
    if (debug_) std::fprintf(stderr, "%s %s\n", who_, text.c_str());
}

void Link::pumpIfDue() {
    auto now = Clock::now();
    if (hooks_ && now - lastPump_ >= kSlice) {
        lastPump_ = now;
        hooks_->pump();
    }
}

Got Link::send(const Frame& f, bool evenWhenStopping) {
    if (fatal_) return Got::Fatal;
    if (!evenWhenStopping && hooks_ && hooks_->stopping()) return Got::Stopped;
    out_.clear();
    // After a silence, a leading delimiter ends any garbage on the line.
    if (busyUntil_ < Clock::now()) out_.push_back(0);
    Frame marked = f;
    marked.fromBox = boxSide_;
    encodeFrame(marked, t_.sevenBits, out_);
    note(">", marked);
    ++framesSent;
    size_t done = 0;
    while (done < out_.size()) {
        long w = port_.writeSome(out_.data() + done, out_.size() - done);
        if (w < 0) {
            fatal_ = true;
            status_ |= TVK_ES_FATAL;
            return Got::Fatal;
        }
        if (w > 0) {
            auto now = Clock::now();
            busyUntil_ = std::max(busyUntil_, now) + lineTime(size_t(w));
            done += size_t(w);
            continue;
        }
        // The driver's buffer is full: keep reading so the peer never
        // blocks on us, and keep the caller's window alive.
        if (!awaitPort(true, Clock::time_point::max())) return Got::Fatal;
    }
    return Got::Frame;
}

bool Link::readAvailable() {
    if (fatal_) return false;
    uint8_t buf[4096];
    bool any = false;
    for (;;) {
        long n = port_.readSome(buf, sizeof buf);
        if (n < 0) {
            fatal_ = true;
            status_ |= TVK_ES_FATAL;
            return any;
        }
        if (n == 0) break;
        any = true;
        lastInput_ = Clock::now();
        uint32_t lineErr = port_.takeLineErrors();
        status_ |= lineErr;
        if (readyAt_ == ready_.size()) {
            ready_.clear();
            readyAt_ = 0;
        }
        decoder_.feed(buf, size_t(n), ready_);
        if (decoder_.overlong != overlongSeen_) {
            overlongSeen_ = decoder_.overlong;
            status_ |= TVK_ES_BUFFULL;
        }
        // A flood of frames nobody reads must not grow without bound.
        if (ready_.size() - readyAt_ > 256) {
            ready_.erase(ready_.begin(), ready_.begin() + long(ready_.size() - 256));
            readyAt_ = 0;
            status_ |= TVK_ES_OVERRUN;
        }
        if (size_t(n) < sizeof buf) break;
    }
    return any;
}

bool Link::takeReady(Frame& f) {
    while (readyAt_ < ready_.size()) {
        f = std::move(ready_[readyAt_++]);
        if (f.fromBox == boxSide_) continue;  // our own side's frame, echoed
        ++framesReceived;
        note("<", f);
        return true;
    }
    return false;
}

bool Link::poll(Frame& f) {
    readAvailable();
    return takeReady(f);
}

bool Link::awaitPort(bool wantWrite, Clock::time_point deadline) {
    const auto slice = hooks_ ? hooks_->slice() : kSlice;
    const auto left = std::chrono::ceil<Ms>(std::min(deadline - Clock::now(), slice));
    // The port tells when input is there: an idle wait costs no read.
    int r = port_.wait(wantWrite, int(std::max<Ms::rep>(left.count(), 0)));
    if (r < 0) {
        fatal_ = true;
        status_ |= TVK_ES_FATAL;
        return false;
    }
    if (r & kReadable) readAvailable();
    pumpIfDue();
    return true;
}

Got Link::receive(Frame& f, Clock::time_point deadline) {
    for (;;) {
        if (takeReady(f)) return Got::Frame;
        if (fatal_) return Got::Fatal;
        if (hooks_ && hooks_->stopping()) return Got::Stopped;
        // A last look at the deadline takes what came as the wait ended.
        if (Clock::now() >= deadline) return poll(f) ? Got::Frame : Got::Timeout;
        if (!awaitPort(false, deadline)) return Got::Fatal;
    }
}

Got Link::sleepUntil(Clock::time_point deadline) {
    for (;;) {
        if (fatal_) return Got::Fatal;
        if (hooks_ && hooks_->stopping()) return Got::Stopped;
        if (Clock::now() >= deadline) return Got::Timeout;
        // Waiting on the port rather than sleeping lets a stop end the wait.
        if (!awaitPort(false, deadline)) return Got::Fatal;
    }
}

void Link::drain() {
    // tcdrain() returns at once on a pseudo-terminal: wait the line time.
    auto until = busyUntil_ + Ms(2);
    while (Clock::now() < until) std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), kSlice));
}

}  // namespace tvk
