// The line benchmark cases shared by the peer harness and our protocol's
// bench, with the pieces both need: payload files, checks and the result table.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "linerig.h"

namespace quendril::bench {

struct BenchCase {
    std::string name;
    quendril::test::LineSettings line;
    uint64_t fileSize = 0;
    int fileCount = 1;
};

// Full cases, or smaller files for a smoke run.
std::vector<BenchCase> lineCases(bool quick);

struct BenchResult {
    std::string caseName;
    std::string protocol;
    std::string direction;  // "a->b": sender on side a
    const BenchCase* benchCase = nullptr;
    double elapsedSec = 0;
    std::string status;  // ok, corrupt, failed, dnf (time limit), n/a
    std::string note;
    uint64_t bitsFlipped = 0;

    uint64_t payloadBytes() const;
    double efficiency() const;
};

// Writes `count` random files of `size` bytes named f0001.bin... into `dir`.
std::vector<std::string> makePayload(const std::filesystem::path& dir, int count, uint64_t size,
                                     uint32_t seed);

enum class Arrival { Intact, Padded, Corrupt, Missing };
// Compares one received file with the original; `allowPadding` accepts a copy
// filled up with SUB (0x1A) to a block boundary, as XMODEM delivers it.
Arrival compareFile(const std::filesystem::path& sent, const std::filesystem::path& received,
                    bool allowPadding);

class ResultTable {
public:
    explicit ResultTable(const std::string& path);
    void add(const BenchResult& r);

private:
    std::string path_;
};

double secondsSince(std::chrono::steady_clock::time_point start);

}  // namespace quendril::bench
