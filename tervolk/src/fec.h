// Error correction of whole frames on a noisy line: the frame's body is
// spread over interleaved Reed-Solomon codewords whose parity follows it,
// after a header that names the strength. The body keeps its own CRC, so
// a repair that went wrong is still caught.
//
//   +--------+------------------------+-----------------------------+
//   | H H H  | body (addr .. CRC)     | parity, interleaved         |
//   +--------+------------------------+-----------------------------+
//   H = 0x80 | t, three copies (voted bit by bit); t = 1..8 corrects up to
//   t bytes in each codeword of at most 255 bytes. Body byte i belongs to
//   codeword i mod c, c = ceil(n / (255 - 2t)); parity byte r of codeword
//   j is at body end + r * c + j.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tvkline.h"

namespace tvk {

inline constexpr int kFecMaxStrength = TVK_STRENGTH_MAX;
inline constexpr size_t kFecHeaderLen = 3;

// Length of a protected body of n bytes at strength t (t = 0: unprotected).
size_t fecLength(size_t n, int t);
// Appends the protected form of body at strength t (1..kFecMaxStrength).
void fecProtect(const uint8_t* body, size_t n, int t, std::vector<uint8_t>& out);
// A block whose header names a strength: repairs it into body. false when
// it is not a protected block or beyond repair; corrected counts the bytes
// set right.
bool fecRepair(const uint8_t* block, size_t len, std::vector<uint8_t>& body, int& strength, int& corrected);

}  // namespace tvk
