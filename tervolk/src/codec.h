// Byte-level codecs of the line: CRC-32C, COBS stuffing, 7-in-8 packing and
// the unsigned LEB128 numbers used inside frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvk {

// CRC-32C (Castagnoli). Chainable: crc32c(b, nb, crc32c(a, na)) is the CRC of a+b.
uint32_t crc32c(const void* data, size_t n, uint32_t prev = 0);

// COBS with a configurable largest code: 255 on an 8-bit line, 127 on a
// 7-bit line so that no stuffed character needs bit 7. Output holds no 0x00.
void cobsEncode(const uint8_t* in, size_t n, unsigned maxCode, std::vector<uint8_t>& out);
// False when the input is not a valid COBS block for maxCode.
bool cobsDecode(const uint8_t* in, size_t n, unsigned maxCode, std::vector<uint8_t>& out);
// Worst-case encoded length of n bytes.
size_t cobsBound(size_t n, unsigned maxCode);

// Seven bytes into eight 7-bit characters (the last group may be shorter:
// k bytes give k + 1 characters).
void pack7(const uint8_t* in, size_t n, std::vector<uint8_t>& out);
// False when the character count cannot come from pack7 or a character has bit 7 set.
bool unpack7(const uint8_t* in, size_t n, std::vector<uint8_t>& out);
size_t pack7Length(size_t n);

// Unsigned LEB128.
void putVarint(std::vector<uint8_t>& out, uint64_t v);
// Reads one number at *pos; false when it is truncated or longer than 64 bits.
bool getVarint(const uint8_t* p, size_t n, size_t& pos, uint64_t& v);
size_t varintLength(uint64_t v);

void putLe(std::vector<uint8_t>& out, uint64_t v, int bytes);
uint64_t getLe(const uint8_t* p, int bytes);

}  // namespace tvk
