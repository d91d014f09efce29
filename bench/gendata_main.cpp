// Writes one benchmark payload to a file, so that scripts and the peers'
// runs use the very bytes the bench programs generate.
//   gendata csv|text|random SIZE SEED OUTFILE     (SIZE in bytes, or with K or M)
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "gendata.h"

namespace {

std::size_t parseSize(const std::string& s) {
    std::size_t used = 0;
    unsigned long long v = std::stoull(s, &used);
    std::string unit = s.substr(used);
    if (unit == "K" || unit == "k") return static_cast<std::size_t>(v << 10);
    if (unit == "M" || unit == "m") return static_cast<std::size_t>(v << 20);
    if (!unit.empty()) throw std::invalid_argument("bad size " + s);
    return static_cast<std::size_t>(v);
}

std::string generate(const std::string& kind, std::size_t size, uint64_t seed) {
    if (kind == "csv") return quendril::bench::salesCsv(size, seed);
    if (kind == "text") return quendril::bench::englishText(size, seed);
    if (kind == "random") return quendril::bench::randomBytes(size, seed);
    throw std::invalid_argument("unknown kind " + kind);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: gendata csv|text|random SIZE SEED OUTFILE\n";
        return 2;
    }
    try {
        std::string data = generate(argv[1], parseSize(argv[2]), std::stoull(argv[3]));
        std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[4]);
    } catch (const std::exception& e) {
        std::cerr << "gendata: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
