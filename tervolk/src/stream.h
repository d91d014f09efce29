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
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tvk {

enum ChunkType : uint8_t {
    kChunkFile = 1,
    kChunkData = 2,
    kChunkEof = 3,
    kChunkEnd = 4,
    kChunkCancel = 5,
    kChunkRest = 6,
};

inline constexpr size_t kMaxNameLen = 255;

// Reports the file in transfer and its progress (0..100).
class Progress {
public:
    virtual ~Progress() = default;
    virtual void fileStarted(const std::string& name) = 0;
    virtual void fileProgress(int percent) = 0;
};

struct SourceFile {
    std::string path;  // where it is read from
    std::string name;  // as sent, bytes as stored
    uint64_t size = 0;
};

// Every regular, non-hidden file of dir, by name. ok is false when dir
// cannot be listed.
std::vector<SourceFile> listSendFiles(const std::string& dir, bool& ok);

// True for a plain file name that may be created in the target directory.
bool acceptableName(const std::string& name);

class BatchReader {
public:
    BatchReader(std::vector<SourceFile> files, Progress* progress);
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // Appends chunks to payload without letting it exceed limit bytes.
    void fill(std::vector<uint8_t>& payload, size_t limit);
    // The END chunk has been produced.
    bool exhausted() const { return ended_; }
    uint32_t status() const { return status_; }
    uint64_t bytesRead() const { return bytesRead_; }
    size_t filesSent() const { return filesSent_; }

private:
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
};

class BatchWriter {
public:
    BatchWriter(std::string dir, Progress* progress);
    ~BatchWriter();
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    // One frame's chunks, in stream order.
    void consume(const uint8_t* p, size_t n);
    bool ended() const { return ended_; }
    uint32_t status() const { return status_; }
    size_t filesStored() const { return filesStored_; }
    size_t filesFailed() const { return filesFailed_; }
    uint64_t bytesStored() const { return bytesStored_; }

private:
    bool beginFile(const std::string& name, uint64_t size);
    void writeData(const uint8_t* p, size_t n);
    void endFile(uint32_t crc);
    void failFile(uint32_t bits);

    std::string dir_;
    Progress* progress_;
    std::FILE* cur_ = nullptr;
    std::string tempPath_;
    std::string finalPath_;
    bool skipping_ = false;  // the rest of a refused or failed file is ignored
    uint64_t size_ = 0;
    uint64_t done_ = 0;
    uint32_t crc_ = 0;
    int lastPercent_ = -1;
    bool ended_ = false;
    uint32_t status_ = 0;
    size_t filesStored_ = 0;
    size_t filesFailed_ = 0;
    uint64_t bytesStored_ = 0;
};

}  // namespace tvk
