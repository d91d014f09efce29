#include "benchcases.h"

#include "gendata.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iomanip>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quendril::bench {

namespace {

using quendril::test::LineSettings;

LineSettings line(uint32_t baud) {
    LineSettings s;
    s.baud = baud;
    return s;
}

BenchCase makeCase(std::string name, LineSettings s, uint64_t size, int count = 1) {
    return BenchCase{std::move(name), std::move(s), size, count, Payload::Random, {}};
}

// Terminal data for compression, with ZMODEM beside us on the same files.
BenchCase dataCase(std::string name, LineSettings s, uint64_t size, Payload payload) {
    return BenchCase{std::move(name), std::move(s), size, 1, payload, {"zmodem"}};
}

// The smallest box that still moves files at full speed; only our
// protocol has box limits to honour.
BenchCase smallBoxCase(std::string name, LineSettings s, uint64_t size) {
    BenchCase c = makeCase(std::move(name), std::move(s), size);
    c.peers = {"none"};
    c.boxMemory = 4096;
    return c;
}

}  // namespace

std::vector<BenchCase> lineCases(bool quick) {
    const uint64_t big = quick ? 64 * 1024 : 1024 * 1024;
    const uint64_t mid = quick ? 16 * 1024 : 256 * 1024;
    const uint64_t small = quick ? 4 * 1024 : 64 * 1024;
    const int batch = quick ? 20 : 200;
    LineSettings ber5 = line(115200);
    ber5.bitErrorRate = 1e-5;
    LineSettings ber4 = line(115200);
    ber4.bitErrorRate = 1e-4;
    LineSettings sevenBit = line(115200);
    sevenBit.dataBits = 7;
    sevenBit.parity = "even";
    LineSettings latency = line(115200);
    latency.latencyAbMs = 10;
    latency.latencyBaMs = 10;
    return {
        makeCase("clean-115200", line(115200), big),
        makeCase("clean-38400", line(38400), mid),
        makeCase("clean-9600", line(9600), small),
        makeCase("batch-512B-115200", line(115200), 512, batch),
        makeCase("ber1e-5-115200", ber5, big),
        makeCase("ber1e-4-115200", ber4, big),
        makeCase("7E1-115200", sevenBit, big),
        makeCase("latency10ms-115200", latency, big),
        dataCase("csv-115200", line(115200), big, Payload::SalesCsv),
        dataCase("csv-9600", line(9600), big, Payload::SalesCsv),
        dataCase("text-115200", line(115200), big, Payload::EnglishText),
        smallBoxCase("box-4KiB-115200", line(115200), big),
    };
}

double timeLimitFor(const BenchCase& c, double given) {
    const double raw = double(c.fileSize) * c.fileCount / c.line.charRate();
    return std::max(given, 1.5 * raw);
}

uint64_t BenchResult::payloadBytes() const {
    return benchCase ? benchCase->fileSize * static_cast<uint64_t>(benchCase->fileCount) : 0;
}

double BenchResult::efficiency() const {
    if (status != "ok" || elapsedSec <= 0 || !benchCase) return 0;
    return static_cast<double>(payloadBytes()) / (elapsedSec * benchCase->line.charRate());
}

std::vector<std::string> makePayload(const std::filesystem::path& dir, int count, uint64_t size,
                                     uint32_t seed, Payload payload) {
    std::filesystem::create_directories(dir);
    std::mt19937_64 rng(seed);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        std::ostringstream name;
        name << 'f' << std::setw(4) << std::setfill('0') << i + 1 << ".bin";
        std::string data(size, '\0');
        if (payload == Payload::SalesCsv) data = salesCsv(size, seed + uint32_t(i));
        else if (payload == Payload::EnglishText) data = englishText(size, seed + uint32_t(i));
        else for (auto& c : data) c = static_cast<char>(rng());
        std::ofstream(dir / name.str(), std::ios::binary) << data;
        names.push_back(name.str());
    }
    return names;
}

