// lineemu's paced, fault-injecting line in simulated time (the relaying
// process carries every line test), both tools' input checks, and htsim's
// terminal around an install.
#include <gtest/gtest.h>
#include <bit>
#include <cmath>
#include "filebytes.h"
#include "fleet.h"
#include "linedirection.h"
#include "simterminal.h"

using namespace quendril::lineemu;
using namespace quendril::test;
using Bytes = std::vector<uint8_t>;
namespace {
Bytes randomBytes(size_t n, unsigned seed) {
    auto s = content(n, seed);
    return Bytes(s.begin(), s.end());
}

// Feeds all as fast as the line takes it (simulated time): the output and its last delivery time.
std::pair<Bytes, double> pushThrough(LineDirection& line, const Bytes& data) {
    Bytes out;
    double t = 0, last = 0;
    for (size_t sent = 0; t >= 0;) {
        size_t n = std::min(line.room(t), data.size() - sent);
        line.accept(data.data() + sent, n, t);
        sent += n;
        line.releaseDue(t);
        last = line.backlog().empty() ? last : t;
        out.insert(out.end(), line.backlog().begin(), line.backlog().end());
        line.consumed(line.backlog().size());
        t = line.nextWake(t) < 0 ? -1 : std::max(line.nextWake(t), t);
    }
    return {out, last};
}

uint64_t flippedBits(const Bytes& a, const Bytes& b) {
    uint64_t n = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += uint64_t(std::popcount(unsigned(a[i] ^ b[i])));
    return n;
}
}  // namespace

