#include <gtest/gtest.h>

#include <limits>

#include "hostpcIni.h"

namespace quendril {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(NumericValue, LeadingNumberRule) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"", 0},          {"abc", 0},        {"  12", 12},       {"\t7", 7},
        {"12abc", 12},    {"0050", 50},      {"03000", 3000},    {"16 ", 16},
        {"1 2", 1},       {"+7", 7},         {"-3", -3},         {"- 3", 0},
        {"2.5", 2},       {"3.5", 4},        {"0.5", 0},         {"1.5", 2},
        {"-2.5", -2},     {"-3.5", -4},      {"2.51", 3},        {"2.49", 2},
        {".5", 0},        {"1.", 1},         {".", 0},           {"1e3", 1000},
        {"1D2", 100},     {"1e", 1},         {"1e+", 1},         {"2E-1", 0},
        {"1.2.3", 1},     {"99999999999", kMax},                 {"-99999999999", kMin},
        {"2147483647", kMax},                {"-2147483648", kMin},
        {"1e400", kMax},  {"-1e400", kMin},  {"1e-400", 0},      {std::string(400, '9'), kMax},
        {std::string("1\0" "2", 3), 1},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(numericValue(text), value) << '"' << text << '"';
}

TEST(IsWholeNumber, WholeTextWithBlanksAround) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"12", true},  {" 5", true},  {"1 ", true},  {"  ", false}, {"", false},
        {"1 2", false}, {"12a", false}, {"1.5", true}, {"+3", true}, {"-", false},
        {"0x10", false}, {"1e2", true},
    };
    for (const auto& [text, whole] : cases) EXPECT_EQ(isWholeNumber(text), whole) << '"' << text << '"';
}

TEST(FileKind, IndexAndCode) {
    const std::vector<std::pair<std::string, int16_t>> indexCases = {
        {"LOD", 0}, {"lod", 0}, {"Otr", 1}, {"ALL", 2}, {"all", 2},
        {"XYZ", -1}, {"", -1}, {"   ", -1}, {"LOD ", -1}, {"ALLX", -1},
    };
    for (const auto& [code, index] : indexCases) EXPECT_EQ(fileKindIndex(code), index) << code;
    const std::vector<std::pair<int16_t, std::string>> codeCases = {
        {0, "LOD"}, {1, "OTR"}, {2, "ALL"}, {3, ""}, {-1, ""},
    };
    for (const auto& [index, code] : codeCases) EXPECT_EQ(fileKindCode(index), code) << index;
}

TEST(FitWidth, PadsAndCuts) {
    EXPECT_EQ(fitWidth("", 3), "   ");
    EXPECT_EQ(fitWidth("ab", 3), "ab ");
    EXPECT_EQ(fitWidth("abcd", 3), "abc");
    EXPECT_EQ(fitWidth("abc", 3), "abc");
}

}  // namespace
}  // namespace quendril
