/* Byte-level codecs of the tervolk line (docs/line-protocol.md, 2.1 and 2.2),
 * shared by the box (tvkbox) and the PC's library: CRC-32C, COBS stuffing
 * and 7-in-8 packing. Plain C99 without heap or state. */
#ifndef TVKLINE_H
#define TVKLINE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* CRC-32C (Castagnoli), chainable: tvk_crc32c(tvk_crc32c(0, a, na), b, nb)
 * is the CRC of a then b. A 16-entry table keeps it small for a box. */
uint32_t tvk_crc32c(uint32_t prev, const void *data, size_t n);

/* Decodes a COBS block whose codes go up to max_code (255 on an 8-bit
 * line, 127 on a 7-bit one) into out, which may be in itself (the output
 * is never longer). Returns the decoded length, or -1 when the block is
 * not valid for max_code. A full last group may or may not be followed by
 * a final code 1. */
long tvk_cobs_decode(const uint8_t *in, size_t n, unsigned max_code, uint8_t *out);

/* Worst-case COBS length of n bytes. */
size_t tvk_cobs_bound(size_t n, unsigned max_code);

/* Undoes 7-in-8 packing into out (which may be in itself). Returns the
 * length, or -1 when the count of characters cannot come from packing or a
 * character has bit 7 set. */
long tvk_unpack7(const uint8_t *in, size_t n, uint8_t *out);

/* Characters of n bytes packed 7 in 8. */
size_t tvk_pack7_length(size_t n);

/* Strongest error correction: 2 * t parity bytes in each codeword. */
#define TVK_STRENGTH_MAX 8

/* Length of a body of n bytes protected at strength t (0: unprotected). */
size_t tvk_fec_length(size_t n, int t);

/* Largest payload of a frame protected at strength t whose block is no
 * longer than the plain body of a frame_max payload. */
size_t tvk_max_payload_at(size_t frame_max, int t);

/* Line characters of a frame with n payload bytes at strength t, its
 * delimiter included. */
size_t tvk_encoded_length(size_t n, int seven_bits, int t);

#ifdef __cplusplus
}
#endif

#endif