TEST(LineDirection, PacesDelaysAndInjectsFaultsBySeed) {
    const std::tuple<LineFormat, double, int> formats[] = {
        {{115200, 7, Parity::Even, 1}, 10, 10}, {{300, 5, Parity::None, 2}, 0, 8}};
    for (const auto& [fmt, latencyMs, bitsPerChar] : formats) {
        EXPECT_EQ(fmt.bitsPerChar(), bitsPerChar);
        LineDirection line(fmt, latencyMs, Faults{}, 0);
        auto data = randomBytes(2000, 1);
        auto [out, last] = pushThrough(line, data);
        ASSERT_EQ(out.size(), data.size());
        for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(out[i], data[i] & ((1 << fmt.dataBits) - 1));
        EXPECT_NEAR(last, 2000 * bitsPerChar * 1e9 / fmt.baud + latencyMs * 1e6, 1e3) << fmt.baud;
    }
    LineDirection line({}, 2, Faults{}, 0);
    const uint8_t byte = 0x55;
    line.accept(&byte, 1, 0);
    const double due = LineFormat{}.charTimeNs() + 2e6;
    line.releaseDue(due - 1);
    EXPECT_TRUE(line.backlog().empty()) << "never early";
    EXPECT_DOUBLE_EQ(line.nextWake(due - 1), due);
    line.releaseDue(due);
    EXPECT_EQ(line.backlog(), Bytes{0x55});
    auto data = randomBytes(50'000, 3);
    for (auto [ber, drop] : {std::pair(1e-3, 0.0), std::pair(0.0, 0.2)}) {
        const Faults f{.bitErrorRate = ber, .dropRate = drop, .seed = 9};
        LineDirection first({1'000'000}, 0, f, 0), again({1'000'000}, 0, f, 0), back({1'000'000}, 0, f, 1);
        auto out = pushThrough(first, data).first;
        EXPECT_EQ(pushThrough(again, data).first, out) << "same seed, same faults";
        EXPECT_NE(pushThrough(back, data).first, out) << "the other direction draws its own";
        const auto& c = first.counters();
        EXPECT_EQ(c.bytesDropped + c.bytesDelivered, 50'000u);
        EXPECT_EQ(out.size(), c.bytesDelivered);
        double expected = ber > 0 ? ber * 50'000 * 8 : drop * 50'000;
        EXPECT_NEAR(double(ber > 0 ? c.bitsFlipped : c.bytesDropped), expected, 5 * std::sqrt(expected) + 1);
        EXPECT_TRUE(ber == 0 || flippedBits(data, out) == c.bitsFlipped);
    }
    LineDirection cut({100'000}, 0, Faults{.outageStartMs = 10, .outageLenMs = 20}, 0);  // 100 us a character
    Bytes seq(500);
    for (size_t i = 0; i < seq.size(); ++i) seq[i] = uint8_t(i);
    auto out = pushThrough(cut, seq).first;
    EXPECT_EQ(cut.counters().bytesLostOutage, 200u);
    ASSERT_EQ(out.size(), 300u);
    EXPECT_EQ(std::pair(out[99], out[100]), std::pair(uint8_t(99), uint8_t(300 % 256)));
}

// Both tools refuse a bad command line or fleet line, naming it.
TEST(ToolInput, BadOptionsAndFleetLinesAreRefusedByName) {
    const std::pair<std::vector<std::string>, std::string> args[] = {{{"--a", "x"}, "both --a and --b are needed"},
        {{"--a=x", "--b=x"}, "--a and --b must differ"}, {{"--colour", "red"}, "unknown option: --colour"},
        {{"--baud"}, "missing value for --baud"}, {{"--baud", "1e3"}, "bad value for --baud: 1e3"},
        {{"--data=9"}, "bad value for --data: 9"}, {{"--parity", "mark"}, "bad value for --parity: mark"},
        {{"--ber", "1e"}, "bad value for --ber: 1e"}, {{"--ber", "0x1"}, "bad value for --ber: 0x1"},
        {{"--outage", "5"}, "bad value for --outage: 5"}, {{"--seed", "-1"}, "bad value for --seed: -1"},
        {{"--exit-with-parent", "-h"}, ""}};
    for (const auto& [line, error] : args) EXPECT_EQ(parseArgs(line).error, error) << line[0];
    EXPECT_NE(std::string(usageText()).find("--outage"), std::string::npos);
    const std::pair<const char*, const char*> fleets[] = {{"box 17\n", "line 1: box needs a number 1..16"},
        {"box 1\nbox 1\n", "line 2: box 1 given twice"}, {"box 1 id=LONGID7\n", "line 1: id is at most 6 characters, rev at most 2"},
        {"box 1\njob 1 recv\n", "line 2: job needs a box with a terminal declared before it"},
        {"box 1 id=A\njob 1 fly\n", "line 2: unknown job fly"}, {"box 1 id=A\njob 1 send\n", "line 2: wrong number of words for job send"},
        {"box 1 id=A\njob 1 recv repeat=0\n", "line 2: bad repeat=0"}, {"box 1 colour=red\n", "line 1: unknown option colour"}, {"box 1 memory=1000\n", "line 1: bad memory=1000"},
        {"line parity=mark\n", "line 1: bad parity=mark"}, {"\n\nteleport\n", "line 3: unknown directive teleport"}};
    for (const auto& [text, error] : fleets) {
        std::string got;
        EXPECT_FALSE(htsim::parseFleet(text, got)) << text;
        EXPECT_EQ(got, error);
    }
}

// A simulated terminal after an install: it reports the install once, waits
// idle for the release that ends it, and only then reports its next job.
TEST(SimulatedTerminal, ReportsAnInstallOnceAndMovesOnAtItsRelease) {
    std::string error;
    auto fleet = htsim::parseFleet("box 1 id=HT0001\njob 1 install\njob 1 end\n", error);
    ASSERT_TRUE(fleet) << error;
    htsim::SimTerminal term(fleet->boxes[0]);
    auto poll = [&] {
        bool idle = false;
        auto rec = term.answerPoll(idle);
        return rec ? std::pair(int(rec->transDir), int(rec->transType)) : std::pair(idle ? -1 : -2, 0);
    };
    EXPECT_EQ(poll(), std::pair(1, 15));
    term.jobEnded(true, 2, 100);
    const std::pair<int, int> after[] = {{255, 15}, {-1, 0}, {-1, 0}};
    for (const auto& want : after) EXPECT_EQ(poll(), want);
    term.released();
    EXPECT_EQ(poll(), std::pair(255, 0)) << "the end of its work";
}
