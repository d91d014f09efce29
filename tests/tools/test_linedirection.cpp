#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "linedirection.h"

using namespace quendril::lineemu;

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

struct Outcome {
    std::vector<uint8_t> out;
    double lastDelivery = 0;
};

// Feeds everything as fast as the line takes it, in simulated time.
Outcome pushThrough(LineDirection& line, const std::vector<uint8_t>& data) {
    Outcome r;
    size_t sent = 0;
    double t = 0;
    for (;;) {
        size_t n = std::min(line.room(t), data.size() - sent);
        line.accept(data.data() + sent, n, t);
        sent += n;
        line.releaseDue(t);
        if (!line.backlog().empty()) r.lastDelivery = t;
        r.out.insert(r.out.end(), line.backlog().begin(), line.backlog().end());
        line.consumed(line.backlog().size());
        double next = line.nextWake(t);
        if (next < 0) break;
        t = std::max(next, t);
    }
    EXPECT_EQ(sent, data.size());
    return r;
}

int differingBits(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += std::popcount(static_cast<unsigned>(a[i] ^ b[i]));
    return n;
}

LineFormat format(uint32_t baud, int data, Parity parity, int stop) {
    LineFormat f;
    f.baud = baud;
    f.dataBits = data;
    f.parity = parity;
    f.stopBits = stop;
    return f;
}

}  // namespace

TEST(LineDirection, DeliversAtTheLineRatePlusLatency) {
    struct Case {
        LineFormat fmt;
        double latencyMs;
        int bitsPerChar;
    };
    const Case cases[] = {
        {format(115200, 8, Parity::None, 1), 0, 10},
        {format(115200, 7, Parity::Even, 1), 10, 10},
        {format(9600, 8, Parity::Odd, 2), 3, 12},
        {format(300, 5, Parity::None, 1), 0, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.fmt.bitsPerChar(), c.bitsPerChar);
        LineDirection line(c.fmt, c.latencyMs, Faults{}, 0);
        auto data = randomBytes(2000, 1);
        Outcome r = pushThrough(line, data);
        ASSERT_EQ(r.out.size(), data.size());
        double expected = 2000 * c.bitsPerChar * 1e9 / c.fmt.baud + c.latencyMs * 1e6;
        EXPECT_NEAR(r.lastDelivery, expected, 1e3) << c.fmt.baud;
    }
}

TEST(LineDirection, NeverDeliversBeforeTheCharacterHasCrossedTheLine) {
    LineFormat fmt = format(115200, 8, Parity::None, 1);
    LineDirection line(fmt, 2, Faults{}, 0);
    uint8_t byte = 0x55;
    line.accept(&byte, 1, 1e6);
    double due = 1e6 + fmt.charTimeNs() + 2e6;
    line.releaseDue(due - 1);
    EXPECT_TRUE(line.backlog().empty());
    EXPECT_DOUBLE_EQ(line.nextWake(due - 1), due);
    line.releaseDue(due);
    ASSERT_EQ(line.backlog().size(), 1u);
    EXPECT_EQ(line.backlog()[0], 0x55);
}

TEST(LineDirection, ReadAheadIsBoundedToAFewMilliseconds) {
    LineFormat fmt = format(115200, 8, Parity::None, 1);
    LineDirection line(fmt, 0, Faults{}, 0);
    size_t room = line.room(0);
    EXPECT_GT(room, 16u);
    EXPECT_LT(static_cast<double>(room) * fmt.charTimeNs(), 6e6);
    std::vector<uint8_t> burst(room, 0);
    line.accept(burst.data(), burst.size(), 0);
    EXPECT_EQ(line.room(0), 0u);
    EXPECT_GT(line.room(3e6), 0u);
}

