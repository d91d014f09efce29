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

// Protocol versions: 1 knows no features; 2 adds them to START, READY and
// REJECT, and the corrections count to the acknowledgement.
inline constexpr uint8_t kProtocolVersion = 2;

// What a station can take from its peer.
enum Feature : uint8_t {
    kFeaturePacked = 1,     // a compressed stream (stream.h)
    kFeatureProtected = 2,  // frames with error correction (fec.h)
};
inline constexpr uint8_t kAllFeatures = kFeaturePacked | kFeatureProtected;

// START: direction (0 the box sends, 1 the master sends), job type, and for
// direction 1 the file count (u32) and total size (u64) about to come.
// From version 2: the version and the features the master can take; later
// versions may append fields, which version 2 ignores.
struct StartJob {
    uint8_t dir = 0;
    uint8_t transType = 0;
    uint32_t fileCount = 0;
    uint64_t totalSize = 0;
    uint8_t version = 1;
    uint8_t features = 0;
};
inline constexpr size_t kStartLen = 14;

std::vector<uint8_t> encodeStart(const StartJob& s);
bool decodeStart(const std::vector<uint8_t>& p, StartJob& s);

// The payload of a version-2 box's READY (its version and the features it
// can take, and optionally the largest frame payload and the window in
// frames it can hold) and REJECT (its version alone, so that the master
// does not fall back to version 1). A version-1 box sends both empty.
struct Hello {
    uint8_t version = 1;
    uint8_t features = 0;
    uint16_t frameMax = 0;  // 0: not said (kMaxPayload)
    uint8_t window = 0;     // 0: not said (kWindowMax)
};
// The smallest frame a box may announce: a FILE chunk with the longest
// name fits in it.
inline constexpr size_t kFrameMaxLeast = 288;
Hello decodeHello(const std::vector<uint8_t>& p);

}  // namespace tvk