Arrival compareFile(const std::filesystem::path& sent, const std::filesystem::path& received,
                    bool allowPadding) {
    std::ifstream a(sent, std::ios::binary);
    std::ifstream b(received, std::ios::binary);
    if (!b) return Arrival::Missing;
    std::string x((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    std::string y((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
    if (x == y) return Arrival::Intact;
    if (!allowPadding || y.size() < x.size() || y.compare(0, x.size(), x) != 0) return Arrival::Corrupt;
    for (size_t i = x.size(); i < y.size(); ++i)
        if (y[i] != '\x1a') return Arrival::Corrupt;
    return Arrival::Padded;
}

ResultTable::ResultTable(const std::string& path) : path_(path) {
    std::ofstream out(path_, std::ios::trunc);
    out << "case,protocol,direction,baud,format,latency_ms,ber,files,payload_bytes,elapsed_s,"
           "efficiency,status,bits_flipped,note\n";
    if (!out) throw std::runtime_error("cannot write " + path_);
}

void ResultTable::add(const BenchResult& r) {
    const auto& s = r.benchCase->line;
    std::ofstream out(path_, std::ios::app);
    out << r.caseName << ',' << r.protocol << ',' << r.direction << ',' << s.baud << ',' << s.dataBits
        << (s.parity == "none" ? 'N' : static_cast<char>(std::toupper(s.parity[0]))) << s.stopBits << ','
        << s.latencyAbMs << ',' << s.bitErrorRate << ',' << r.benchCase->fileCount << ','
        << r.payloadBytes() << ',' << std::fixed << std::setprecision(3) << r.elapsedSec << ','
        << std::setprecision(4) << r.efficiency() << ',' << r.status << ',' << r.bitsFlipped << ','
        << '"' << r.note << '"' << '\n';
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

namespace {

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> v;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) v.push_back(item);
    return v;
}

}  // namespace

std::optional<BenchOptions> parseBenchOptions(int argc, char** argv, const std::string& defaultOut) {
    BenchOptions o;
    o.out = defaultOut;
    try {
        for (int i = 1; i < argc; ++i) {
            std::string a = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument("missing value for " + a);
                return argv[++i];
            };
            if (a == "--quick") o.quick = true;
            else if (a == "--time-limit") o.timeLimitSec = std::stod(value());
            else if (a == "--out") o.out = value();
            else if (a == "--cases") o.cases = splitList(value());
            else if (a == "--peers") o.peers = splitList(value());
            else throw std::invalid_argument("unknown option " + a);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return std::nullopt;
    }
    return o;
}

int benchMain(int argc, char** argv, const std::string& defaultOut, const char* usage,
              const std::function<void(const BenchOptions&)>& body) {
    auto opt = parseBenchOptions(argc, argv, defaultOut);
    if (!opt) {
        std::cerr << usage;
        return 2;
    }
    try {
        body(*opt);
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}

void printResult(const BenchResult& r) {
    std::cout << r.caseName << ' ' << r.protocol << ' ' << r.direction << ": " << r.status << ", "
              << r.elapsedSec << " s, efficiency " << r.efficiency();
    if (!r.note.empty()) std::cout << " (" << r.note << ')';
    std::cout << std::endl;
}

void keepLogs(const std::filesystem::path& work, const BenchOptions& opt, const BenchResult& r,
              const std::vector<std::string>& logs) {
    if (r.status == "ok" || r.status == "n/a") return;
    std::filesystem::path dir = opt.out + ".logs";
    std::filesystem::create_directories(dir);
    std::string way = r.direction;
    way.replace(way.find("->"), 2, "-to-");
    std::string prefix = r.caseName + "-" + r.protocol + "-" + way;
    for (const auto& log : logs) {
        std::error_code ec;
        std::filesystem::copy_file(work / log, dir / (prefix + "-" + log),
                                   std::filesystem::copy_options::overwrite_existing, ec);
    }
}

bool selected(const std::vector<std::string>& list, const std::string& name) {
    return list.empty() || std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace quendril::bench
