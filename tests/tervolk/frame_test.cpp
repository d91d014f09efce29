// Codecs and frames: known answers, edges and refusals (random round trips
// are fuzz_frame's); error correction; frame and window sizes and deadlines
// of every line.
#include <gtest/gtest.h>
#include <random>
#include "codec.h"
#include "fec.h"
#include "filebytes.h"
#include "frame.h"
#include "tvkrs.h"
#include "termiosport.h"
#include "timing.h"
#include "transfer.h"

using namespace tvk;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
// Debian's libfec, whose header shares its name with ours.
extern "C" {
void* init_rs_char(int symsize, int gfpoly, int fcr, int prim, int nroots, int pad);
void encode_rs_char(void* rs, unsigned char* data, unsigned char* parity);
int decode_rs_char(void* rs, unsigned char* data, int* eras_pos, int no_eras);
void free_rs_char(void* rs);
}
namespace {
Bytes bytes(size_t n, unsigned seed) {
    auto s = quendril::test::content(n, seed);
    return Bytes(s.begin(), s.end());
}
}  // namespace

TEST(Codec, KnownAnswersEdgesAndRefusals) {
    const std::pair<std::string, uint32_t> crcs[] = {{"", 0}, {"123456789", 0xE3069283u}, {std::string(32, '\xFF'), 0x62A8AB43u}};
    for (const auto& [data, crc] : crcs) EXPECT_EQ(crc32c(data.data(), data.size()), crc) << data.size();
    auto big = bytes(1000, 7);
    for (size_t cut : {0, 8, 999})
        EXPECT_EQ(crc32c(big.data() + cut, big.size() - cut, crc32c(big.data(), cut)), crc32c(big.data(), 1000));
    Bytes enc, out, ff(254, 0xFF);
    cobsEncode(ff.data(), ff.size(), 255, enc);
    EXPECT_TRUE(enc.size() == 256u && enc[0] == 255);
    for (const Bytes& b : {Bytes{0}, Bytes{5, 1, 2}, Bytes{3, 0, 1}, Bytes{200, 1}})
        EXPECT_FALSE(cobsDecode(b.data(), b.size(), 255, out));
    EXPECT_FALSE(cobsDecode(Bytes{0x90, 1}.data(), 2, 127, out));
    for (size_t n : {0, 6, 7, 8, 15}) {
        Bytes in = bytes(n, unsigned(n)), packed, back;
        pack7(in.data(), n, packed);
        EXPECT_EQ(packed.size(), n / 7 * 8 + (n % 7 ? n % 7 + 1 : 0));
        EXPECT_EQ(packed.size(), pack7Length(n));
        EXPECT_EQ(std::count_if(packed.begin(), packed.end(), [](uint8_t c) { return c >= 0x80; }), 0);
        ASSERT_TRUE(unpack7(packed.data(), packed.size(), back));
        EXPECT_EQ(back, in);
    }
    for (const Bytes& b : {Bytes{1}, Bytes{0x80, 0}, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}})
        EXPECT_FALSE(unpack7(b.data(), b.size(), out)) << b.size();
    size_t pos = 0;
    for (uint64_t v : {uint64_t(127), uint64_t(128), ~uint64_t(0)}) {
        Bytes b;
        putVarint(b, v);
        EXPECT_EQ(b.size(), varintLength(v));
        uint64_t back = 1;
        EXPECT_FALSE(getVarint(b.data(), b.size() - 1, pos = 0, back)) << "truncated";
        EXPECT_TRUE(getVarint(b.data(), b.size(), pos = 0, back) && back == v);
    }
    Bytes tooLong(11, 0xFF), le;
    uint64_t v = 0;
    EXPECT_FALSE(getVarint(tooLong.data(), tooLong.size(), pos = 0, v));
    putLe(le, 0x0A0B0C0D, 4);
    EXPECT_EQ(le, (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(getLe(le.data(), 3), 0x0B0C0Du);
}

TEST(Frames, DamagedAndEndlessFramesAreDroppedAndTheNextOneRead) {
    // A flipped byte, an early delimiter, a bad code byte; then an endless frame.
    for (auto [at, value] : {std::pair<size_t, uint8_t>{10, 0x5A}, {20, 0x00}, {0, 0x03}, {0, 0x41}}) {
        Bytes line;
        encodeFrame(Frame{1, FrameType::Data, false, false, 0, Bytes(100, 0x41)}, false, line);
        if (value == 0x41) line = Bytes(1 << 20, 0x41), line.push_back(0);
        encodeFrame(Frame{2, FrameType::Ack, false, false, 0, {1, 2, 3}}, false, line);
        line[at] = uint8_t(line[at] == value && value != 0x41 ? value ^ 1 : value);
        FrameDecoder dec(false);
        std::vector<Frame> got;
        dec.feed(line.data(), line.size(), got);
        ASSERT_EQ(got.size(), 1u) << at;
        EXPECT_EQ(got[0].addr, 2) << at;
        EXPECT_GE(value == 0x41 ? dec.overlong : dec.crcErrors, 1u) << at;
    }
}

TEST(Frames, MarkedLineErrorsBecomeDelimitersAndDataFFSurvives) {
    const std::tuple<std::vector<Bytes>, Bytes, bool> cases[] = {
        {{{1, 2, 3}}, {1, 2, 3}, false},
        {{{1, 0xFF, 0xFF, 2}}, {1, 0xFF, 2}, false},           // data 0xFF
        {{{1, 0xFF, 0x00, 0x41, 2}}, {1, 0x00, 2}, true},      // parity error
        {{{0xFF, 0x00, 0x00}}, {0x00}, true},                  // break
        {{{7, 0xFF}, {0x00}, {0x33, 8}}, {7, 0x00, 8}, true},  // mark split across reads
        {{{0xFF}, {0xFF, 9}}, {0xFF, 9}, false},               // data 0xFF split
    };
    for (const auto& [reads, want, wantDamaged] : cases) {
        int state = 0;
        bool damaged = false;
        Bytes out;
        for (auto read : reads) {
            size_t n = unmarkErrors(read.data(), read.size(), state, damaged);
            out.insert(out.end(), read.begin(), read.begin() + long(n));
        }
        EXPECT_EQ(out, want);
        EXPECT_EQ(damaged, wantDamaged);
        EXPECT_EQ(state, 0);
    }
}

TEST(LineTiming, FramesWindowsAndDeadlinesFitEveryLine) {
    for (unsigned rate : {1200, 9600, 115200})
        for (auto [bitsPerChar, seven] : {std::pair(10u, false), std::pair(12u, false), std::pair(9u, true)})
            for (auto [a, b] : {std::pair(30, 500), std::pair(300, 10000)}) {  // lineParamA and B's ranges
                SCOPED_TRACE(std::to_string(rate) + " " + std::to_string(bitsPerChar) + " " + std::to_string(a));
                const LineTimers t{rate, bitsPerChar, seven, a, b, 3};
                auto frameTime = [&, seven = seven](size_t payload) { return lineTime(t, encodedLength(payload, seven) + 1); };
                const size_t frame = frameBytesFor(t), window = windowBytesFor(t);
                const size_t frames = (window + frame - 1) / frame;
                EXPECT_TRUE(kFrameMin <= frame && frame <= kFrameMax && frame <= window && window <= kWindowBytesMax);
                // A few seconds per frame and window, unless the smallest sizes take longer.
                EXPECT_TRUE(frame == kFrameMin || frameTime(frame) <= kFrameLineTime);
                EXPECT_TRUE(frames == 1 || frameTime(frame) * frames <= kWindowLineTime);
                // The answer wait starts when our characters have left the line.
                const auto now = Clock::now(), longAgo = now - 1h;
                for (size_t buffered : {size_t(0), size_t(20 * 1024), window + frame})
                    for (size_t answer : {size_t(0), kAckLen, size_t(22)}) {
                        auto floor = now + lineTime(t, buffered) + frameTime(answer) + Ms(a);
                        auto d = answerDeadline(t, now, now + lineTime(t, buffered), answer);
                        EXPECT_GE(d, floor) << buffered;
                        EXPECT_LE(d - floor, lineTime(t, buffered) / 16 + frameTime(answer) / 4 + 1ms) << buffered;
                    }
                auto d = answerDeadline(t, now, longAgo, 0);
                EXPECT_TRUE(d >= now + Ms(a) && d <= now + Ms(a) + frameTime(0) * 2) << "counted from now";
                // The peer is not silent while its frame, even the largest, crosses the line.
                for (size_t payload : {frame, kMaxPayload}) {
                    auto arrives = now + frameTime(payload);
                    EXPECT_GT(progressDeadline(t, longAgo, now, arrives - 1ms), arrives);
                }
                // Silence counts from the later of our line going idle and the peer's last frame;
                // characters that never make a frame hold it one largest frame at most.
                EXPECT_EQ(progressDeadline(t, longAgo, now, now), now + Ms(b));
                auto ourWindowOut = now + lineTime(t, window + frame);
                EXPECT_EQ(progressDeadline(t, ourWindowOut, now, now), ourWindowOut + Ms(b));
                EXPECT_EQ(progressDeadline(t, longAgo, now, now + 1h), now + largestFrameTime(t) + Ms(b));
            }
    EXPECT_EQ(std::pair(frameBytesFor({}), windowBytesFor({})), std::pair(kFrameMax, kWindowBytesMax));
    EXPECT_LT(windowBytesFor({9600, 10, false, 50, 3000, 3}), 8 * 1024u) << "acknowledged within seconds";
}

// The codec against an independent one (Debian's libfec) with the same
// field and roots: the same parity, the same repairs, the same refusals.
TEST(ReedSolomon, AgreesWithAnIndependentCodec) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 3000; ++trial) {
        const int roots = 2 * (1 + int(rng() % 8));
        const size_t k = 1 + rng() % size_t(255 - roots);
        Bytes data(k), ours(static_cast<size_t>(roots)), theirs(static_cast<size_t>(roots));
        for (auto& b : data) b = uint8_t(rng());
        void* rs = init_rs_char(8, 0x11d, 1, 1, roots, int(255 - size_t(roots) - k));
        encode_rs_char(rs, data.data(), theirs.data());
        tvk_rs_encode(data.data(), k, ours.data(), roots);
        ASSERT_EQ(ours, theirs) << roots << " " << k;
        Bytes word = data;
        word.insert(word.end(), ours.begin(), ours.end());
        for (int e = int(rng() % size_t(roots / 2 + 3)); e > 0; --e)
            word[rng() % word.size()] ^= uint8_t(1 + rng() % 255);
        Bytes other = word;
        const int fixed = tvk_rs_decode(word.data(), word.size(), roots);
        const int otherFixed = decode_rs_char(rs, other.data(), nullptr, 0);
        free_rs_char(rs);
        ASSERT_EQ(fixed < 0, otherFixed < 0) << roots << " " << k;
        if (fixed >= 0) {
            EXPECT_TRUE(fixed == otherFixed && word == other);
        }
    }
}

