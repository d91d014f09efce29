/* The sender's frame shape (tvkshape.h). Rates and probabilities are
 * fixed-point fractions of 2^30; products go through 64 bits, and nothing
 * divides a 64-bit number, which a small processor does slowly in
 * software. */
#include "tvkshape.h"

#include "tvkline.h"

#define Q 30
#define ONE ((uint32_t)1 << Q)
/* Beyond one damaged character in 16 every shape loses nearly all it
 * sends; the model stops there, which also keeps its sums within 32 bits. */
#define ERR_MAX (ONE >> 4)
/* Characters a plain frame costs beyond its payload: header, CRC,
 * stuffing, delimiter. */
#define FRAME_OVERHEAD 11u
#define HEADER_LEN 4u
#define CRC_LEN 4u
/* One character in this many of a protected frame is a stuffing code or
 * the delimiter (in random data), which no repair reaches. */
#define UNREPAIRABLE_ONE_IN 160u

static uint32_t min32(uint32_t a, uint32_t b) { return a < b ? a : b; }

static uint32_t mul(uint32_t a, uint32_t b) { return (uint32_t)(((uint64_t)a * b) >> Q); }

static uint32_t power(uint32_t x, uint32_t n) {
    uint32_t r = ONE;
    for (; n; n >>= 1) {
        if (n & 1) r = mul(r, x);
        x = mul(x, x);
    }
    return r;
}

/* x / y for x < y < 2^31, by long division. */
static uint32_t fraction(uint32_t x, uint32_t y) {
    uint32_t q = 0;
    int i;
    for (i = 0; i < Q; ++i) {
        x <<= 1;
        q <<= 1;
        if (x >= y) {
            x -= y;
            q |= 1;
        }
    }
    return q;
}

static uint32_t isqrt(uint32_t v) {
    uint32_t r = 0, bit = (uint32_t)1 << 30;
    while (bit > v) bit >>= 2;
    for (; bit; bit >>= 2) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
    }
    return r;
}

/* Share of codewords of n characters with at most t of them damaged, each
 * with probability p; odds is p / (1 - p). */
static uint32_t at_most(int t, uint32_t n, uint32_t p, uint32_t odds) {
    uint32_t term = power(ONE - p, n), sum = term;
    int i;
    for (i = 1; i <= t; ++i) {
        term = mul(term, odds) / (uint32_t)i * (n - (uint32_t)i + 1);
        sum += term;
    }
    return min32(sum, ONE);
}

/* Payload per line character, in 2^-16, of frames of size payload bytes at
 * strength t. A frame is lost when a codeword holds more than t damaged
 * characters, or when a character no repair reaches is hit. */
static uint32_t yield(uint32_t size, int t, uint32_t p, uint32_t odds) {
    const uint32_t chars = (uint32_t)tvk_encoded_length(size, 0, t);
    uint32_t intact;
    if (t == 0) {
        intact = power(ONE - p, chars);
    } else {
        const uint32_t body = HEADER_LEN + size + CRC_LEN, k = 255u - 2u * (uint32_t)t;
        const uint32_t codewords = (body + k - 1) / k, length = (body + codewords / 2) / codewords + 2u * (uint32_t)t;
        intact = mul(power(at_most(t, length, p, odds), codewords), power(ONE - p, chars / UNREPAIRABLE_ONE_IN + 2));
    }
    return (uint32_t)(((uint64_t)((size << 16) / chars) * intact) >> Q);
}

/* Without error correction size / (size + h) * (1 - p)^size peaks near
 * sqrt(h / p). */
static uint32_t plain_size(uint32_t p, uint32_t cap) {
    const uint32_t v = (FRAME_OVERHEAD << 27) / p; /* h / p in units of 2^-3 */
    const uint32_t size = v >= (uint32_t)1 << 28 ? cap : isqrt(v * 8);
    return size < TVK_FRAME_MIN ? TVK_FRAME_MIN : min32(size, cap);
}

/* The shape with the best yield: the plain size, or a power of two from
 * the smallest frame at each strength. */
