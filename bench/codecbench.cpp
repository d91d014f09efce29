// Stream compression of the line's payloads, measured the way the line would
// use a coder: the input goes in 16 KiB blocks and a flush follows each block
// (or every few blocks), after which the receiver must be able to decode
// everything sent so far. For each payload and coder setting: the ratio, the
// speed of both sides and the heap each side's coder holds.
//   codecbench [--quick] [--out FILE] [--file PATH]...
// --file adds a file of one's own as a further payload.
#define LZ4F_STATIC_LINKING_ONLY
#define ZSTD_STATIC_LINKING_ONLY
#include <lz4frame.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gendata.h"

namespace {

constexpr std::size_t kBlock = 16 * 1024;
constexpr std::size_t kPayloadSize = 1 << 20;
constexpr uint64_t kSeed = 1;

// The heap a library takes for one coder, counted through its allocator
// hooks: every table, window and buffer the coder allocates, and only those.
class HeapCount {
public:
    ZSTD_customMem zstd() { return {&HeapCount::allocate, &HeapCount::release, this}; }
    LZ4F_CustomMem lz4() { return {&HeapCount::allocate, &HeapCount::allocateZeroed, &HeapCount::release, this}; }
    std::size_t peak() const { return peak_; }

private:
    // Each block carries its size in front, kept 16-byte aligned.
    static constexpr std::size_t kHeader = 16;

    static void* allocate(void* self, std::size_t n) {
        auto* block = static_cast<char*>(std::malloc(n + kHeader));
        if (!block) return nullptr;
        std::memcpy(block, &n, sizeof n);
        auto* h = static_cast<HeapCount*>(self);
        h->live_ += n;
        h->peak_ = std::max(h->peak_, h->live_);
        return block + kHeader;
    }
    static void* allocateZeroed(void* self, std::size_t n) {
        void* p = allocate(self, n);
        if (p) std::memset(p, 0, n);
        return p;
    }
    static void release(void* self, void* p) {
        if (!p) return;
        char* block = static_cast<char*>(p) - kHeader;
        std::size_t n;
        std::memcpy(&n, block, sizeof n);
        static_cast<HeapCount*>(self)->live_ -= n;
        std::free(block);
    }

    std::size_t live_ = 0;
    std::size_t peak_ = 0;
};

enum class Codec { Lz4, Zstd };

// zstd's match tables: the level's own (sized for inputs of any length), sized
// for the window as zstd sizes them for an input that small, or a fixed size.
enum class Tables { Level, Window, Fixed };

struct Config {
    Codec codec;
    int level;               // LZ4: 0 the fast coder, 3 and up the high-compression one
    unsigned windowLog;      // history the coder refers back to; an LZ4 frame always keeps 64 KiB
    std::size_t flushEvery;  // input between two flushes
    Tables tables = Tables::Level;
    unsigned tableLog = 0;  // Fixed: 2^tableLog entries in the hash and in the chain table

