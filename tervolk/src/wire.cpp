#include "wire.h"

#include <cstring>

#include "codec.h"

namespace tvk {

std::vector<uint8_t> encodeRecord(const Record& r) {
    std::vector<uint8_t> p(r.htId, r.htId + 6);
    p.insert(p.end(), r.aux1, r.aux1 + 2);
    p.push_back(r.transDir);
    p.push_back(r.transType);
    putLe(p, r.fileCount, 4);
    putLe(p, r.totalSize, 8);
    return p;
}

bool decodeRecord(const std::vector<uint8_t>& p, Record& r) {
    if (p.size() != kRecordLen) return false;
    std::memcpy(r.htId, p.data(), 6);
    std::memcpy(r.aux1, p.data() + 6, 2);
    r.transDir = p[8];
    r.transType = p[9];
    r.fileCount = uint32_t(getLe(p.data() + 10, 4));
    r.totalSize = getLe(p.data() + 14, 8);
    return true;
}

std::vector<uint8_t> encodeStart(const StartJob& s) {
    std::vector<uint8_t> p{s.dir, s.transType};
    putLe(p, s.fileCount, 4);
    putLe(p, s.totalSize, 8);
    if (s.version >= 2) p.insert(p.end(), {s.version, s.features});
    return p;
}

bool decodeStart(const std::vector<uint8_t>& p, StartJob& s) {
    if (p.size() < kStartLen || p[0] > 1) return false;
    const bool later = p.size() >= kStartLen + 2 && p[kStartLen] >= 2;
    if (p.size() != kStartLen && !later) return false;
    s.dir = p[0];
    s.transType = p[1];
    s.fileCount = uint32_t(getLe(p.data() + 2, 4));
    s.totalSize = getLe(p.data() + 6, 8);
    s.version = later ? p[kStartLen] : 1;
    s.features = later ? p[kStartLen + 1] : 0;
    return true;
}

Hello decodeHello(const std::vector<uint8_t>& p) {
    Hello h;
    if (!p.empty() && p[0] >= 2) h.version = p[0];
    if (p.size() >= 2 && h.version >= 2) h.features = p[1];
    if (p.size() >= 5 && h.version >= 2) {
        h.frameMax = uint16_t(getLe(p.data() + 2, 2));
        h.window = p[4];
    }
    return h;
}

}  // namespace tvk