TEST(LineDirection, SevenBitLineStripsBitSeven) {
    LineDirection line(format(115200, 7, Parity::Even, 1), 0, Faults{}, 0);
    auto data = randomBytes(4096, 2);
    Outcome r = pushThrough(line, data);
    ASSERT_EQ(r.out.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(r.out[i], data[i] & 0x7f) << i;
}

TEST(LineDirection, BitErrorsFollowTheRateAndTheSeed) {
    struct Case {
        int dataBits;
        double ber;
        uint64_t seed;
    };
    const Case cases[] = {{8, 1e-3, 1}, {8, 1e-2, 7}, {7, 1e-3, 3}, {8, 1.0, 5}};
    for (const auto& c : cases) {
        Faults f;
        f.bitErrorRate = c.ber;
        f.seed = c.seed;
        LineFormat fmt = format(1'000'000, c.dataBits, Parity::None, 1);
        auto data = randomBytes(100'000, 3);
        LineDirection first(fmt, 0, f, 0);
        Outcome r1 = pushThrough(first, data);
        LineDirection again(fmt, 0, f, 0);
        Outcome r2 = pushThrough(again, data);
        EXPECT_EQ(r1.out, r2.out) << "same seed, same errors";

        uint8_t mask = static_cast<uint8_t>((1u << c.dataBits) - 1);
        std::vector<uint8_t> sent(data);
        for (auto& b : sent) b &= mask;
        int flipped = differingBits(sent, r1.out);
        EXPECT_EQ(static_cast<uint64_t>(flipped), first.counters().bitsFlipped);
        double expected = c.ber * 100'000.0 * c.dataBits;
        EXPECT_NEAR(flipped, expected, 5 * std::sqrt(expected) + 1) << c.ber;

        f.seed = c.seed + 100;
        LineDirection other(fmt, 0, f, 0);
        if (c.ber < 1.0) {
            EXPECT_NE(pushThrough(other, data).out, r1.out) << "other seed";
        }
    }
}

TEST(LineDirection, DirectionsDrawIndependentFaults) {
    Faults f;
    f.bitErrorRate = 1e-2;
    LineFormat fmt = format(1'000'000, 8, Parity::None, 1);
    auto data = randomBytes(10'000, 4);
    LineDirection ab(fmt, 0, f, 0);
    LineDirection ba(fmt, 0, f, 1);
    EXPECT_NE(pushThrough(ab, data).out, pushThrough(ba, data).out);
}

TEST(LineDirection, DropsCharactersAtTheRate) {
    for (double rate : {0.0, 0.01, 0.2}) {
        Faults f;
        f.dropRate = rate;
        f.seed = 9;
        LineDirection line(format(1'000'000, 8, Parity::None, 1), 0, f, 0);
        auto data = randomBytes(50'000, 5);
        Outcome r = pushThrough(line, data);
        const auto& c = line.counters();
        EXPECT_EQ(c.bytesIn, data.size());
        EXPECT_EQ(c.bytesDropped + c.bytesDelivered, data.size());
        EXPECT_EQ(r.out.size(), c.bytesDelivered);
        double expected = rate * 50'000;
        EXPECT_NEAR(static_cast<double>(c.bytesDropped), expected, 5 * std::sqrt(expected) + 1) << rate;
    }
}

TEST(LineDirection, OutageLosesWhatIsSentInsideTheWindow) {
    Faults f;
    f.outageStartMs = 10;
    f.outageLenMs = 20;
    LineFormat fmt = format(100'000, 8, Parity::None, 1);  // 100 us a character
    LineDirection line(fmt, 0, f, 0);
    std::vector<uint8_t> data(500);  // 50 ms of line time
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    Outcome r = pushThrough(line, data);
    EXPECT_EQ(line.counters().bytesLostOutage, 200u);
    ASSERT_EQ(r.out.size(), 300u);
    EXPECT_EQ(r.out[99], 99);
    EXPECT_EQ(r.out[100], 300 % 256);
}

TEST(LineDirection, BacklogOfAnUnreadEndIsBounded) {
    LineDirection line(format(10'000'000, 8, Parity::None, 1), 0, Faults{}, 0);
    std::vector<uint8_t> chunk(4096, 0xAA);
    double t = 0;
    uint64_t offered = 0;
    while (offered < LineDirection::kBacklogLimit + 10'000) {
        size_t n = std::min(line.room(t), chunk.size());
        line.accept(chunk.data(), n, t);
        offered += n;
        t += 1e6;
        line.releaseDue(t);
    }
    line.releaseDue(t + 1e9);
    EXPECT_EQ(line.backlog().size(), LineDirection::kBacklogLimit);
    EXPECT_EQ(line.counters().bytesOverrun, offered - LineDirection::kBacklogLimit);
}