    std::string name() const {
        if (codec == Codec::Lz4) return level < 3 ? "lz4 fast" : "lz4 HC " + std::to_string(level);
        std::string n = "zstd " + std::to_string(level) + " w" + std::to_string(windowLog);
        if (tables == Tables::Window) n += " small tables";
        if (tables == Tables::Fixed) n += " tables 2^" + std::to_string(tableLog);
        if (flushEvery != kBlock) n += " flush " + std::to_string(flushEvery / 1024) + "K";
        return n;
    }
    std::string tablesColumn() const {
        if (codec == Codec::Lz4) return "-";
        return tables == Tables::Level ? "level" : tables == Tables::Window ? "window" : "2^" + std::to_string(tableLog);
    }
};

// LZ4 frames and zstd at the levels and windows a terminal could afford,
// then zstd with smaller match tables: at a level's own sizes they take most
// of the compressor's memory.
std::vector<Config> configs() {
    const std::size_t every64K = 64 * 1024;
    return {
        {Codec::Lz4, 0, 16, kBlock},
        {Codec::Lz4, 9, 16, kBlock},
        {Codec::Lz4, 12, 16, kBlock},
        {Codec::Zstd, 1, 16, kBlock},
        {Codec::Zstd, 3, 16, kBlock},
        {Codec::Zstd, 6, 16, kBlock},
        {Codec::Zstd, 9, 16, kBlock},
        {Codec::Zstd, 3, 14, kBlock},
        {Codec::Zstd, 3, 15, kBlock},
        {Codec::Zstd, 3, 16, every64K},
        {Codec::Zstd, 6, 16, every64K},
        {Codec::Zstd, 1, 16, kBlock, Tables::Window},
        {Codec::Zstd, 3, 16, kBlock, Tables::Window},
        {Codec::Zstd, 6, 16, kBlock, Tables::Window},
        {Codec::Zstd, 3, 16, kBlock, Tables::Fixed, 14},
        {Codec::Zstd, 6, 16, kBlock, Tables::Fixed, 14},
        {Codec::Zstd, 6, 15, kBlock, Tables::Window},
        {Codec::Zstd, 6, 15, kBlock, Tables::Fixed, 14},
        {Codec::Zstd, 6, 15, kBlock, Tables::Fixed, 13},
    };
}

// The compressed stream and, for each flush, where it ended in the stream
// and in the input.
struct Stream {
    std::string bytes;
    std::vector<std::size_t> ends;
    std::vector<std::size_t> inputEnds;
};

struct Decoded {
    std::string bytes;
    bool eachFlushDecodable = true;  // after each flush's bytes, all input up to that flush came out
};

std::size_t zstdCheck(std::size_t r) {
    if (ZSTD_isError(r)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(r));
    return r;
}

std::size_t lz4Check(std::size_t r) {
    if (LZ4F_isError(r)) throw std::runtime_error(std::string("lz4: ") + LZ4F_getErrorName(r));
    return r;
}

// Feeds the input block by block; `code` compresses one block, flushing when told, and returns its bytes.
template <class Code>
Stream streamBlocks(const Config& c, const std::string& in, Code code) {
    Stream s;
    for (std::size_t at = 0; at < in.size(); at += kBlock) {
        std::size_t n = std::min(kBlock, in.size() - at);
        bool last = at + n == in.size();
        bool flush = last || (at + n) % c.flushEvery == 0;
        s.bytes += code(std::string_view(in).substr(at, n), flush, last);
        if (flush) {
            s.ends.push_back(s.bytes.size());
            s.inputEnds.push_back(at + n);
        }
    }
    return s;
}

void setZstdParameters(ZSTD_CCtx* z, const Config& c) {
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_compressionLevel, c.level));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_windowLog, static_cast<int>(c.windowLog)));
    if (c.tables == Tables::Fixed) {
        zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_hashLog, static_cast<int>(c.tableLog)));
        zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_chainLog, static_cast<int>(c.tableLog)));
    }
    if (c.tables != Tables::Window) return;
    ZSTD_compressionParameters p = ZSTD_getCParams(c.level, 1ull << c.windowLog, 0);
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_hashLog, static_cast<int>(p.hashLog)));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_chainLog, static_cast<int>(p.chainLog)));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_searchLog, static_cast<int>(p.searchLog)));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_minMatch, static_cast<int>(p.minMatch)));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_targetLength, static_cast<int>(p.targetLength)));
    zstdCheck(ZSTD_CCtx_setParameter(z, ZSTD_c_strategy, static_cast<int>(p.strategy)));
}

Stream compressZstd(const Config& c, const std::string& in, HeapCount& heap) {
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> z(ZSTD_createCCtx_advanced(heap.zstd()), ZSTD_freeCCtx);
    if (!z) throw std::runtime_error("zstd: no compression context");
    setZstdParameters(z.get(), c);
    std::string buf(ZSTD_CStreamOutSize(), '\0');
    return streamBlocks(c, in, [&](std::string_view block, bool flush, bool last) {
        ZSTD_EndDirective mode = last ? ZSTD_e_end : flush ? ZSTD_e_flush : ZSTD_e_continue;
        ZSTD_inBuffer src{block.data(), block.size(), 0};
        std::string out;
        std::size_t pending;
        do {
            ZSTD_outBuffer dst{buf.data(), buf.size(), 0};
            pending = zstdCheck(ZSTD_compressStream2(z.get(), &dst, &src, mode));
            out.append(buf.data(), dst.pos);
        } while (mode == ZSTD_e_continue ? src.pos < src.size : pending != 0);
        return out;
    });
}

