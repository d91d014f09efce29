// One end of the emulated line as a test program sees it: a raw, non-blocking
// pseudo-terminal with helpers to write all and read a given amount in time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quendril::test {

class PtyEndpoint {
public:
    explicit PtyEndpoint(const std::string& path);
    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    void writeAll(const std::vector<uint8_t>& data);
    // Reads until `n` bytes came or nothing arrived for `quiet`.
    std::vector<uint8_t> readUpTo(size_t n, std::chrono::milliseconds quiet);

private:
    int fd_ = -1;
};

std::vector<uint8_t> randomPayload(size_t n, uint32_t seed);

// Sends `data` from `from` while reading at `to`, as two endpoints of a line do.
std::vector<uint8_t> transfer(PtyEndpoint& from, PtyEndpoint& to, const std::vector<uint8_t>& data,
                              std::chrono::milliseconds quiet);

}  // namespace quendril::test
