/* Frames on the line: the box's frame decoder and encoder. Received frames
 * are decoded in place in the line buffer; frames are encoded on the fly
 * into a small output buffer, so no frame is ever held twice. */
#include <string.h>

#include "boxint.h"
#include "tvkrs.h"

#define HEADER_LEN 4
#define CRC_LEN 4
#define FEC_HEADER 3

uint32_t box_now_us(const tvkbox *b) { return b->now_ms * 1000u; }

uint32_t box_line_us(const tvkbox *b, size_t chars) {
    /* In 32 bits: a box's processor may have no 64-bit division. */
    return (uint32_t)(chars * (b->char_ns / 1000u) + chars * (b->char_ns % 1000u) / 1000u);
}

int box_after(uint32_t a, uint32_t b) { return (int32_t)(a - b) > 0; }

static unsigned max_code(const tvkbox *b) { return b->cfg.seven_bits ? 127u : 255u; }

/* ---- decoding ---- */

static int accept_body(const uint8_t *body, size_t len, boxframe *f) {
    uint32_t crc;
    if (len < HEADER_LEN + CRC_LEN) return 0;
    crc = (uint32_t)body[len - 4] | (uint32_t)body[len - 3] << 8 | (uint32_t)body[len - 2] << 16 |
          (uint32_t)body[len - 1] << 24;
    if (tvk_crc32c(0, body, len - CRC_LEN) != crc) return 0;
    f->addr = body[0];
    f->type = (uint8_t)(body[1] & 0x3F);
    f->pf = (uint8_t)(body[1] >> 7);
    f->seq = (uint16_t)(body[2] | body[3] << 8);
    f->payload = body + HEADER_LEN;
    f->len = len - HEADER_LEN - CRC_LEN;
    f->corrected = 0;
    /* A box ignores its own side's frames: an echoing line returns them. */
    return (body[1] & 0x40) == 0;
}

#if TVKBOX_FEC
static size_t codewords_for(size_t n, int t) {
    const size_t k = 255 - (size_t)(2 * t);
    return (n + k - 1) / k;
}

/* A protected block (line-protocol 2.4), repaired in place; the body then
 * starts 3 bytes in. Returns the body's length, 0 when beyond repair. */
static size_t repair(uint8_t *block, size_t len, uint32_t *corrected) {
    const uint8_t h = (uint8_t)((block[0] & block[1]) | (block[0] & block[2]) | (block[1] & block[2]));
    const int t = h & 0x0F;
    size_t roots, total, c, n = 0, j;
    uint8_t *in = block + FEC_HEADER;
    if ((h & 0xF0) != 0x80 || t < 1 || t > TVK_STRENGTH_MAX) return 0;
    roots = (size_t)(2 * t);
    total = len - FEC_HEADER;
    for (c = 1;; ++c) {
        if (c * roots >= total) return 0;
        n = total - c * roots;
        if (codewords_for(n, t) == c) break;
    }
    *corrected = 0;
    for (j = 0; j < c; ++j) {
        uint8_t cw[255];
        const size_t k = (n - j + c - 1) / c;
        size_t i, r;
        int fixed;
        for (i = 0; i < k; ++i) cw[i] = in[j + i * c];
        for (r = 0; r < roots; ++r) cw[k + r] = in[n + r * c + j];
        fixed = tvk_rs_decode(cw, k + roots, (int)roots);
        if (fixed < 0) return 0;
        *corrected += (uint32_t)fixed;
        for (i = 0; i < k && fixed > 0; ++i) in[j + i * c] = cw[i];
    }
    return n;
}
#endif

static void finish_block(tvkbox *b) {
    long n = tvk_cobs_decode(b->line, b->line_len, max_code(b), b->line);
    boxframe f;
    if (n >= 0 && b->cfg.seven_bits) n = tvk_unpack7(b->line, (size_t)n, b->line);
    if (n < 0) {
        ++b->bad_frames;
        return;
    }
    if (!accept_body(b->line, (size_t)n, &f)) {
#if TVKBOX_FEC
        uint32_t corrected = 0;
        size_t body = b->cfg.version_one || n < FEC_HEADER ? 0 : repair(b->line, (size_t)n, &corrected);
        if (body == 0 || !accept_body(b->line + FEC_HEADER, body, &f)) {
            ++b->bad_frames;
            return;
        }
        f.corrected = corrected;
        if (corrected > 0) ++b->repaired_frames;
#else
        ++b->bad_frames;
        return;
#endif
    }
    box_handle(b, &f);
}

void box_line_input(tvkbox *b, const uint8_t *chars, size_t n) {
    size_t i;
    for (i = 0; i < n; ++i) {
        const uint8_t c = b->cfg.seven_bits ? (uint8_t)(chars[i] & 0x7F) : chars[i];
        if (c == 0) {
            if (!b->line_skipping && b->line_len > 0) finish_block(b);
            b->line_skipping = 0;
            b->line_len = 0;
        } else if (!b->line_skipping) {
            /* A frame longer than ours (another box's, or garbage) is skipped
             * to the next delimiter without being held. */
            if (b->line_len == b->line_cap) {
                b->line_skipping = 1;
                b->line_len = 0;
            } else {
                b->line[b->line_len++] = c;
            }
        }
    }
}

