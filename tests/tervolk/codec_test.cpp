// Byte codecs and frames: CRC-32C vectors, COBS, 7-in-8 packing, bounds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec.h"
#include "frame.h"
#include "termiosport.h"

using namespace tvk;

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed, bool withZeros = true) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        b = uint8_t(rng());
        if (!withZeros && b == 0) b = 1;
    }
    return v;
}

}  // namespace

TEST(Crc32c, KnownVectorsAndChaining) {
    struct Case {
        std::string data;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xC1D04330u},
        {"123456789", 0xE3069283u},
        {std::string(32, '\0'), 0x8A9136AAu},
        {std::string(32, '\xFF'), 0x62A8AB43u},
    };
    for (const auto& c : cases) EXPECT_EQ(crc32c(c.data.data(), c.data.size()), c.crc) << c.data.size();
    auto big = randomBytes(1000, 7);
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(999)}) {
        EXPECT_EQ(crc32c(big.data() + cut, big.size() - cut, crc32c(big.data(), cut)), crc32c(big.data(), big.size()));
    }
}

TEST(Cobs, RoundTripsWithoutZerosForBothLineWidths) {
    std::vector<std::vector<uint8_t>> inputs = {
        {}, {0}, {0, 0}, {1}, {1, 0}, {0, 1}, std::vector<uint8_t>(254, 7), std::vector<uint8_t>(255, 7),
        std::vector<uint8_t>(126, 5), std::vector<uint8_t>(127, 5), std::vector<uint8_t>(600, 0),
        randomBytes(5000, 1), randomBytes(5000, 2, false)};
    for (unsigned maxCode : {255u, 127u}) {
        for (const auto& in : inputs) {
            std::vector<uint8_t> enc, dec;
            cobsEncode(in.data(), in.size(), maxCode, enc);
            EXPECT_LE(enc.size(), cobsBound(in.size(), maxCode));
            for (uint8_t c : enc) {
                ASSERT_NE(c, 0);
            }
            ASSERT_TRUE(cobsDecode(enc.data(), enc.size(), maxCode, dec));
            EXPECT_EQ(dec, in) << "maxCode " << maxCode << " len " << in.size();
        }
    }
    // Worst-case overhead on an 8-bit line stays under 0.4 %.
    std::vector<uint8_t> enc;
    auto data = randomBytes(100000, 3, false);
    cobsEncode(data.data(), data.size(), 255, enc);
    EXPECT_LT(double(enc.size() - data.size()) / double(data.size()), 0.004);
}

TEST(Cobs, RejectsMalformedBlocks) {
    std::vector<uint8_t> out;
    const std::vector<std::vector<uint8_t>> bad = {{0}, {5, 1, 2}, {3, 0, 1}, {200, 1}};
    for (const auto& b : bad) EXPECT_FALSE(cobsDecode(b.data(), b.size(), 255, out));
    std::vector<uint8_t> high = {0x90, 1};
    EXPECT_FALSE(cobsDecode(high.data(), high.size(), 127, out));
}

TEST(Pack7, RoundTripsEveryLengthAndStaysSevenBit) {
    for (size_t n = 0; n < 40; ++n) {
        auto in = randomBytes(n, uint32_t(n + 10));
        std::vector<uint8_t> packed, out;
        pack7(in.data(), in.size(), packed);
        EXPECT_EQ(packed.size(), pack7Length(n));
        for (uint8_t c : packed) ASSERT_LT(c, 0x80);
        ASSERT_TRUE(unpack7(packed.data(), packed.size(), out));
        EXPECT_EQ(out, in);
    }
    std::vector<uint8_t> out;
    const std::vector<std::vector<uint8_t>> bad = {{0x01}, {0x80, 0x00}, {0x01, 0x02}, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
    for (const auto& b : bad) EXPECT_FALSE(unpack7(b.data(), b.size(), out)) << b.size();
}

TEST(Varint, RoundTripsAndRejectsTruncatedOrOverlong) {
    for (uint64_t v : {uint64_t(0), uint64_t(127), uint64_t(128), uint64_t(1) << 35, ~uint64_t(0)}) {
        std::vector<uint8_t> b;
        putVarint(b, v);
        EXPECT_EQ(b.size(), varintLength(v));
        size_t pos = 0;
        uint64_t back = 1;
        ASSERT_TRUE(getVarint(b.data(), b.size(), pos, back));
        EXPECT_EQ(back, v);
        pos = 0;
        EXPECT_FALSE(getVarint(b.data(), b.size() - 1, pos, back));
    }
    std::vector<uint8_t> tooLong(11, 0xFF);
    size_t pos = 0;
    uint64_t v = 0;
    EXPECT_FALSE(getVarint(tooLong.data(), tooLong.size(), pos, v));
}

TEST(Frames, RoundTripOnBothLineWidthsAndSplitFeeds) {
    for (bool seven : {false, true}) {
        std::vector<Frame> sent;
        std::vector<uint8_t> line = {'g', 'a', 'r', 0x19};  // garbage before the first delimiter
        line.push_back(0);
        for (size_t len : {size_t(0), size_t(1), size_t(300), kMaxPayload}) {
            Frame f;
            f.addr = uint8_t(1 + len % 16);
            f.type = FrameType::Data;
            f.pf = len % 2 == 0;
            f.fromBox = len % 3 == 0;
            f.seq = uint16_t(len * 7);
            f.payload = randomBytes(len, uint32_t(len));
            encodeFrame(f, seven, line);
            EXPECT_LE(line.size(), encodedLength(kMaxPayload, seven) * 8);
            sent.push_back(f);
        }
        if (seven) {
            for (uint8_t c : line) ASSERT_LT(c, 0x80);
        }
        FrameDecoder dec(seven);
        std::vector<Frame> got;
        for (size_t i = 0; i < line.size(); i += 13) dec.feed(line.data() + i, std::min<size_t>(13, line.size() - i), got);
        ASSERT_EQ(got.size(), sent.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].addr, sent[i].addr);
            EXPECT_EQ(got[i].type, sent[i].type);
            EXPECT_EQ(got[i].pf, sent[i].pf);
            EXPECT_EQ(got[i].fromBox, sent[i].fromBox);
            EXPECT_EQ(got[i].seq, sent[i].seq);
            EXPECT_EQ(got[i].payload, sent[i].payload);
        }
    }
}

