// Whole-file byte access for tests that prepare files and read them back.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace quendril::test {

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quendril::test
