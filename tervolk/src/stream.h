// The file stream of one transfer: a batch of files cut into chunks that
// fill the window frames, and its reassembly on the receiving side.
//
// Chunks (never split across frames):
//   0x01 FILE   varint name length, name bytes, varint size
//   0x02 DATA   varint length (>= 1), bytes
//   0x03 EOF    CRC-32C of the whole file, 4 bytes little-endian
//   0x04 END    the batch is over
//   0x05 CANCEL the current file could not be read to its end
//   0x06 REST   data up to the end of the frame (no length: saves the
//               varint in every full frame)
//   0x07 PACKED method byte: the rest of the stream is compressed (pack.h);
//               only as the stream's first chunk
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pack.h"

namespace tvk {

enum ChunkType : uint8_t {
    kChunkFile = 1,
    kChunkData = 2,
    kChunkEof = 3,
    kChunkEnd = 4,
    kChunkCancel = 5,
    kChunkRest = 6,
    kChunkPacked = 7,
};

inline constexpr size_t kMaxNameLen = 255;

// Reports the file in transfer and its progress (0..100).
class Progress {
public:
    virtual ~Progress() = default;
    virtual void fileStarted(const std::string& name) = 0;
    virtual void fileProgress(int percent) = 0;
    // Called about every 10 ms while the receiver waits for the disk.
    virtual void diskWait() {}
};

// What the caller of a job may refuse (the C API's check callback). Asked on
// the caller's thread; every answer is yes unless overridden.
class JobChecks {
public:
    virtual ~JobChecks() = default;
    // A file of the sending directory goes into the batch.
    virtual bool maySend(const std::string& name) {
        (void)name;
        return true;
    }
    // A received file may be stored under name.
    virtual bool mayStore(const std::string& name) {
        (void)name;
        return true;
    }
    // Every file of a receive is stored and on disk: the sender may be told.
    virtual bool mayCommit() { return true; }
};

// Brings a file or a directory to the disk: fsync. Tests replace it to watch
// the order of syncs or to slow them down (an empty function restores
// fsync); it runs on a writer's syncer thread, so set it only while no job
// runs.
using DiskSync = std::function<bool(int fd)>;
void setDiskSync(DiskSync sync);

struct SourceFile {
    std::string path;  // where it is read from
    std::string name;  // as sent, bytes as stored
    uint64_t size = 0;
};

// Every regular, non-hidden file of dir that checks lets go, by name. ok is
// false when dir cannot be listed.
std::vector<SourceFile> listSendFiles(const std::string& dir, bool& ok, JobChecks* checks = nullptr);

// True for a plain file name that may be created in the target directory.
bool acceptableName(const std::string& name);

class BatchReader {
public:
    BatchReader(std::vector<SourceFile> files, Progress* progress);
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // From the first frame on, the stream goes compressed: for a receiver
    // that can take it.
    void pack() { packer_ = std::make_unique<Packer>(); }
    // Appends to payload, without letting it exceed limit bytes, the next
    // chunks, or the next compressed bytes once packed.
    void fill(std::vector<uint8_t>& payload, size_t limit);
    // Everything, END included, has been handed out.
    bool exhausted() const { return ended_ && (!packer_ || packer_->drained()); }
    uint32_t status() const { return status_; }
    uint64_t bytesRead() const { return bytesRead_; }
    size_t filesSent() const { return filesSent_; }

private:
    void fillChunks(std::vector<uint8_t>& payload, size_t limit);
    bool openNext(std::vector<uint8_t>& payload, size_t limit);
    void closeCurrent();

    std::vector<SourceFile> files_;
    Progress* progress_;
    size_t next_ = 0;
    std::FILE* cur_ = nullptr;
    uint64_t curSize_ = 0;
    uint64_t curDone_ = 0;
    uint32_t curCrc_ = 0;
    int lastPercent_ = -1;
    bool ended_ = false;
    uint32_t status_ = 0;
    uint64_t bytesRead_ = 0;
    size_t filesSent_ = 0;
    std::unique_ptr<Packer> packer_;
    bool packStarted_ = false;
};

// Stores a received stream in a directory. A file is written under a part
// name, and once it is complete and checked a syncer thread brings it to
// the disk, renames it and syncs the directory, while the next files stream.
class BatchWriter {
public:
    // Opens dir and removes the part files that no living writer holds.
    BatchWriter(const std::string& dir, Progress* progress, JobChecks* checks = nullptr);
    ~BatchWriter();
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    // FILE chunks that announce more than limit bytes in all end the stream.
    void limitTotal(uint64_t limit) { limit_ = limit; }
    // One frame's chunks, in stream order.
    void consume(const uint8_t* p, size_t n);
    // END is consumed, every stored file is on disk and the verdict known.
    bool ended() const { return ended_; }
    // A file of the job failed, or the commit was refused: the sender must
    // keep its data.
    bool failed() const { return status() != 0; }
    bool oversize() const { return oversize_; }
    uint32_t status() const { return tally_.bits; }
    size_t filesStored() const { return tally_.stored; }
    size_t filesFailed() const { return tally_.failed; }
    uint64_t bytesStored() const { return tally_.bytes; }

private:
    // Outcomes, counted by the caller's thread and the syncer alike.
    struct Tally {
        std::atomic<uint32_t> bits{0};
        std::atomic<size_t> stored{0};
        std::atomic<size_t> failed{0};
        std::atomic<uint64_t> bytes{0};
    };
    class Syncer;

    bool beginFile(const std::string& name, uint64_t size);
    void writeData(const uint8_t* p, size_t n);
    void endFile(uint32_t crc);
    void endStream();
    void failFile(uint32_t bits);
    void consumeChunks(const uint8_t* p, size_t n);
    // The stream turns compressed: the rest of this frame is its first
    // bytes. False for a method this writer does not know.
    bool startUnpacking(const uint8_t* p, size_t n, size_t& pos);
    void unpack(const uint8_t* p, size_t n);

    int dirFd_ = -1;
    Progress* progress_;
    JobChecks* checks_;
    std::unique_ptr<Syncer> syncer_;  // started with the first finished file
    int fd_ = -1;                     // the file being written
    std::string partName_;
    std::string name_;
    bool skipping_ = false;  // the rest of a refused or failed file is ignored
    uint64_t size_ = 0;
    uint64_t done_ = 0;
    uint32_t crc_ = 0;
    int lastPercent_ = -1;
    uint64_t announced_ = 0;  // sizes of the FILE chunks so far
    std::optional<uint64_t> limit_;
    bool oversize_ = false;
    bool ended_ = false;
    bool started_ = false;  // a chunk has been consumed
    std::unique_ptr<Unpacker> unpacker_;
    bool unpackFailed_ = false;
    Tally tally_;
};

}  // namespace tvk
