// Whole-file byte access and test file contents for tests that prepare
// files and read them back.
#pragma once
#include <fstream>
#include <iterator>
#include <string>

namespace quendril::test {
// Bytes that differ from file to file and cover every byte value.
inline std::string content(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
    return s;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace quendril::test
