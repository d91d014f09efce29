// The compressed form of a file stream. The chunks are cut into blocks of
// at most kPackBlock bytes; each block, as a varint length and its chunks,
// goes through one zstd stream with a 32 KiB window, flushed after every
// block, so that a receiver holding the frames in order can decode each
// block as soon as its last byte is in. zstd stores a block that does not
// shrink as it is (a 3-byte header), so incompressible data costs nothing
// to speak of. The coder's memory stays bounded on both sides: the window
// limits what the decoder keeps, and a block longer than kPackBlock is
// refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tvk {

inline constexpr uint8_t kPackZstd = 1;
inline constexpr size_t kPackBlock = 16 * 1024;
inline constexpr int kPackWindowLog = 15;

class Packer {
public:
    Packer();
    ~Packer();
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    // Appends compressed bytes to payload until it holds limit bytes or the
    // stream is over. next fills a block with chunks and returns false once
    // that block ends the batch.
    void fill(std::vector<uint8_t>& payload, size_t limit, const std::function<bool(std::vector<uint8_t>&)>& next);
    // The last block has been compressed and handed out.
    bool drained() const { return finished_ && at_ == out_.size(); }
    // The coder failed (it had no memory): the stream ends short.
    bool broken() const { return broken_; }

private:
    void compress(bool last);

    struct State;
    State* zs_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> out_;
    size_t at_ = 0;
    bool finished_ = false;
    bool broken_ = false;
};

class Unpacker {
public:
    Unpacker();
    ~Unpacker();
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    // Feeds compressed bytes; every whole block goes to emit. False when the
    // stream is damaged or a block is too long: nothing more comes of it.
    bool feed(const uint8_t* p, size_t n, const std::function<void(const uint8_t*, size_t)>& emit);

private:
    bool emitBlocks(const std::function<void(const uint8_t*, size_t)>& emit);

    struct State;
    State* zs_;
    std::vector<uint8_t> pending_;
};

}  // namespace tvk
