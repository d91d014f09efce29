#include "linescript.h"

#include <algorithm>

namespace fuzzline {

std::vector<Record> parseScript(const uint8_t* data, size_t size) {
    std::vector<Record> records;
    size_t pos = 0;
    while (size - pos >= 6) {
        const uint8_t* h = data + pos;
        Record r;
        r.newTurn = (h[0] & 0x40) != 0;
        r.echo = (h[0] & 0x20) != 0;
        const uint8_t type = h[0] & 0x1F;
        const size_t len = std::min<size_t>(size_t(h[4]) | size_t(h[5]) << 8, size - pos - 6);
        const uint8_t* payload = h + 6;
        pos += 6 + len;
        if (type == kRawType) {
            r.raw = true;
            r.rawBytes.assign(payload, payload + len);
        } else {
            r.frame.type = tvk::FrameType(type);
            r.frame.pf = (h[0] & 0x80) != 0;
            r.frame.addr = h[1] < 0x80 ? 1 : uint8_t(h[1] & 0x7F);
            r.frame.seq = uint16_t(h[2] | h[3] << 8);
            r.frame.payload.assign(payload, payload + len);
        }
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<std::vector<uint8_t>> lineTurns(const std::vector<Record>& records, bool sevenBits, bool fromBox) {
    std::vector<std::vector<uint8_t>> turns(1);
    for (const Record& r : records) {
        if (r.newTurn) turns.emplace_back();
        if (r.raw) {
            turns.back().insert(turns.back().end(), r.rawBytes.begin(), r.rawBytes.end());
            continue;
        }
        tvk::Frame f = r.frame;
        f.fromBox = fromBox != r.echo;
        tvk::encodeFrame(f, sevenBits, turns.back());
    }
    return turns;
}

void appendRecord(std::vector<uint8_t>& out, const tvk::Frame& f, bool newTurn, bool echo) {
    out.push_back(uint8_t(uint8_t(f.type) | (f.pf ? 0x80 : 0) | (newTurn ? 0x40 : 0) | (echo ? 0x20 : 0)));
    out.push_back(f.addr == 1 ? 0 : uint8_t(f.addr | 0x80));
    out.push_back(uint8_t(f.seq));
    out.push_back(uint8_t(f.seq >> 8));
    out.push_back(uint8_t(f.payload.size()));
    out.push_back(uint8_t(f.payload.size() >> 8));
    out.insert(out.end(), f.payload.begin(), f.payload.end());
}

}  // namespace fuzzline