Stream compressLz4(const Config& c, const std::string& in, HeapCount& heap) {
    std::unique_ptr<LZ4F_cctx, decltype(&LZ4F_freeCompressionContext)> z(
        LZ4F_createCompressionContext_advanced(heap.lz4(), LZ4F_VERSION), LZ4F_freeCompressionContext);
    if (!z) throw std::runtime_error("lz4: no compression context");
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.blockSizeID = LZ4F_max64KB;  // the smallest block LZ4 frames allow
    prefs.frameInfo.blockMode = LZ4F_blockLinked;
    prefs.compressionLevel = c.level;
    // With a flush after every block the coder compresses each block as it
    // comes and keeps only the 64 KiB of history, not a block to fill as well.
    prefs.autoFlush = c.flushEvery == kBlock ? 1 : 0;
    std::string buf(LZ4F_compressBound(kBlock, &prefs) + LZ4F_HEADER_SIZE_MAX, '\0');
    std::string header(buf.data(), lz4Check(LZ4F_compressBegin(z.get(), buf.data(), buf.size(), &prefs)));
    return streamBlocks(c, in, [&](std::string_view block, bool flush, bool last) {
        std::string out(std::move(header));
        header.clear();
        out.append(buf.data(),
                   lz4Check(LZ4F_compressUpdate(z.get(), buf.data(), buf.size(), block.data(), block.size(), nullptr)));
        if (last) out.append(buf.data(), lz4Check(LZ4F_compressEnd(z.get(), buf.data(), buf.size(), nullptr)));
        else if (flush) out.append(buf.data(), lz4Check(LZ4F_flush(z.get(), buf.data(), buf.size(), nullptr)));
        return out;
    });
}

// Decodes the stream flush by flush; `step` decodes what it can of the
// input into the output and moves both along.
template <class Step>
Decoded decodeFlushes(const Stream& s, std::size_t total, Step step) {
    Decoded d;
    d.bytes.assign(total, '\0');
    std::size_t produced = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < s.ends.size(); ++i) {
        std::string_view segment(s.bytes.data() + from, s.ends[i] - from);
        std::size_t taken = 0;
        // Until a call moves neither side: then the coder holds nothing back.
        for (bool moved = true; moved;) {
            auto [in, out] = step(segment.substr(taken), d.bytes.data() + produced, total - produced);
            taken += in;
            produced += out;
            moved = in > 0 || out > 0;
        }
        d.eachFlushDecodable = d.eachFlushDecodable && taken == segment.size() && produced == s.inputEnds[i];
        from = s.ends[i];
    }
    d.bytes.resize(produced);
    return d;
}

Decoded decompressZstd(const Config& c, const Stream& s, std::size_t total, HeapCount& heap) {
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> z(ZSTD_createDCtx_advanced(heap.zstd()), ZSTD_freeDCtx);
    if (!z) throw std::runtime_error("zstd: no decompression context");
    // The receiver refuses a stream that needs more history than the window.
    zstdCheck(ZSTD_DCtx_setParameter(z.get(), ZSTD_d_windowLogMax, static_cast<int>(c.windowLog)));
    return decodeFlushes(s, total, [&](std::string_view in, char* out, std::size_t room) {
        ZSTD_inBuffer src{in.data(), in.size(), 0};
        ZSTD_outBuffer dst{out, room, 0};
        zstdCheck(ZSTD_decompressStream(z.get(), &dst, &src));
        return std::pair{src.pos, dst.pos};
    });
}

Decoded decompressLz4(const Stream& s, std::size_t total, HeapCount& heap) {
    std::unique_ptr<LZ4F_dctx, decltype(&LZ4F_freeDecompressionContext)> z(
        LZ4F_createDecompressionContext_advanced(heap.lz4(), LZ4F_VERSION), LZ4F_freeDecompressionContext);
    if (!z) throw std::runtime_error("lz4: no decompression context");
    return decodeFlushes(s, total, [&](std::string_view in, char* out, std::size_t room) {
        std::size_t srcSize = in.size();
        std::size_t dstSize = room;
        lz4Check(LZ4F_decompress(z.get(), out, &dstSize, in.data(), &srcSize, nullptr));
        return std::pair{srcSize, dstSize};
    });
}

Stream compress(const Config& c, const std::string& in, HeapCount& heap) {
    return c.codec == Codec::Lz4 ? compressLz4(c, in, heap) : compressZstd(c, in, heap);
}

Decoded decompress(const Config& c, const Stream& s, std::size_t total, HeapCount& heap) {
    return c.codec == Codec::Lz4 ? decompressLz4(s, total, heap) : decompressZstd(c, s, total, heap);
}

