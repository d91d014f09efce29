#include "pack.h"

#include <zstd.h>

#include <algorithm>

#include "codec.h"

namespace tvk {

namespace {

// Measured on sales lists and prose (docs/benchmarks.md): level 6 with
// match tables of 2^14 entries compresses nearly as well as with its own
// tables, in a quarter of the memory, and still many times faster than a
// terminal's line.
constexpr int kPackLevel = 6;
constexpr int kPackTableLog = 14;
// Output is read in slices of this size.
constexpr size_t kSlice = 16 * 1024;

}  // namespace

struct Packer::State {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
};

struct Unpacker::State {
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
};

Packer::Packer() : zs_(new State) {
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_compressionLevel, kPackLevel);
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_windowLog, kPackWindowLog);
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_hashLog, kPackTableLog);
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_chainLog, kPackTableLog);
    // Every file carries its own CRC; the stream's size is not known ahead.
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_checksumFlag, 0);
    ZSTD_CCtx_setParameter(zs_->cctx, ZSTD_c_contentSizeFlag, 0);
}

Packer::~Packer() {
    ZSTD_freeCCtx(zs_->cctx);
    delete zs_;
}

void Packer::compress(bool last) {
    std::vector<uint8_t> record;
    record.reserve(block_.size() + 3);
    putVarint(record, block_.size());
    record.insert(record.end(), block_.begin(), block_.end());
    ZSTD_inBuffer in{record.data(), record.size(), 0};
    const ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_flush;
    for (;;) {
        const size_t at = out_.size();
        out_.resize(at + kSlice);
        ZSTD_outBuffer out{out_.data() + at, kSlice, 0};
        const size_t left = ZSTD_compressStream2(zs_->cctx, &out, &in, mode);
        out_.resize(at + out.pos);
        if (ZSTD_isError(left)) {
            // Memory is allocated on first use; without it the stream ends
            // here, and the receiver never sees its end.
            broken_ = finished_ = true;
            out_.clear();
            at_ = 0;
            return;
        }
        if (left == 0) return;
    }
}

void Packer::fill(std::vector<uint8_t>& payload, size_t limit, const std::function<bool(std::vector<uint8_t>&)>& next) {
    while (payload.size() < limit) {
        if (at_ < out_.size()) {
            const size_t take = std::min(limit - payload.size(), out_.size() - at_);
            payload.insert(payload.end(), out_.begin() + long(at_), out_.begin() + long(at_ + take));
            at_ += take;
            continue;
        }
        if (finished_) return;
        out_.clear();
        at_ = 0;
        block_.clear();
        const bool more = next(block_);
        finished_ = !more;
        compress(!more);
        if (broken_) return;
    }
}

Unpacker::Unpacker() : zs_(new State) { ZSTD_DCtx_setParameter(zs_->dctx, ZSTD_d_windowLogMax, kPackWindowLog); }

Unpacker::~Unpacker() {
    ZSTD_freeDCtx(zs_->dctx);
    delete zs_;
}

bool Unpacker::emitBlocks(const std::function<void(const uint8_t*, size_t)>& emit) {
    size_t pos = 0;
    for (;;) {
        size_t at = pos;
        uint64_t len = 0;
        if (!getVarint(pending_.data(), pending_.size(), at, len)) {
            // Only a varint cut short by the slice may wait for more.
            if (pending_.size() - pos > 3) return false;
            break;
        }
        if (len > kPackBlock) return false;
        if (pending_.size() - at < len) break;
        emit(pending_.data() + at, size_t(len));
        pos = at + size_t(len);
    }
    pending_.erase(pending_.begin(), pending_.begin() + long(pos));
    return true;
}

bool Unpacker::feed(const uint8_t* p, size_t n, const std::function<void(const uint8_t*, size_t)>& emit) {
    ZSTD_inBuffer in{p, n, 0};
    for (;;) {
        const size_t have = pending_.size();
        pending_.resize(have + kSlice);
        ZSTD_outBuffer out{pending_.data() + have, kSlice, 0};
        const size_t r = ZSTD_decompressStream(zs_->dctx, &out, &in);
        pending_.resize(have + out.pos);
        if (ZSTD_isError(r) || !emitBlocks(emit)) return false;
        // Done when the input is used up and the decoder had nothing more.
        if (in.pos == in.size && out.pos < kSlice) return true;
    }
}

}  // namespace tvk
