// Payloads of the control frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvk {

// A terminal's answer to a poll: 6-byte ID, 2-byte revision, direction,
// job type, file count (u32) and total size (u64), little-endian.
struct Record {
    char htId[6] = {' ', ' ', ' ', ' ', ' ', ' '};
    char aux1[2] = {'0', '0'};
    uint8_t transDir = 0;
    uint8_t transType = 0;
    uint32_t fileCount = 0;
    uint64_t totalSize = 0;
};
inline constexpr size_t kRecordLen = 22;

std::vector<uint8_t> encodeRecord(const Record& r);
bool decodeRecord(const std::vector<uint8_t>& p, Record& r);

// START: direction (0 the box sends, 1 the master sends), job type, and for
// direction 1 the file count (u32) and total size (u64) about to come.
struct StartJob {
    uint8_t dir = 0;
    uint8_t transType = 0;
    uint32_t fileCount = 0;
    uint64_t totalSize = 0;
};
inline constexpr size_t kStartLen = 14;

std::vector<uint8_t> encodeStart(const StartJob& s);
bool decodeStart(const std::vector<uint8_t>& p, StartJob& s);

}  // namespace tvk
