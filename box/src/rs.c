#include "tvkrs.h"

#include <string.h>

/* alpha^i for i = 0..509 (twice over, so that a sum of two logs needs no
 * reduction) and the logs; generated for the polynomial 0x11d. */
static const uint8_t gf_exp[510] = {
      1,   2,   4,   8,  16,  32,  64, 128,  29,  58, 116, 232, 205, 135,  19,  38,
     76, 152,  45,  90, 180, 117, 234, 201, 143,   3,   6,  12,  24,  48,  96, 192,
    157,  39,  78, 156,  37,  74, 148,  53, 106, 212, 181, 119, 238, 193, 159,  35,
     70, 140,   5,  10,  20,  40,  80, 160,  93, 186, 105, 210, 185, 111, 222, 161,
     95, 190,  97, 194, 153,  47,  94, 188, 101, 202, 137,  15,  30,  60, 120, 240,
    253, 231, 211, 187, 107, 214, 177, 127, 254, 225, 223, 163,  91, 182, 113, 226,
    217, 175,  67, 134,  17,  34,  68, 136,  13,  26,  52, 104, 208, 189, 103, 206,
    129,  31,  62, 124, 248, 237, 199, 147,  59, 118, 236, 197, 151,  51, 102, 204,
    133,  23,  46,  92, 184, 109, 218, 169,  79, 158,  33,  66, 132,  21,  42,  84,
    168,  77, 154,  41,  82, 164,  85, 170,  73, 146,  57, 114, 228, 213, 183, 115,
    230, 209, 191,  99, 198, 145,  63, 126, 252, 229, 215, 179, 123, 246, 241, 255,
    227, 219, 171,  75, 150,  49,  98, 196, 149,  55, 110, 220, 165,  87, 174,  65,
    130,  25,  50, 100, 200, 141,   7,  14,  28,  56, 112, 224, 221, 167,  83, 166,
     81, 162,  89, 178, 121, 242, 249, 239, 195, 155,  43,  86, 172,  69, 138,   9,
     18,  36,  72, 144,  61, 122, 244, 245, 247, 243, 251, 235, 203, 139,  11,  22,
     44,  88, 176, 125, 250, 233, 207, 131,  27,  54, 108, 216, 173,  71, 142,   1,
      2,   4,   8,  16,  32,  64, 128,  29,  58, 116, 232, 205, 135,  19,  38,  76,
    152,  45,  90, 180, 117, 234, 201, 143,   3,   6,  12,  24,  48,  96, 192, 157,
     39,  78, 156,  37,  74, 148,  53, 106, 212, 181, 119, 238, 193, 159,  35,  70,
    140,   5,  10,  20,  40,  80, 160,  93, 186, 105, 210, 185, 111, 222, 161,  95,
    190,  97, 194, 153,  47,  94, 188, 101, 202, 137,  15,  30,  60, 120, 240, 253,
    231, 211, 187, 107, 214, 177, 127, 254, 225, 223, 163,  91, 182, 113, 226, 217,
    175,  67, 134,  17,  34,  68, 136,  13,  26,  52, 104, 208, 189, 103, 206, 129,
     31,  62, 124, 248, 237, 199, 147,  59, 118, 236, 197, 151,  51, 102, 204, 133,
     23,  46,  92, 184, 109, 218, 169,  79, 158,  33,  66, 132,  21,  42,  84, 168,
     77, 154,  41,  82, 164,  85, 170,  73, 146,  57, 114, 228, 213, 183, 115, 230,
    209, 191,  99, 198, 145,  63, 126, 252, 229, 215, 179, 123, 246, 241, 255, 227,
    219, 171,  75, 150,  49,  98, 196, 149,  55, 110, 220, 165,  87, 174,  65, 130,
     25,  50, 100, 200, 141,   7,  14,  28,  56, 112, 224, 221, 167,  83, 166,  81,
    162,  89, 178, 121, 242, 249, 239, 195, 155,  43,  86, 172,  69, 138,   9,  18,
     36,  72, 144,  61, 122, 244, 245, 247, 243, 251, 235, 203, 139,  11,  22,  44,
     88, 176, 125, 250, 233, 207, 131,  27,  54, 108, 216, 173,  71, 142,
};

