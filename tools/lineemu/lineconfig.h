// Command-line settings of the line emulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quendril::lineemu {

enum class Parity { None, Odd, Even };

struct LineFormat {
    uint32_t baud = 115200;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;

    // Start bit + data bits + parity bit + stop bits.
    int bitsPerChar() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }
    double charTimeNs() const { return bitsPerChar() * 1e9 / baud; }
};

struct Faults {
    double bitErrorRate = 0.0;  // per data bit
    double dropRate = 0.0;      // per character
    uint64_t seed = 1;
    int64_t outageStartMs = 0;
    int64_t outageLenMs = 0;    // 0: no outage
};

struct Config {
    std::string linkA;
    std::string linkB;
    LineFormat format;
    double latencyAbMs = 0.0;
    double latencyBaMs = 0.0;
    Faults faults;
    std::string readyFile;
    std::string statsFile;
    bool exitWithParent = false;
    bool help = false;
};

struct ParseResult {
    Config config;
    std::string error;  // empty when the command line was good
};

ParseResult parseArgs(const std::vector<std::string>& args);
const char* usageText();

}  // namespace quendril::lineemu
