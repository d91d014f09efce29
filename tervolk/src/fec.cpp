#include "fec.h"

#include <algorithm>

#include "tvkline.h"
#include "tvkrs.h"

namespace tvk {

namespace {

size_t codewordsFor(size_t n, int t) {
    const size_t k = 255 - size_t(2 * t);
    return (n + k - 1) / k;
}

// Body bytes of codeword j among c.
size_t dataBytes(size_t n, size_t c, size_t j) { return (n - j + c - 1) / c; }

uint8_t vote(uint8_t a, uint8_t b, uint8_t c) { return uint8_t((a & b) | (a & c) | (b & c)); }

}  // namespace

size_t fecLength(size_t n, int t) { return tvk_fec_length(n, t); }

void fecProtect(const uint8_t* body, size_t n, int t, std::vector<uint8_t>& out) {
    const size_t c = codewordsFor(n, t), roots = size_t(2 * t);
    const uint8_t h = uint8_t(0x80 | t);
    out.insert(out.end(), {h, h, h});
    const size_t bodyAt = out.size();
    out.insert(out.end(), body, body + n);
    const size_t parityAt = out.size();
    out.resize(parityAt + c * roots);
    uint8_t data[255], parity[TVK_RS_MAX_ROOTS];
    for (size_t j = 0; j < c; ++j) {
        const size_t k = dataBytes(n, c, j);
        for (size_t i = 0; i < k; ++i) data[i] = out[bodyAt + j + i * c];
        tvk_rs_encode(data, k, parity, int(roots));
        for (size_t r = 0; r < roots; ++r) out[parityAt + r * c + j] = parity[r];
    }
}

bool fecRepair(const uint8_t* block, size_t len, std::vector<uint8_t>& body, int& strength, int& corrected) {
    if (len < kFecHeaderLen) return false;
    const uint8_t h = vote(block[0], block[1], block[2]);
    const int t = h & 0x0F;
    if ((h & 0xF0) != 0x80 || t < 1 || t > kFecMaxStrength) return false;
    const size_t roots = size_t(2 * t), total = len - kFecHeaderLen;
    // The codeword count follows from the length alone.
    size_t c = 1, n = 0;
    for (;; ++c) {
        if (c * roots >= total) return false;
        n = total - c * roots;
        if (codewordsFor(n, t) == c) break;
    }
    const uint8_t* in = block + kFecHeaderLen;
    body.assign(in, in + n);
    corrected = 0;
    uint8_t cw[255];
    for (size_t j = 0; j < c; ++j) {
        const size_t k = dataBytes(n, c, j);
        for (size_t i = 0; i < k; ++i) cw[i] = in[j + i * c];
        for (size_t r = 0; r < roots; ++r) cw[k + r] = in[n + r * c + j];
        int fixed = tvk_rs_decode(cw, k + roots, int(roots));
        if (fixed < 0) return false;
        if (fixed == 0) continue;
        corrected += fixed;
        for (size_t i = 0; i < k; ++i) body[j + i * c] = cw[i];
    }
    strength = t;
    return true;
}

}  // namespace tvk
