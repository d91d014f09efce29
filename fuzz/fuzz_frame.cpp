// The frame decoder and codecs on raw line characters: an accepted frame
// re-encodes to itself, a frame built from the input comes back whole however
// the characters are split.
#include "check.h"
#include "codec.h"
#include "frame.h"
#include "transfer.h"
#include "wire.h"

using fuzzline::require;
namespace {
bool sameFrame(const tvk::Frame& a, const tvk::Frame& b) {
    return std::tie(a.addr, a.type, a.pf, a.fromBox, a.seq, a.payload) ==
           std::tie(b.addr, b.type, b.pf, b.fromBox, b.seq, b.payload);
}

std::vector<tvk::Frame> decode(const uint8_t* p, size_t n, bool seven, size_t piece) {
    tvk::FrameDecoder dec(seven);
    std::vector<tvk::Frame> frames;
    for (size_t at = 0; at < n; at += piece) dec.feed(p + at, std::min(piece, n - at), frames);
    return frames;
}

bool oneFrame(const std::vector<uint8_t>& line, bool seven, size_t piece, const tvk::Frame& f) {
    auto back = decode(line.data(), line.size(), seven, piece);
    return back.size() == 1 && sameFrame(back[0], f);
}

void checkFrames(const uint8_t* p, size_t n, bool seven, size_t piece) {
    auto frames = decode(p, n, seven, piece), whole = decode(p, n, seven, n ? n : 1);
    require(std::equal(frames.begin(), frames.end(), whole.begin(), whole.end(), sameFrame),
            "frames depend on how the input is split");
    for (const tvk::Frame& f : frames) {
        require(f.payload.size() <= tvk::kMaxPayload, "payload over the limit accepted");
        (void)tvk::describeFrame(f);
        std::vector<uint8_t> again;
        tvk::encodeFrame(f, seven, again);
        require(oneFrame(again, seven, again.size(), f), "accepted frame does not re-encode to itself");
    }
    tvk::Frame f{n ? p[0] : uint8_t(0), tvk::FrameType(n > 1 ? p[1] & 0x3F : 1),
                 n > 1 && (p[1] & 0x80), n > 1 && (p[1] & 0x40),
                 uint16_t(n > 3 ? p[2] | p[3] << 8 : 0), {p, p + std::min(n, tvk::kMaxPayload)}};
    std::vector<uint8_t> line;
    tvk::encodeFrame(f, seven, line);
    require(line.size() <= tvk::encodedLength(f.payload.size(), seven), "encoded length over its bound");
    require(std::find(line.begin(), line.end() - 1, 0) == line.end() - 1, "delimiter inside a frame");
    require(!seven || std::all_of(line.begin(), line.end(), [](uint8_t c) { return c < 0x80; }), "bit 7 on a 7-bit line");
    require(oneFrame(line, seven, piece, f), "built frame lost on the way");
}

void checkCodecs(const uint8_t* p, size_t n) {
    for (unsigned maxCode : {127u, 255u}) {
        std::vector<uint8_t> plain, stuffed, again;
        if (!tvk::cobsDecode(p, n, maxCode, plain)) continue;
        tvk::cobsEncode(plain.data(), plain.size(), maxCode, stuffed);
        require(stuffed.size() <= tvk::cobsBound(plain.size(), maxCode), "COBS output over its bound");
        require(tvk::cobsDecode(stuffed.data(), stuffed.size(), maxCode, again) && again == plain, "COBS round trip");
    }
    std::vector<uint8_t> unpacked, packed;
    if (tvk::unpack7(p, n, unpacked)) {
        tvk::pack7(unpacked.data(), unpacked.size(), packed);
        require(packed == std::vector<uint8_t>(p, p + n), "7-in-8 round trip");
    }
    size_t pos = 0;
    for (uint64_t v = 0; pos < n && tvk::getVarint(p, n, pos, v);) {
        std::vector<uint8_t> enc;
        tvk::putVarint(enc, v);
        require(enc.size() == tvk::varintLength(v), "varint length");
    }
    require(pos <= n, "varint read past the end");
    const std::vector<uint8_t> payload(p, p + n);
    tvk::Record rec;
    tvk::StartJob job;
    tvk::AckInfo ack;
    require(!tvk::decodeRecord(payload, rec) || tvk::encodeRecord(rec) == payload, "record round trip");
    // Later versions' fields beyond those known are ignored.
    const auto prefixOf = [&](const std::vector<uint8_t>& e) {
        return e.size() <= payload.size() && std::equal(e.begin(), e.end(), payload.begin());
    };
    require(!tvk::decodeStart(payload, job) || prefixOf(tvk::encodeStart(job)), "start round trip");
    require(!tvk::decodeAck(payload, ack) || prefixOf(tvk::encodeAck(ack, payload.size() > tvk::kAckLen)),
            "ack round trip");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    checkFrames(data + 1, size - 1, data[0] & 1, size_t(1) << ((data[0] >> 1) & 7));
    checkCodecs(data + 1, size - 1);
    return 0;
}
