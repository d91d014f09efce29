// Payloads for the benchmarks, made from a seed: the same size and seed give
// the same bytes on every machine, compiler and library version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quendril::bench {

// One store's and one terminal's day of sales as a CSV file: a header, then
// one line per item sold, receipt after receipt.
std::string salesCsv(std::size_t n, uint64_t seed);

// English prose in paragraphs, wrapped at 72 columns.
std::string englishText(std::size_t n, uint64_t seed);

// Bytes no coder can shrink.
std::string randomBytes(std::size_t n, uint64_t seed);

}  // namespace quendril::bench
