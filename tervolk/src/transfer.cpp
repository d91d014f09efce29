#include "transfer.h"

#include <algorithm>

#include "codec.h"
#include "fec.h"

namespace tvk {

std::vector<uint8_t> encodeAck(const AckInfo& a, bool withCorrected) {
    std::vector<uint8_t> p;
    putLe(p, a.cum, 2);
    putLe(p, a.bits[0], 8);
    putLe(p, a.bits[1], 8);
    p.push_back(a.flags);
    if (withCorrected) putLe(p, a.corrected, 4);
    return p;
}

bool decodeAck(const std::vector<uint8_t>& p, AckInfo& a) {
    // Later versions may append fields.
    if (p.size() != kAckLen && p.size() < kAckLenV2) return false;
    a.cum = uint16_t(getLe(p.data(), 2));
    a.bits[0] = getLe(p.data() + 2, 8);
    a.bits[1] = getLe(p.data() + 10, 8);
    a.flags = p[18];
    a.corrected = p.size() >= kAckLenV2 ? uint32_t(getLe(p.data() + kAckLen, 4)) : 0;
    return true;
}

ReceiverLimits limitsOf(const Hello& box) {
    ReceiverLimits l;
    if (box.frameMax) l.frameMax = std::clamp<size_t>(box.frameMax, kFrameMaxLeast, kMaxPayload);
    if (box.window) l.window = std::min<size_t>(box.window, kWindowMax);
    return l;
}

WindowSender::WindowSender(BatchReader& reader, uint8_t addr, const LineTimers& timers, bool mayProtect,
                           const ReceiverLimits& limits)
    : reader_(reader), addr_(addr), limits_(limits) {
    tvk_shape_init(&shape_, uint32_t(std::min(frameBytesFor(timers), limits.frameMax)),
                   uint32_t(windowBytesFor(timers)), uint32_t(limits.frameMax), mayProtect ? kFecMaxStrength : 0);
}

void WindowSender::addFrame(std::vector<Frame>& win, const Out& o, bool resend) const {
    Frame f;
    f.addr = addr_;
    f.seq = o.seq;
    f.fec = shape_.strength;
    // A frame built larger than the line now carries (or than a frame at
    // today's strength may be) goes again in pieces of the current size.
    const size_t largest = maxPayloadAt(shape_.strength, limits_.frameMax);
    const size_t unit = std::min<size_t>(shape_.frame_size, largest - 2);
    if (o.payload.size() <= largest && (!resend || o.payload.size() <= shape_.frame_size * 2)) {
        f.type = FrameType::Data;
        f.payload = o.payload;
        win.push_back(std::move(f));
        return;
    }
    f.type = FrameType::Frag;
    size_t count = std::min<size_t>((o.payload.size() + unit - 1) / unit, 255);
    size_t piece = (o.payload.size() + count - 1) / count;
    for (size_t k = 0; k < count; ++k) {
        size_t from = k * piece, to = std::min(o.payload.size(), from + piece);
        f.payload = {uint8_t(k), uint8_t(count)};
        f.payload.insert(f.payload.end(), o.payload.begin() + long(from), o.payload.begin() + long(to));
        win.push_back(f);
    }
}

std::vector<Frame> WindowSender::buildWindow() {
    std::vector<Frame> win;
    size_t bytes = 0;
    for (Out& o : outstanding_) {
        o.inLastWindow = !o.acked;
        if (!o.acked) {
            addFrame(win, o, true);
            bytes += o.payload.size();
            ++stats_.framesResent;
        }
    }
    while (outstanding_.size() < limits_.window && bytes < shape_.window_bytes && !reader_.exhausted()) {
        Out o{nextSeq_, {}, false, true};
        const size_t limit = std::min<size_t>(shape_.frame_size, maxPayloadAt(shape_.strength, limits_.frameMax));
        o.payload.reserve(limit);
        reader_.fill(o.payload, limit);
        if (o.payload.empty()) break;
        bytes += o.payload.size();
        ++nextSeq_;
        outstanding_.push_back(std::move(o));
        addFrame(win, outstanding_.back(), false);
    }
    stats_.framesSent += win.size();
    return win;
}

Got WindowSender::sendWindow(Link& link) {
    std::vector<Frame> win = buildWindow();
    if (win.empty()) return Got::Frame;
    ++stats_.windows;
    win.back().pf = true;
    lastPollSeq_ = win.back().seq;
    for (const Frame& f : win) {
        Got g = link.send(f);
        if (g != Got::Frame) return g;
    }
    return Got::Frame;
}

bool WindowSender::applyAck(const AckInfo& a) {
    if (outstanding_.empty()) return false;
    uint16_t base = outstanding_.front().seq;
    uint16_t ahead = uint16_t(a.cum - base);
    // An acknowledgement from before the window or beyond it is stale.
    if (ahead > outstanding_.size()) return false;
    bool progress = ahead > 0;
    size_t sent = 0, lost = 0, chars = 0;
    for (size_t i = 0; i < outstanding_.size(); ++i) {
        Out& o = outstanding_[i];
        bool got = i < ahead;
        if (!got) {
            uint16_t d = uint16_t(o.seq - a.cum);
            got = d >= 1 && a.has(size_t(d - 1));
        }
        if (got && !o.acked) {
            o.acked = true;
            progress = true;
        }
        if (o.inLastWindow) {
            ++sent;
            chars += encodedLength(o.payload.size(), false, shape_.strength);
            if (!o.acked) ++lost;
            o.inLastWindow = false;
        }
    }
    while (!outstanding_.empty() && outstanding_.front().acked && uint16_t(outstanding_.front().seq - a.cum) >= 0x8000)
        outstanding_.pop_front();
    if (sent) tvk_shape_adapt(&shape_, lost, sent, chars, a.corrected);
    return progress;
}

void WindowReceiver::onData(const Frame& f) {
    corrected += f.corrected;
    store(f.seq, f.payload);
}

void WindowReceiver::onFrag(const Frame& f) {
    corrected += f.corrected;
    if (f.payload.size() < 2 || f.payload[1] == 0 || f.payload[0] >= f.payload[1]) return;
    uint16_t d = uint16_t(f.seq - cum_);
    if (d >= kWindowMax || slots_[f.seq % kWindowMax]) {
        ++duplicates;
        return;
    }
    Pieces& p = pieces_[f.seq % kWindowMax];
    if (p.count != f.payload[1]) {
        p.count = f.payload[1];
        p.parts.assign(p.count, std::nullopt);
        p.bytes = 0;
    }
    auto& part = p.parts[f.payload[0]];
    if (part) p.bytes -= part->size();
    part = std::vector<uint8_t>(f.payload.begin() + 2, f.payload.end());
    p.bytes += part->size();
    // Pieces of one frame never add up to more than a frame: anything more
    // is discarded at once, so a window's partial pieces stay within a
    // frame per slot.
    if (p.bytes > kMaxPayload) {
        p = Pieces{};
        return;
    }
    std::vector<uint8_t> whole;
    for (const auto& piece : p.parts) {
        if (!piece) return;
        whole.insert(whole.end(), piece->begin(), piece->end());
    }
    p = Pieces{};
    store(f.seq, std::move(whole));
}

void WindowReceiver::store(uint16_t seq, std::vector<uint8_t> payload) {
    uint16_t d = uint16_t(seq - cum_);
    if (d >= kWindowMax) {
        ++duplicates;
        return;
    }
    auto& slot = slots_[seq % kWindowMax];
    if (slot) {
        ++duplicates;
        return;
    }
    pieces_[seq % kWindowMax] = Pieces{};
    slot = std::move(payload);
    while (slots_[cum_ % kWindowMax]) {
        auto& s = slots_[cum_ % kWindowMax];
        writer_.consume(s->data(), s->size());
        s.reset();
        ++cum_;
    }
}

size_t WindowReceiver::pieceBytes() const {
    size_t n = 0;
    for (const auto& p : pieces_) n += p.bytes;
    return n;
}

AckInfo WindowReceiver::ack() const {
    AckInfo a;
    a.cum = cum_;
    for (uint16_t d = 1; d < kWindowMax; ++d)
        if (slots_[uint16_t(cum_ + d) % kWindowMax]) a.set(size_t(d - 1));
    a.corrected = corrected;
    if (complete()) a.flags |= kAckComplete;
    if (writer_.failed()) a.flags |= kAckFailed;
    return a;
}

}  // namespace tvk
