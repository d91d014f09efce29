#include "codec.h"

#include <array>

#include "tvkline.h"

namespace tvk {

namespace {

constexpr uint32_t kCastagnoli = 0x82F63B78u;

// Slice-by-8 tables: the line rate never needs them, but the whole-file
// check of a large received file does. A box uses tvkline's 64-byte table
// instead (tvk_crc32c), which every frame between the two checks against this.
struct CrcTables {
    std::array<std::array<uint32_t, 256>, 8> t{};
    constexpr CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kCastagnoli : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};

constexpr CrcTables kTables;

}  // namespace

uint32_t crc32c(const void* data, size_t n, uint32_t prev) {
    const auto* p = static_cast<const uint8_t*>(data);
    const auto& t = kTables.t;
    uint32_t c = ~prev;
    while (n >= 8) {
        uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return ~c;
}

void cobsEncode(const uint8_t* in, size_t n, unsigned maxCode, std::vector<uint8_t>& out) {
    size_t codeAt = out.size();
    out.push_back(0);
    unsigned code = 1;
    for (size_t i = 0; i < n; ++i) {
        if (in[i] == 0) {
            out[codeAt] = uint8_t(code);
            codeAt = out.size();
            out.push_back(0);
            code = 1;
            continue;
        }
        out.push_back(in[i]);
        if (++code == maxCode) {
            out[codeAt] = uint8_t(code);
            codeAt = out.size();
            out.push_back(0);
            code = 1;
        }
    }
    out[codeAt] = uint8_t(code);
}

namespace {

// Appends what a C decoder of the line (tvkline.h) makes of n characters,
// which is never more than n bytes.
template <class Decode>
bool appendDecoded(std::vector<uint8_t>& out, size_t n, Decode&& decode) {
    const size_t at = out.size();
    out.resize(at + n);
    const long got = decode(out.data() + at);
    out.resize(got < 0 ? at : at + size_t(got));
    return got >= 0;
}

}  // namespace

bool cobsDecode(const uint8_t* in, size_t n, unsigned maxCode, std::vector<uint8_t>& out) {
    return appendDecoded(out, n, [&](uint8_t* to) { return tvk_cobs_decode(in, n, maxCode, to); });
}

size_t cobsBound(size_t n, unsigned maxCode) { return tvk_cobs_bound(n, maxCode); }

void pack7(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    for (size_t g = 0; g < n; g += 7) {
        size_t k = n - g < 7 ? n - g : 7;
        uint8_t high = 0;
        for (size_t j = 0; j < k; ++j) {
            out.push_back(in[g + j] & 0x7F);
            high = uint8_t(high | ((in[g + j] >> 7) << j));
        }
        out.push_back(high);
    }
}

bool unpack7(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    return appendDecoded(out, n, [&](uint8_t* to) { return tvk_unpack7(in, n, to); });
}

size_t pack7Length(size_t n) { return tvk_pack7_length(n); }

void putVarint(std::vector<uint8_t>& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}

bool getVarint(const uint8_t* p, size_t n, size_t& pos, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (pos >= n) return false;
        uint8_t b = p[pos++];
        if (shift == 63 && b > 1) return false;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

size_t varintLength(uint64_t v) {
    size_t len = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++len;
    }
    return len;
}

void putLe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

uint64_t getLe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

}  // namespace tvk
