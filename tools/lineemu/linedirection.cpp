#include "linedirection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quendril::lineemu {

namespace {

constexpr double kMs = 1e6;

// Uniform in (0, 1]; the generator's output is fixed by the standard, so a
// seed gives the same faults on every platform.
double uniform01(std::mt19937_64& rng) {
    return (static_cast<double>(rng() >> 11) + 1.0) * 0x1.0p-53;
}

}  // namespace

LineDirection::LineDirection(const LineFormat& format, double latencyMs, const Faults& faults,
                             uint64_t streamId)
    : charTime_(format.charTimeNs()),
      latency_(latencyMs * kMs),
      // Read a few milliseconds ahead so scheduling jitter does not idle the line.
      window_(std::max(5 * kMs, 16 * format.charTimeNs())),
      dataBits_(format.dataBits),
      mask_(static_cast<uint8_t>((1u << format.dataBits) - 1)),
      faults_(faults),
      outageStart_(static_cast<double>(faults.outageStartMs) * kMs),
      outageEnd_(static_cast<double>(faults.outageStartMs + faults.outageLenMs) * kMs),
      dropRng_(faults.seed * 2654435761u + streamId * 2 + 1),
      bitRng_(faults.seed * 2654435761u + streamId * 2 + 2) {
    if (faults_.bitErrorRate > 0) drawNextErrorGap();
}

size_t LineDirection::room(double now) const {
    double ahead = std::max(0.0, lineFree_ - now);
    if (ahead >= window_) return 0;
    return static_cast<size_t>((window_ - ahead) / charTime_) + 1;
}

void LineDirection::accept(const uint8_t* data, size_t n, double now) {
    for (size_t i = 0; i < n; ++i) {
        double start = std::max(now, lineFree_);
        lineFree_ = start + charTime_;
        ++counters_.bytesIn;
        if (inOutage(start)) {
            ++counters_.bytesLostOutage;
            continue;
        }
        if (drawDrop()) {
            ++counters_.bytesDropped;
            continue;
        }
        uint8_t byte = static_cast<uint8_t>(flipBits(data[i]) & mask_);
        inFlight_.push_back({lineFree_ + latency_, byte});
    }
}

void LineDirection::releaseDue(double now) {
    while (!inFlight_.empty() && inFlight_.front().deliverAt <= now) {
        if (backlog_.size() < kBacklogLimit) {
            backlog_.push_back(inFlight_.front().byte);
            ++counters_.bytesDelivered;
        } else {
            ++counters_.bytesOverrun;
        }
        inFlight_.pop_front();
    }
}

void LineDirection::consumed(size_t n) {
    backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(n));
}

double LineDirection::nextWake(double now) const {
    double wake = -1;
    if (!inFlight_.empty()) wake = inFlight_.front().deliverAt;
    // Come back when half the read-ahead window is used up.
    double refill = lineFree_ - window_ / 2;
    if (refill > now && (wake < 0 || refill < wake)) wake = refill;
    return wake;
}

bool LineDirection::inOutage(double start) const {
    return faults_.outageLenMs > 0 && start >= outageStart_ && start < outageEnd_;
}

bool LineDirection::drawDrop() {
    return faults_.dropRate > 0 && uniform01(dropRng_) <= faults_.dropRate;
}

// The gap to the next flipped bit is geometric, so a low rate costs one draw
// per error rather than one per bit.
void LineDirection::drawNextErrorGap() {
    if (faults_.bitErrorRate >= 1.0) {
        bitsToNextError_ = 0;
        return;
    }
    double gap = std::floor(std::log(uniform01(bitRng_)) / std::log1p(-faults_.bitErrorRate));
    bitsToNextError_ = gap >= 9e18 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(gap);
}

uint8_t LineDirection::flipBits(uint8_t byte) {
    if (faults_.bitErrorRate <= 0) return byte;
    auto bits = static_cast<uint64_t>(dataBits_);
    uint64_t pos = 0;
    while (bitsToNextError_ < bits - pos) {
        pos += bitsToNextError_;
        byte = static_cast<uint8_t>(byte ^ (1u << pos));
        ++counters_.bitsFlipped;
        ++pos;
        drawNextErrorGap();
    }
    bitsToNextError_ -= bits - pos;
    return byte;
}

}  // namespace quendril::lineemu
