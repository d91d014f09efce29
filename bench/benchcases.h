// The line benchmark cases shared by the peer harness and our protocol's
// bench, with the pieces both need: payload files, checks and the result table.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linerig.h"

namespace quendril::bench {

// What the files hold: bytes no coder can shrink, or the terminal data
// compression is for (gendata.h).
enum class Payload { Random, SalesCsv, EnglishText };

struct BenchCase {
    std::string name;
    quendril::test::LineSettings line;
    uint64_t fileSize = 0;
    int fileCount = 1;
    Payload payload = Payload::Random;
    // Peers run on this case; empty: all of them, {"none"}: none.
    std::vector<std::string> peers;
    // The box's buffers in bytes (htsim's memory=); 0: htsim's roomy default.
    uint32_t boxMemory = 0;
};

// The case's time limit: the one given, or more when even a protocol
// moving its bytes uncompressed at the full line rate needs longer.
double timeLimitFor(const BenchCase& c, double given);

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

// Writes `count` files of `size` bytes named f0001.bin... into `dir`.
std::vector<std::string> makePayload(const std::filesystem::path& dir, int count, uint64_t size,
                                     uint32_t seed, Payload payload = Payload::Random);

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

// Command line shared by the bench programs:
//   [--quick] [--time-limit SEC] [--out FILE] [--cases a,b] [--peers a,b]
struct BenchOptions {
    bool quick = false;
    double timeLimitSec = 600;
    std::string out;
    std::vector<std::string> cases;  // empty: all
    std::vector<std::string> peers;  // empty: all
};

// Empty when the command line is bad (the reason is printed on stderr).
std::optional<BenchOptions> parseBenchOptions(int argc, char** argv, const std::string& defaultOut);
// Copies the named logs of a run that did not end "ok" into the folder
// <out>.logs, as <case>-<protocol>-<direction>-<log>, before the run's directory goes.
void keepLogs(const std::filesystem::path& work, const BenchOptions& opt, const BenchResult& r,
              const std::vector<std::string>& logs);

// Parses the command line and runs `body`, reporting failures; returns the exit code.
int benchMain(int argc, char** argv, const std::string& defaultOut, const char* usage,
              const std::function<void(const BenchOptions&)>& body);

// One line of progress on standard output.
void printResult(const BenchResult& r);

// True when `list` is empty or names `name`.
bool selected(const std::vector<std::string>& list, const std::string& name);

}  // namespace quendril::bench
