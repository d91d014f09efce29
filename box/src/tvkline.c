/* The line codecs shared by the box and the PC's library (tvkline.h). */
#include "tvkline.h"

#define HEADER_LEN 4
#define CRC_LEN 4
#define FEC_HEADER 3

uint32_t tvk_crc32c(uint32_t prev, const void *data, size_t n) {
    static const uint32_t nibble[16] = {
        0x00000000u, 0x105EC76Fu, 0x20BD8EDEu, 0x30E349B1u, 0x417B1DBCu, 0x5125DAD3u, 0x61C69362u, 0x7198540Du,
        0x82F63B78u, 0x92A8FC17u, 0xA24BB5A6u, 0xB21572C9u, 0xC38D26C4u, 0xD3D3E1ABu, 0xE330A81Au, 0xF36E6F75u};
    const uint8_t *p = (const uint8_t *)data;
    uint32_t c = ~prev;
    while (n--) {
        c ^= *p++;
        c = (c >> 4) ^ nibble[c & 15u];
        c = (c >> 4) ^ nibble[c & 15u];
    }
    return ~c;
}

long tvk_cobs_decode(const uint8_t *in, size_t n, unsigned max_code, uint8_t *out) {
    size_t i = 0, o = 0;
    while (i < n) {
        unsigned code = in[i++], k;
        if (code == 0 || code > max_code || i + code - 1 > n) return -1;
        for (k = 1; k < code; ++k) {
            if (in[i] == 0) return -1;
            out[o++] = in[i++];
        }
        if (code < max_code && i < n) out[o++] = 0;
    }
    return (long)o;
}

size_t tvk_cobs_bound(size_t n, unsigned max_code) { return n + n / (max_code - 1) + 1; }

long tvk_unpack7(const uint8_t *in, size_t n, uint8_t *out) {
    size_t g, o = 0;
    for (g = 0; g < n; g += 8) {
        size_t k = n - g < 8 ? n - g : 8, j;
        uint8_t high;
        if (k < 2) return -1;
        high = in[g + k - 1];
        if (high >> (k - 1)) return -1;
        for (j = 0; j + 1 < k; ++j) {
            if (in[g + j] & 0x80) return -1;
            out[o++] = (uint8_t)(in[g + j] | (((high >> j) & 1u) << 7));
        }
    }
    return (long)o;
}

size_t tvk_pack7_length(size_t n) { return n + (n + 6) / 7; }

static size_t codewords_for(size_t n, int t) {
    const size_t k = 255 - (size_t)(2 * t);
    return (n + k - 1) / k;
}

size_t tvk_fec_length(size_t n, int t) {
    return t == 0 ? n : FEC_HEADER + n + codewords_for(n, t) * (size_t)(2 * t);
}

size_t tvk_max_payload_at(size_t frame_max, int t) {
    const size_t limit = HEADER_LEN + frame_max + CRC_LEN;
    const size_t overhead = HEADER_LEN + CRC_LEN + FEC_HEADER + codewords_for(limit, t) * (size_t)(2 * t);
    size_t payload;
    if (t == 0) return frame_max;
    if (limit <= overhead) return 0;
    /* The parity of the longest body is the most the answer can need, so
     * this fits; the loop then takes what the parity of a shorter body
     * leaves. */
    payload = limit - overhead;
    while (tvk_fec_length(HEADER_LEN + payload + 1 + CRC_LEN, t) <= limit) ++payload;
    return payload;
}

size_t tvk_encoded_length(size_t n, int seven_bits, int t) {
    size_t chars = tvk_fec_length(HEADER_LEN + n + CRC_LEN, t);
    if (seven_bits) chars = tvk_pack7_length(chars);
    return tvk_cobs_bound(chars, seven_bits ? 127u : 255u) + 1;
}
