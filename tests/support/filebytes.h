// Whole-file byte access and test file contents for tests that prepare
// files and read them back.
#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
using FileMap = std::map<std::string, std::string>;  // relative path -> bytes; a directory "name/" -> ""
// Every file and directory below dir; a missing directory holds nothing.
inline FileMap snapshot(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    FileMap files;
    for (const auto& e : fs::exists(dir) ? fs::recursive_directory_iterator(dir) : fs::recursive_directory_iterator()) {
        const std::string rel = fs::relative(e.path(), dir).string();
        files[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? "" : readBytes(e.path().string());
    }
    return files;
}
}  // namespace quendril::test
