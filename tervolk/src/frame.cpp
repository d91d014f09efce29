#include "frame.h"

#include <cstdio>

#include "codec.h"
#include "fec.h"
#include "tvkline.h"

namespace tvk {

namespace {

unsigned maxCode(bool seven) { return seven ? 127u : 255u; }

}  // namespace

const char* frameTypeName(FrameType t) {
    switch (t) {
    case FrameType::Poll: return "POLL";
    case FrameType::NoTerm: return "NOTERM";
    case FrameType::Idle: return "IDLE";
    case FrameType::Record: return "RECORD";
    case FrameType::Start: return "START";
    case FrameType::Ready: return "READY";
    case FrameType::Data: return "DATA";
    case FrameType::AckReq: return "ACKREQ";
    case FrameType::Ack: return "ACK";
    case FrameType::Rr: return "RR";
    case FrameType::Done: return "DONE";
    case FrameType::Disc: return "DISC";
    case FrameType::Ua: return "UA";
    case FrameType::Abort: return "ABORT";
    case FrameType::Reject: return "REJECT";
    case FrameType::Frag: return "FRAG";
    }
    return "?";
}

void encodeFrame(const Frame& f, bool sevenBits, std::vector<uint8_t>& out) {
    std::vector<uint8_t> body;
    body.reserve(kHeaderLen + f.payload.size() + kCrcLen);
    body.push_back(f.addr);
    body.push_back(uint8_t(uint8_t(f.type) | (f.pf ? 0x80 : 0) | (f.fromBox ? 0x40 : 0)));
    putLe(body, f.seq, 2);
    body.insert(body.end(), f.payload.begin(), f.payload.end());
    putLe(body, crc32c(body.data(), body.size()), 4);
    if (f.fec > 0) {
        std::vector<uint8_t> protectedBody;
        fecProtect(body.data(), body.size(), f.fec, protectedBody);
        body.swap(protectedBody);
    }
    if (sevenBits) {
        std::vector<uint8_t> packed;
        pack7(body.data(), body.size(), packed);
        body.swap(packed);
    }
    cobsEncode(body.data(), body.size(), maxCode(sevenBits), out);
    out.push_back(0);
}

size_t encodedLength(size_t payloadLen, bool sevenBits, int fec) { return tvk_encoded_length(payloadLen, sevenBits, fec); }

size_t maxPayloadAt(int fec, size_t frameMax) { return tvk_max_payload_at(frameMax, fec); }

FrameDecoder::FrameDecoder(bool sevenBits)
    : seven_(sevenBits), maxEncoded_(encodedLength(kMaxPayload, sevenBits)) {}

void FrameDecoder::feed(const uint8_t* p, size_t n, std::vector<Frame>& frames) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = seven_ ? uint8_t(p[i] & 0x7F) : p[i];
        if (c == 0) {
            if (!skipping_) finish(frames);
            skipping_ = false;
            buf_.clear();
            continue;
        }
        if (skipping_) continue;
        if (buf_.size() >= maxEncoded_) {
            ++overlong;
            skipping_ = true;
            buf_.clear();
            continue;
        }
        buf_.push_back(c);
    }
}

void FrameDecoder::finish(std::vector<Frame>& frames) {
    if (buf_.empty()) return;
    stage_.clear();
    if (!cobsDecode(buf_.data(), buf_.size(), maxCode(seven_), stage_)) {
        ++crcErrors;
        return;
    }
    const std::vector<uint8_t>* body = &stage_;
    if (seven_) {
        body_.clear();
        if (!unpack7(stage_.data(), stage_.size(), body_)) {
            ++crcErrors;
            return;
        }
        body = &body_;
    }
    Frame f;
    if (accept(*body, f)) {
        frames.push_back(std::move(f));
        return;
    }
    // Not a plain frame: perhaps a protected one that a repair restores.
    int strength = 0, corrected = 0;
    if (fecRepair(body->data(), body->size(), repairedBody_, strength, corrected) && accept(repairedBody_, f)) {
        f.fec = uint8_t(strength);
        f.corrected = uint16_t(corrected);
        if (corrected > 0) ++repaired;
        frames.push_back(std::move(f));
        return;
    }
    ++crcErrors;
}

bool FrameDecoder::accept(const std::vector<uint8_t>& body, Frame& f) const {
    const size_t len = body.size();
    if (len < kHeaderLen + kCrcLen || len > kMaxBody) return false;
    const uint8_t* b = body.data();
    if (crc32c(b, len - kCrcLen) != uint32_t(getLe(b + len - kCrcLen, 4))) return false;
    f.addr = b[0];
    f.type = FrameType(b[1] & 0x3F);
    f.pf = (b[1] & 0x80) != 0;
    f.fromBox = (b[1] & 0x40) != 0;
    f.seq = uint16_t(getLe(b + 2, 2));
    f.payload.assign(b + kHeaderLen, b + len - kCrcLen);
    return true;
}

std::string describeFrame(const Frame& f) {
    char line[128];
    int n = std::snprintf(line, sizeof line, "box=%u %s%s seq=%u len=%zu", unsigned(f.addr), frameTypeName(f.type),
                          f.pf ? " P/F" : "", unsigned(f.seq), f.payload.size());
    if (f.fec > 0 && n > 0)
        std::snprintf(line + n, sizeof line - size_t(n), " fec=%u fixed=%u", unsigned(f.fec), unsigned(f.corrected));
    return line;
}

}  // namespace tvk