/* gf_log[0] is never used. */
static const uint8_t gf_log[256] = {
      0,   0,   1,  25,   2,  50,  26, 198,   3, 223,  51, 238,  27, 104, 199,  75,
      4, 100, 224,  14,  52, 141, 239, 129,  28, 193, 105, 248, 200,   8,  76, 113,
      5, 138, 101,  47, 225,  36,  15,  33,  53, 147, 142, 218, 240,  18, 130,  69,
     29, 181, 194, 125, 106,  39, 249, 185, 201, 154,   9, 120,  77, 228, 114, 166,
      6, 191, 139,  98, 102, 221,  48, 253, 226, 152,  37, 179,  16, 145,  34, 136,
     54, 208, 148, 206, 143, 150, 219, 189, 241, 210,  19,  92, 131,  56,  70,  64,
     30,  66, 182, 163, 195,  72, 126, 110, 107,  58,  40,  84, 250, 133, 186,  61,
    202,  94, 155, 159,  10,  21, 121,  43,  78, 212, 229, 172, 115, 243, 167,  87,
      7, 112, 192, 247, 140, 128,  99,  13, 103,  74, 222, 237,  49, 197, 254,  24,
    227, 165, 153, 119,  38, 184, 180, 124,  17,  68, 146, 217,  35,  32, 137,  46,
     55,  63, 209,  91, 149, 188, 207, 205, 144, 135, 151, 178, 220, 252, 190,  97,
    242,  86, 211, 171,  20,  42,  93, 158, 132,  60,  57,  83,  71, 109,  65, 162,
     31,  45,  67, 216, 183, 123, 164, 118, 196,  23,  73, 236, 127,  12, 111, 246,
    108, 161,  59,  82,  41, 157,  85, 170, 251,  96, 134, 177, 187, 204,  62,  90,
    203,  89,  95, 176, 156, 169, 160,  81,  11, 245,  22, 235, 122, 117,  44, 215,
     79, 174, 213, 233, 230, 231, 173, 232, 116, 214, 244, 234, 168,  80,  88, 175,
};

static uint8_t gf_mul(uint8_t a, uint8_t b) {
    return (a == 0 || b == 0) ? 0 : gf_exp[gf_log[a] + gf_log[b]];
}

static uint8_t gf_div(uint8_t a, uint8_t b) {
    return a == 0 ? 0 : gf_exp[gf_log[a] + 255 - gf_log[b]];
}

/* alpha^e for any e >= 0. */
static uint8_t gf_pow(unsigned e) { return gf_exp[e % 255]; }

/* The generator polynomial, highest degree first: gen[0] = 1, gen[nroots]
 * the constant term. */
static void generator(int nroots, uint8_t *gen) {
    int i, j;
    memset(gen, 0, (size_t)nroots + 1);
    gen[0] = 1;
    for (i = 1; i <= nroots; ++i) {
        /* Multiply by (x + alpha^i). */
        uint8_t root = gf_pow((unsigned)i);
        for (j = i; j > 0; --j) gen[j] ^= gf_mul(gen[j - 1], root);
    }
}

void tvk_rs_encode(const uint8_t *data, size_t n, uint8_t *parity, int nroots) {
    uint8_t gen[TVK_RS_MAX_ROOTS + 1];
    size_t i;
    int j;
    generator(nroots, gen);
    memset(parity, 0, (size_t)nroots);
    /* Division by the generator: the remainder is the parity. */
    for (i = 0; i < n; ++i) {
        uint8_t fb = data[i] ^ parity[0];
        for (j = 0; j < nroots - 1; ++j) parity[j] = parity[j + 1] ^ gf_mul(fb, gen[j + 1]);
        parity[nroots - 1] = gf_mul(fb, gen[nroots]);
    }
}