// Protected frames: up to their strength of damaged bytes in every codeword
// (and a damaged copy of the header) are set right, more is not; and
// whatever the line does, a frame comes out as sent or not at all.
TEST(Frames, ProtectedFramesAreRepairedWithinTheirStrengthAndNeverWrong) {
    // Strength, damaged bytes per codeword, a header copy damaged, repaired.
    const std::tuple<int, int, bool, bool> cases[] = {
        {1, 1, false, true}, {3, 3, true, true}, {8, 8, true, true}, {2, 3, false, false}, {8, 9, false, false}};
    for (const auto& [t, damage, header, repairs] : cases) {
        SCOPED_TRACE(std::to_string(t) + " " + std::to_string(damage));
        const Bytes body = bytes(maxPayloadAt(t) + kHeaderLen + kCrcLen, unsigned(t));
        Bytes block, back;
        fecProtect(body.data(), body.size(), t, block);
        EXPECT_EQ(block.size(), fecLength(body.size(), t));
        EXPECT_LE(block.size(), kMaxBody);
        const size_t words = (body.size() + 254 - size_t(2 * t)) / size_t(255 - 2 * t);
        for (size_t j = 0; j < words; ++j)
            for (int d = 0; d < damage; ++d) block[kFecHeaderLen + j + size_t(d) * words] ^= 0xA5;
        if (header) block[1] = 0x7F;
        int strength = 0, fixed = 0;
        const bool ok = fecRepair(block.data(), block.size(), back, strength, fixed);
        // Beyond its strength a code may settle on another codeword: the body's CRC catches that.
        EXPECT_EQ(ok && back == body, repairs);
        if (repairs) {
            EXPECT_TRUE(strength == t && fixed == damage * int(words));
        }
    }
    std::mt19937 rng(11);
    size_t repaired = 0;
    for (bool seven : {false, true})
        for (int trial = 0; trial < 300; ++trial) {
            Frame sent{3, FrameType::Data, true, true, uint16_t(trial), bytes(1 + rng() % 3000, unsigned(trial))};
            sent.fec = uint8_t(1 + trial % kFecMaxStrength);
            Bytes line;
            encodeFrame(sent, seven, line);
            for (int e = int(rng() % 12); e > 0; --e) line[rng() % (line.size() - 1)] ^= uint8_t(1 << (rng() % 7));
            FrameDecoder dec(seven);
            std::vector<Frame> got;
            dec.feed(line.data(), line.size(), got);
            for (const Frame& f : got) {
                if (f.addr != sent.addr) continue;  // a piece cut off by a damaged delimiter, never valid
                EXPECT_TRUE(f.seq == sent.seq && f.payload == sent.payload && f.fec == sent.fec) << trial;
            }
            repaired += dec.repaired;
        }
    EXPECT_GT(repaired, 300u) << "most damaged frames are set right";
}