static void choose(tvk_shape *s) {
    const uint32_t p = s->err;
    uint32_t odds = p, best_size = plain_size(p, s->frame_cap), best = 0, size;
    int best_t = 0, t, k;
    for (k = 0; k < 5; ++k) odds = p + mul(p, odds); /* converges to p / (1 - p) */
    if (s->max_strength > 0) best = yield(best_size, 0, p, odds);
    for (t = 1; t <= s->max_strength; ++t) {
        const uint32_t largest = min32(s->frame_cap, (uint32_t)tvk_max_payload_at(s->frame_max, t));
        for (size = TVK_FRAME_MIN; size <= 2 * s->frame_cap; size *= 2) {
            const uint32_t y = yield(min32(size, largest), t, p, odds);
            if (y > best) {
                best = y;
                best_size = min32(size, largest);
                best_t = t;
            }
        }
    }
    s->frame_size = best_size;
    s->strength = (uint8_t)best_t;
}

/* Line characters of a frame with payload n, a leading delimiter included. */
static uint32_t frame_chars(uint32_t n, int seven_bits) { return (uint32_t)tvk_encoded_length(n, seven_bits, 0) + 1; }

uint32_t tvk_line_frame_cap(uint32_t bits_per_second, unsigned bits_per_char, int seven_bits) {
    const uint32_t chars = 2 * bits_per_second / bits_per_char;
    uint32_t n = min32(chars, TVK_FRAME_MAX);
    while (n > TVK_FRAME_MIN && frame_chars(n, seven_bits) > chars)
        n -= min32(n - TVK_FRAME_MIN, frame_chars(n, seven_bits) - chars);
    return n < TVK_FRAME_MIN ? TVK_FRAME_MIN : n;
}

uint32_t tvk_line_window_cap(uint32_t bits_per_second, unsigned bits_per_char, int seven_bits) {
    const uint32_t frame = tvk_line_frame_cap(bits_per_second, bits_per_char, seven_bits);
    const uint32_t frames = 6 * bits_per_second / (bits_per_char * frame_chars(frame, seven_bits));
    return min32((frames ? frames : 1) * frame, TVK_WINDOW_MAX);
}

void tvk_shape_init(tvk_shape *s, uint32_t frame_cap, uint32_t window_cap, uint32_t frame_max, int max_strength) {
    s->frame_cap = frame_cap;
    s->window_cap = window_cap;
    s->frame_max = frame_max;
    s->max_strength = (uint8_t)(max_strength < TVK_STRENGTH_MAX ? max_strength : TVK_STRENGTH_MAX);
    s->frame_size = min32(1024, frame_cap);
    s->window_bytes = min32(16384, window_cap);
    s->strength = 0;
    s->err = s->corrected_seen = 0;
}

void tvk_shape_adapt(tvk_shape *s, size_t lost, size_t sent, size_t chars, uint32_t corrected) {
    /* Damaged characters: those repaired, and for each lost frame at least
     * one more than its codewords could repair. */
    const uint32_t repaired = corrected > s->corrected_seen ? corrected - s->corrected_seen : 0;
    const size_t damaged = repaired + lost * (s->strength + 1u);
    uint32_t rate;
    if (corrected > s->corrected_seen) s->corrected_seen = corrected;
    if (chars == 0) return;
    rate = damaged >= chars / 16 ? ERR_MAX : fraction((uint32_t)damaged, (uint32_t)chars);
    /* The mean of the estimate and this window's rate: clean windows halve
     * it, so frames grow back and correction turns off once the line is
     * clean again. */
    s->err = s->err == 0 ? rate : s->err / 2 + rate / 2;
    if (s->err == 0) {
        s->strength = 0;
        s->frame_size = min32(s->frame_size * 2, s->frame_cap);
        s->window_bytes = min32(s->window_bytes * 2, s->window_cap);
        return;
    }
    choose(s);
    if (lost == 0) {
        s->window_bytes = min32(s->window_bytes * 2, s->window_cap);
    } else if (lost * 2 > sent) {
        /* Most of a window lost: a shorter one wastes less while the line is bad. */
        const uint32_t half = s->window_bytes / 2, least = 4 * s->frame_size;
        s->window_bytes = min32(half > least ? half : least, s->window_cap);
    }
}