struct Measured {
    std::size_t outputBytes = 0;
    double compressSec = 0;
    double decompressSec = 0;
    std::size_t compressorHeap = 0;
    std::size_t decompressorHeap = 0;
    std::string status;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The fastest of `runs` rounds: the others lost time to the rest of the machine.
Measured measure(const Config& c, const std::string& in, int runs) {
    Measured m;
    m.compressSec = m.decompressSec = 1e9;
    m.status = "ok";
    for (int run = 0; run < runs; ++run) {
        HeapCount cHeap, dHeap;
        auto start = std::chrono::steady_clock::now();
        Stream s = compress(c, in, cHeap);
        m.compressSec = std::min(m.compressSec, secondsSince(start));
        start = std::chrono::steady_clock::now();
        Decoded d = decompress(c, s, in.size(), dHeap);
        m.decompressSec = std::min(m.decompressSec, secondsSince(start));
        m.outputBytes = s.bytes.size();
        m.compressorHeap = cHeap.peak();
        m.decompressorHeap = dHeap.peak();
        if (d.bytes != in) m.status = "corrupt";
        else if (!d.eachFlushDecodable) m.status = "flush incomplete";
    }
    return m;
}

struct Payload {
    std::string kind;
    std::string bytes;
};

std::vector<Payload> payloads(const std::vector<std::string>& files) {
    std::vector<Payload> out = {{"csv", quendril::bench::salesCsv(kPayloadSize, kSeed)},
                                {"text", quendril::bench::englishText(kPayloadSize, kSeed)},
                                {"random", quendril::bench::randomBytes(kPayloadSize, kSeed)}};
    for (const auto& f : files) {
        std::ifstream is(f, std::ios::binary);
        std::ostringstream bytes;
        bytes << is.rdbuf();
        if (!is) throw std::runtime_error("cannot read " + f);
        out.push_back({std::filesystem::path(f).filename().string(), bytes.str()});
    }
    return out;
}

struct Options {
    bool quick = false;
    std::string out = "codecs.csv";
    std::vector<std::string> files;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--quick") o.quick = true;
        else if (a == "--out" && hasValue) o.out = argv[++i];
        else if (a == "--file" && hasValue) o.files.emplace_back(argv[++i]);
        else throw std::invalid_argument("usage: codecbench [--quick] [--out FILE] [--file PATH]...");
    }
    return o;
}

std::string fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

void run(const Options& opt) {
    std::ofstream out(opt.out, std::ios::trunc);
    out << "config,codec,level,window_kib,flush_kib,tables,data,input_bytes,output_bytes,ratio,"
           "compress_mb_s,decompress_mb_s,compressor_kib,decompressor_kib,status\n";
    const int runs = opt.quick ? 1 : 7;
    for (const auto& p : payloads(opt.files)) {
        for (const auto& c : configs()) {
            Measured m = measure(c, p.bytes, runs);
            double mb = static_cast<double>(p.bytes.size()) / 1e6;
            std::string ratio = fixed(static_cast<double>(p.bytes.size()) / static_cast<double>(m.outputBytes), 3);
            out << c.name() << ',' << (c.codec == Codec::Lz4 ? "lz4" : "zstd") << ',' << c.level << ','
                << (1u << c.windowLog) / 1024 << ',' << c.flushEvery / 1024 << ','
                << c.tablesColumn() << ',' << p.kind << ','
                << p.bytes.size() << ',' << m.outputBytes << ',' << ratio << ',' << fixed(mb / m.compressSec, 1)
                << ',' << fixed(mb / m.decompressSec, 1) << ',' << fixed(static_cast<double>(m.compressorHeap) / 1024, 1)
                << ',' << fixed(static_cast<double>(m.decompressorHeap) / 1024, 1) << ',' << m.status << '\n';
            std::cout << std::left << std::setw(28) << c.name() << std::setw(8) << p.kind << " ratio " << ratio
                      << ", " << fixed(mb / m.compressSec, 0) << " / " << fixed(mb / m.decompressSec, 0)
                      << " MB/s, heap " << m.compressorHeap / 1024 << " / " << m.decompressorHeap / 1024 << " KiB "
                      << m.status << std::endl;
        }
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + opt.out);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        run(parseOptions(argc, argv));
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "codecbench: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
