// File helpers shared by the transfer and API tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tvktest {

inline std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeRandomFile(const std::filesystem::path& p, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng());
    std::ofstream(p, std::ios::binary) << s;
}

}  // namespace tvktest
