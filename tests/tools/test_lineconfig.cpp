#include <gtest/gtest.h>

#include "lineconfig.h"

using namespace quendril::lineemu;

namespace {

std::vector<std::string> withEnds(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--a", "/tmp/x", "--b", "/tmp/y"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace

TEST(LineConfig, DefaultsAre115200EightNoneOne) {
    ParseResult r = parseArgs(withEnds({}));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.config.format.baud, 115200u);
    EXPECT_EQ(r.config.format.bitsPerChar(), 10);
    EXPECT_EQ(r.config.faults.bitErrorRate, 0.0);
    EXPECT_EQ(r.config.faults.outageLenMs, 0);
}

TEST(LineConfig, ReadsEveryOptionInBothForms) {
    ParseResult r = parseArgs(withEnds({"--baud", "9600", "--data=7", "--parity", "even", "--stop", "2",
                                        "--latency-ab", "10", "--latency-ba=2.5", "--ber", "1e-5",
                                        "--drop", "0.01", "--seed", "42", "--outage", "100:250",
                                        "--ready-file", "r", "--stats", "s", "--exit-with-parent"}));
    ASSERT_EQ(r.error, "");
    const Config& c = r.config;
    EXPECT_EQ(c.format.baud, 9600u);
    EXPECT_EQ(c.format.dataBits, 7);
    EXPECT_EQ(c.format.parity, Parity::Even);
    EXPECT_EQ(c.format.stopBits, 2);
    EXPECT_EQ(c.format.bitsPerChar(), 11);
    EXPECT_DOUBLE_EQ(c.latencyAbMs, 10);
    EXPECT_DOUBLE_EQ(c.latencyBaMs, 2.5);
    EXPECT_DOUBLE_EQ(c.faults.bitErrorRate, 1e-5);
    EXPECT_DOUBLE_EQ(c.faults.dropRate, 0.01);
    EXPECT_EQ(c.faults.seed, 42u);
    EXPECT_EQ(c.faults.outageStartMs, 100);
    EXPECT_EQ(c.faults.outageLenMs, 250);
    EXPECT_EQ(c.readyFile, "r");
    EXPECT_EQ(c.statsFile, "s");
    EXPECT_TRUE(c.exitWithParent);
    EXPECT_FALSE(parseArgs(withEnds({})).config.exitWithParent);
}

TEST(LineConfig, RejectsBadInputWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {"--baud", "0"},        {"--baud", "fast"},    {"--baud", "115200x"}, {"--data", "9"},
        {"--data", "4"},        {"--parity", "mark"},  {"--stop", "3"},       {"--ber", "2"},
        {"--ber", "-0.1"},      {"--ber", "nan"},      {"--drop", "inf"},     {"--drop", "0x1"},
        {"--latency-ab", "-1"}, {"--outage", "100"},   {"--outage", "a:b"},   {"--outage", "-5:10"},
        {"--seed", "-1"},       {"--bogus", "1"},      {"--baud"},
    };
    for (const auto& extra : bad) {
        ParseResult r = parseArgs(withEnds(extra));
        EXPECT_NE(r.error, "") << extra[0];
    }
    EXPECT_NE(parseArgs({"--a", "/tmp/x"}).error, "");
    EXPECT_NE(parseArgs({"--a", "/tmp/x", "--b", "/tmp/x"}).error, "");
}

TEST(LineConfig, HelpNeedsNoEnds) {
    EXPECT_TRUE(parseArgs({"--help"}).config.help);
    EXPECT_NE(std::string(usageText()).find("--outage START:LEN"), std::string::npos);
}
