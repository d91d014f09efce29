// The frame decoder and the codecs under it, fed raw line characters.
// Every frame it accepts must survive a second trip through the encoder,
// and a frame built from the input must come back whole however the
// characters are split.
#include <algorithm>

#include "check.h"
#include "codec.h"
#include "frame.h"
#include "transfer.h"
#include "wire.h"

using fuzzline::require;

namespace {

bool sameFrame(const tvk::Frame& a, const tvk::Frame& b) {
    return a.addr == b.addr && a.type == b.type && a.pf == b.pf && a.fromBox == b.fromBox && a.seq == b.seq &&
           a.payload == b.payload;
}

std::vector<tvk::Frame> decodeInPieces(const uint8_t* p, size_t n, bool seven, size_t piece) {
    tvk::FrameDecoder dec(seven);
    std::vector<tvk::Frame> frames;
    for (size_t at = 0; at < n; at += piece) dec.feed(p + at, std::min(piece, n - at), frames);
    return frames;
}

void checkDecodedFrames(const uint8_t* p, size_t n, bool seven, size_t piece) {
    auto frames = decodeInPieces(p, n, seven, piece);
    auto whole = decodeInPieces(p, n, seven, n ? n : 1);
    require(std::equal(frames.begin(), frames.end(), whole.begin(), whole.end(), sameFrame),
            "frames depend on how the input is split");
    for (const tvk::Frame& f : frames) {
        require(f.payload.size() <= tvk::kMaxPayload, "payload over the limit accepted");
        (void)tvk::describeFrame(f);
        std::vector<uint8_t> again;
        tvk::encodeFrame(f, seven, again);
        auto back = decodeInPieces(again.data(), again.size(), seven, again.size());
        require(back.size() == 1 && sameFrame(back[0], f), "accepted frame does not re-encode to itself");
    }
}

void checkBuiltFrame(const uint8_t* p, size_t n, bool seven, size_t piece) {
    tvk::Frame f;
    f.addr = n ? p[0] : 0;
    f.type = tvk::FrameType(n > 1 ? p[1] & 0x3F : 1);
    f.pf = n > 1 && (p[1] & 0x80);
    f.fromBox = n > 1 && (p[1] & 0x40);
    f.seq = uint16_t(n > 3 ? p[2] | p[3] << 8 : 0);
    f.payload.assign(p, p + std::min(n, tvk::kMaxPayload));
    std::vector<uint8_t> line;
    tvk::encodeFrame(f, seven, line);
    require(line.size() <= tvk::encodedLength(f.payload.size(), seven), "encoded length over its bound");
    for (uint8_t c : std::vector<uint8_t>(line.begin(), line.end() - 1)) {
        require(c != 0, "delimiter inside a frame");
        require(!seven || c < 0x80, "bit 7 set on a 7-bit line");
    }
    auto back = decodeInPieces(line.data(), line.size(), seven, piece);
    require(back.size() == 1 && sameFrame(back[0], f), "built frame lost on the way");
}

void checkCodecs(const uint8_t* p, size_t n) {
    for (unsigned maxCode : {127u, 255u}) {
        std::vector<uint8_t> plain, stuffed, again;
        if (tvk::cobsDecode(p, n, maxCode, plain)) {
            tvk::cobsEncode(plain.data(), plain.size(), maxCode, stuffed);
            require(stuffed.size() <= tvk::cobsBound(plain.size(), maxCode), "COBS output over its bound");
            require(tvk::cobsDecode(stuffed.data(), stuffed.size(), maxCode, again) && again == plain,
                    "COBS round trip");
        }
    }
    std::vector<uint8_t> unpacked, packed;
    if (tvk::unpack7(p, n, unpacked)) {
        tvk::pack7(unpacked.data(), unpacked.size(), packed);
        require(packed == std::vector<uint8_t>(p, p + n), "7-in-8 round trip");
    }
    size_t pos = 0;
    uint64_t v = 0;
    while (pos < n && tvk::getVarint(p, n, pos, v)) {
        std::vector<uint8_t> enc;
        tvk::putVarint(enc, v);
        require(enc.size() == tvk::varintLength(v), "varint length");
    }
    require(pos <= n, "varint read past the end");
    const std::vector<uint8_t> payload(p, p + n);
    tvk::Record rec;
    if (tvk::decodeRecord(payload, rec)) require(tvk::encodeRecord(rec) == payload, "record round trip");
    tvk::StartJob job;
    if (tvk::decodeStart(payload, job)) require(tvk::encodeStart(job) == payload, "start round trip");
    tvk::AckInfo ack;
    if (tvk::decodeAck(payload, ack)) require(tvk::encodeAck(ack) == payload, "ack round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool seven = data[0] & 1;
    const size_t piece = size_t(1) << ((data[0] >> 1) & 7);
    ++data;
    --size;
    checkDecodedFrames(data, size, seven, piece);
    checkBuiltFrame(data, size, seven, piece);
    checkCodecs(data, size);
    return 0;
}