/* ---- encoding ---- */

static void flush_out(tvkbox *b) {
    if (b->out_len == 0) return;
    b->pf.output(b->pf.user, b->out, b->out_len);
    b->out_total += b->out_len;
    b->out_len = 0;
}

static void put_char(tvkbox *b, uint8_t c) {
    b->out[b->out_len++] = c;
    if (b->out_len == sizeof b->out) flush_out(b);
}

static void emit_group(tvkbox *b, size_t code) {
    size_t i;
    put_char(b, (uint8_t)code);
    for (i = 0; i < b->group_len; ++i) put_char(b, b->group[i]);
    b->group_len = 0;
}

static void stuff(tvkbox *b, uint8_t c) {
    if (c == 0) {
        emit_group(b, b->group_len + 1);
        return;
    }
    b->group[b->group_len++] = c;
    if (b->group_len + 1 == max_code(b)) emit_group(b, max_code(b));
}

static void flush_pack7(tvkbox *b) {
    size_t j;
    uint8_t high = 0;
    if (b->p7_len == 0) return;
    for (j = 0; j < b->p7_len; ++j) {
        stuff(b, (uint8_t)(b->p7[j] & 0x7F));
        high = (uint8_t)(high | ((b->p7[j] >> 7) << j));
    }
    stuff(b, high);
    b->p7_len = 0;
}

static void put_body(tvkbox *b, uint8_t c) {
    if (!b->cfg.seven_bits) {
        stuff(b, c);
        return;
    }
    b->p7[b->p7_len++] = c;
    if (b->p7_len == 7) flush_pack7(b);
}

static void put_body_bytes(tvkbox *b, const uint8_t *p, size_t n) {
    while (n--) put_body(b, *p++);
}

/* The body of the frame being sent: header, two payload parts and CRC. */
typedef struct body_view {
    uint8_t head[HEADER_LEN];
    const uint8_t *a, *p;
    size_t na, np;
    uint8_t crc[CRC_LEN];
} body_view;

#if TVKBOX_FEC
static uint8_t body_at(const body_view *v, size_t i) {
    if (i < HEADER_LEN) return v->head[i];
    i -= HEADER_LEN;
    if (i < v->na) return v->a[i];
    i -= v->na;
    if (i < v->np) return v->p[i];
    return v->crc[i - v->np];
}

/* The interleaved parity of the body into b->parity (line-protocol 2.4). */
static size_t protect(tvkbox *b, const body_view *v, size_t n, int t) {
    const size_t c = codewords_for(n, t), roots = (size_t)(2 * t);
    size_t j;
    for (j = 0; j < c; ++j) {
        uint8_t data[255], parity[TVK_RS_MAX_ROOTS];
        const size_t k = (n - j + c - 1) / c;
        size_t i, r;
        for (i = 0; i < k; ++i) data[i] = body_at(v, j + i * c);
        tvk_rs_encode(data, k, parity, (int)roots);
        for (r = 0; r < roots; ++r) b->parity[r * c + j] = parity[r];
    }
    return c * roots;
}
#endif

void box_send_frame(tvkbox *b, uint8_t type, int pf, uint16_t seq, const uint8_t *a, size_t na, const uint8_t *p,
                    size_t np, int t) {
    body_view v;
    uint32_t crc;
    const uint32_t now = box_now_us(b);
    v.head[0] = b->cfg.address;
    v.head[1] = (uint8_t)(type | 0x40 | (pf ? 0x80 : 0));
    v.head[2] = (uint8_t)seq;
    v.head[3] = (uint8_t)(seq >> 8);
    v.a = a;
    v.na = na;
    v.p = p;
    v.np = np;
    crc = tvk_crc32c(tvk_crc32c(tvk_crc32c(0, v.head, HEADER_LEN), a, na), p, np);
    v.crc[0] = (uint8_t)crc;
    v.crc[1] = (uint8_t)(crc >> 8);
    v.crc[2] = (uint8_t)(crc >> 16);
    v.crc[3] = (uint8_t)(crc >> 24);
    b->out_total = 0;
    /* After a silence a leading delimiter ends any noise on the line. */
    if (box_after(now, b->busy_until_us)) put_char(b, 0);
#if TVKBOX_FEC
    if (t > 0) {
        const uint8_t h = (uint8_t)(0x80 | t);
        const size_t parity = protect(b, &v, HEADER_LEN + na + np + CRC_LEN, t);
        put_body(b, h);
        put_body(b, h);
        put_body(b, h);
        put_body_bytes(b, v.head, HEADER_LEN);
        put_body_bytes(b, a, na);
        put_body_bytes(b, p, np);
        put_body_bytes(b, v.crc, CRC_LEN);
        put_body_bytes(b, b->parity, parity);
    } else
#endif
    {
        (void)t;
        put_body_bytes(b, v.head, HEADER_LEN);
        put_body_bytes(b, a, na);
        put_body_bytes(b, p, np);
        put_body_bytes(b, v.crc, CRC_LEN);
    }
    flush_pack7(b);
    emit_group(b, b->group_len + 1);
    put_char(b, 0);
    flush_out(b);
    b->busy_until_us = (box_after(b->busy_until_us, now) ? b->busy_until_us : now) + box_line_us(b, b->out_total);
}