/* S_j = c(alpha^(j+1)); true when all are zero. */
static int syndromes(const uint8_t *cw, size_t n, int nroots, uint8_t *s) {
    int j, clean = 1;
    size_t i;
    for (j = 0; j < nroots; ++j) {
        uint8_t root = gf_pow((unsigned)j + 1), v = 0;
        for (i = 0; i < n; ++i) v = gf_mul(v, root) ^ cw[i];
        s[j] = v;
        clean = clean && v == 0;
    }
    return clean;
}

/* Berlekamp-Massey: the error locator lambda (lambda[0] = 1, lowest degree
 * first); returns its degree. */
static int locator(const uint8_t *s, int nroots, uint8_t *lambda) {
    uint8_t prev[TVK_RS_MAX_ROOTS + 1], keep[TVK_RS_MAX_ROOTS + 1];
    int len = 0, shift = 1, r, i;
    uint8_t last = 1;
    memset(lambda, 0, TVK_RS_MAX_ROOTS + 1);
    memset(prev, 0, sizeof prev);
    lambda[0] = prev[0] = 1;
    for (r = 0; r < nroots; ++r) {
        uint8_t d = s[r], scale;
        for (i = 1; i <= len; ++i) d ^= gf_mul(lambda[i], s[r - i]);
        if (d == 0) {
            ++shift;
            continue;
        }
        scale = gf_div(d, last);
        memcpy(keep, lambda, sizeof keep);
        for (i = 0; i + shift <= nroots && i + shift <= TVK_RS_MAX_ROOTS; ++i)
            lambda[i + shift] ^= gf_mul(scale, prev[i]);
        if (2 * len <= r) {
            len = r + 1 - len;
            memcpy(prev, keep, sizeof prev);
            last = d;
            shift = 1;
        } else {
            ++shift;
        }
    }
    return len;
}

/* p(x) at x, p lowest degree first with deg + 1 coefficients. */
static uint8_t evaluate(const uint8_t *p, int deg, uint8_t x) {
    uint8_t v = 0;
    int i;
    for (i = deg; i >= 0; --i) v = gf_mul(v, x) ^ p[i];
    return v;
}

int tvk_rs_decode(uint8_t *cw, size_t n, int nroots) {
    uint8_t s[TVK_RS_MAX_ROOTS], lambda[TVK_RS_MAX_ROOTS + 1], omega[TVK_RS_MAX_ROOTS];
    uint8_t deriv[TVK_RS_MAX_ROOTS + 1];
    size_t where[TVK_RS_MAX_ROOTS];
    uint8_t fix[TVK_RS_MAX_ROOTS];
    int deg, found = 0, i, j;
    unsigned p;
    if (nroots < 2 || nroots > TVK_RS_MAX_ROOTS || n <= (size_t)nroots || n > 255) return -1;
    if (syndromes(cw, n, nroots, s)) return 0;
    deg = locator(s, nroots, lambda);
    if (deg > nroots / 2) return -1;
    /* omega = s * lambda mod x^nroots; lambda' keeps the odd terms. */
    for (i = 0; i < nroots; ++i) {
        uint8_t v = 0;
        for (j = 0; j <= i && j <= deg; ++j) v ^= gf_mul(lambda[j], s[i - j]);
        omega[i] = v;
    }
    memset(deriv, 0, sizeof deriv);
    for (i = 1; i <= deg; i += 2) deriv[i - 1] = lambda[i];
    /* Chien search over the positions the shortened codeword has: the byte
     * at index k is the coefficient of x^(n-1-k). */
    for (p = 0; p < n && found <= deg; ++p) {
        uint8_t inv = gf_pow(255 - p % 255);
        uint8_t den;
        if (evaluate(lambda, deg, inv) != 0) continue;
        den = evaluate(deriv, deg, inv);
        if (den == 0 || found == deg) return -1;
        where[found] = n - 1 - p;
        fix[found] = gf_div(evaluate(omega, nroots - 1, inv), den);
        ++found;
    }
    /* Roots outside the codeword (or repeated ones) mean more damage than
     * the code can locate. */
    if (found != deg) return -1;
    for (i = 0; i < found; ++i) cw[where[i]] ^= fix[i];
    return found;
}
