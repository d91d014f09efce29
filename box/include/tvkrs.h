/* Reed-Solomon codes over GF(256) (field polynomial 0x11d, generator roots
 * alpha^1 .. alpha^nroots), shortened to any codeword of at most 255 bytes.
 * Plain C99 without heap or state, so that a terminal's firmware can use the
 * same code as the PC. A codeword is its data bytes followed by nroots parity
 * bytes; it corrects up to nroots / 2 damaged bytes. */
#ifndef TVKRS_H
#define TVKRS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest number of parity bytes per codeword. */
#define TVK_RS_MAX_ROOTS 16

/* Computes the nroots parity bytes of data[0..n-1]; n + nroots <= 255,
 * 2 <= nroots <= TVK_RS_MAX_ROOTS. */
void tvk_rs_encode(const uint8_t *data, size_t n, uint8_t *parity, int nroots);

/* Repairs a codeword of n bytes (data and parity) in place. Returns the
 * number of bytes corrected, or -1 when the damage is beyond repair (or the
 * sizes are out of bounds). */
int tvk_rs_decode(uint8_t *codeword, size_t n, int nroots);

#ifdef __cplusplus
}
#endif

#endif