TEST(Frames, DamagedFrameIsDroppedAndTheNextOneStillArrives) {
    struct Case {
        const char* what;
        size_t at;        // offset into the first frame
        uint8_t value;    // replacement character
    } cases[] = {{"flipped byte", 10, 0x5A}, {"early delimiter", 20, 0x00}, {"code byte", 0, 0x03}};
    for (const auto& c : cases) {
        Frame a, b;
        a.addr = 1;
        a.type = FrameType::Data;
        a.payload = randomBytes(100, 5, false);
        b.addr = 2;
        b.type = FrameType::Ack;
        b.payload = {1, 2, 3};
        std::vector<uint8_t> line;
        encodeFrame(a, false, line);
        encodeFrame(b, false, line);
        line[c.at] = uint8_t(line[c.at] == c.value ? c.value ^ 1 : c.value);
        FrameDecoder dec(false);
        std::vector<Frame> got;
        dec.feed(line.data(), line.size(), got);
        ASSERT_EQ(got.size(), 1u) << c.what;
        EXPECT_EQ(got[0].addr, 2) << c.what;
        EXPECT_GE(dec.crcErrors, 1u) << c.what;
    }
}

TEST(Frames, EndlessFrameIsRefusedAndDecodingResumes) {
    FrameDecoder dec(false);
    std::vector<Frame> got;
    std::vector<uint8_t> flood(1 << 20, 0x41);
    dec.feed(flood.data(), flood.size(), got);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(dec.overlong, 1u);
    std::vector<uint8_t> line = {0};
    Frame f;
    f.addr = 3;
    f.type = FrameType::Poll;
    encodeFrame(f, false, line);
    dec.feed(line.data(), line.size(), got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].addr, 3);
}

TEST(LineErrors, MarkedCharactersBecomeDelimitersAndDataFFSurvives) {
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> reads;
        std::vector<uint8_t> out;
        bool damaged;
    } cases[] = {
        {"plain", {{1, 2, 3}}, {1, 2, 3}, false},
        {"data 0xFF", {{1, 0xFF, 0xFF, 2}}, {1, 0xFF, 2}, false},
        {"parity error", {{1, 0xFF, 0x00, 0x41, 2}}, {1, 0x00, 2}, true},
        {"break", {{0xFF, 0x00, 0x00}}, {0x00}, true},
        {"mark split across reads", {{7, 0xFF}, {0x00}, {0x33, 8}}, {7, 0x00, 8}, true},
        {"data 0xFF split", {{0xFF}, {0xFF, 9}}, {0xFF, 9}, false},
    };
    for (const auto& c : cases) {
        int state = 0;
        bool damaged = false;
        std::vector<uint8_t> out;
        for (auto read : c.reads) {
            size_t n = tvk::unmarkErrors(read.data(), read.size(), state, damaged);
            out.insert(out.end(), read.begin(), read.begin() + long(n));
        }
        EXPECT_EQ(out, c.out) << c.what;
        EXPECT_EQ(damaged, c.damaged) << c.what;
        EXPECT_EQ(state, 0) << c.what;
    }
}
