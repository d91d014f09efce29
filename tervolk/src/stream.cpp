#include "stream.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <system_error>

#include "codec.h"
#include "tervolk.h"

namespace fs = std::filesystem;

namespace tvk {

namespace {

// Received files live under this prefix until they are complete and checked.
constexpr const char* kTempPrefix = ".tvk-part-";

int percentOf(uint64_t done, uint64_t size) { return size == 0 ? 100 : int(done * 100 / size); }

std::string tempName() {
    static std::mt19937_64 rng{std::random_device{}()};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return std::string(kTempPrefix) + buf;
}

}  // namespace

bool acceptableName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLen || name == "." || name == "..") return false;
    if (name.rfind(kTempPrefix, 0) == 0) return false;
    for (unsigned char c : name) {
        // ':' would make a drive or stream path where the files are read again.
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    }
    return true;
}

std::vector<SourceFile> listSendFiles(const std::string& dir, bool& ok) {
    std::vector<SourceFile> files;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
    ok = !ec;
    if (ec) return files;
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code fe;
        if (!entry.is_regular_file(fe)) continue;
        uint64_t size = entry.file_size(fe);
        if (fe) continue;
        files.push_back({entry.path().string(), name, size});
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    return files;
}

BatchReader::BatchReader(std::vector<SourceFile> files, Progress* progress)
    : files_(std::move(files)), progress_(progress) {}

BatchReader::~BatchReader() { closeCurrent(); }

void BatchReader::closeCurrent() {
    if (cur_) std::fclose(cur_);
    cur_ = nullptr;
}

bool BatchReader::openNext(std::vector<uint8_t>& payload, size_t limit) {
    while (next_ < files_.size()) {
        const SourceFile& f = files_[next_];
        size_t need = 1 + varintLength(f.name.size()) + f.name.size() + varintLength(f.size) + 5;
        // A name longer than a small frame still goes, alone in its frame.
        if (payload.size() + need > limit && !payload.empty()) return false;
        ++next_;
        cur_ = std::fopen(f.path.c_str(), "rb");
        if (!cur_) {
            status_ |= TVK_ES_FILEOPEN;
            continue;
        }
        payload.push_back(kChunkFile);
        putVarint(payload, f.name.size());
        payload.insert(payload.end(), f.name.begin(), f.name.end());
        putVarint(payload, f.size);
        curSize_ = f.size;
        curDone_ = 0;
        curCrc_ = 0;
        lastPercent_ = -1;
        if (progress_) progress_->fileStarted(f.name);
        return true;
    }
    return false;
}

void BatchReader::fill(std::vector<uint8_t>& payload, size_t limit) {
    while (!ended_) {
        if (!cur_) {
            if (next_ < files_.size()) {
                if (!openNext(payload, limit)) {
                    if (next_ < files_.size() || cur_) return;
                    continue;
                }
            } else {
                if (payload.size() + 1 > limit) return;
                payload.push_back(kChunkEnd);
                ended_ = true;
                return;
            }
        }
        if (curDone_ < curSize_) {
            // Data that fills the frame goes without a length.
            size_t room = limit > payload.size() + 1 ? limit - payload.size() - 1 : 0;
            if (room == 0) return;
            uint64_t left = curSize_ - curDone_;
            size_t at = payload.size();
            size_t want = room;
            if (left >= room) {
                payload.push_back(kChunkRest);
            } else {
                want = size_t(left);
                payload.push_back(kChunkData);
                putVarint(payload, want);
            }
            size_t dataAt = payload.size();
            payload.resize(dataAt + want);
            size_t got = std::fread(payload.data() + dataAt, 1, want, cur_);
            if (got != want) {
                // The file shrank or failed while being read.
                payload.resize(at);
                payload.push_back(kChunkCancel);
                status_ |= TVK_ES_TRANSFER | TVK_ES_FILEOPEN;
                closeCurrent();
                continue;
            }
            curCrc_ = crc32c(payload.data() + dataAt, got, curCrc_);
            curDone_ += got;
            bytesRead_ += got;
            int pct = percentOf(curDone_, curSize_);
            if (progress_ && pct != lastPercent_) progress_->fileProgress(lastPercent_ = pct);
            continue;
        }
        if (payload.size() + 5 > limit) return;
        payload.push_back(kChunkEof);
        putLe(payload, curCrc_, 4);
        if (progress_ && lastPercent_ != 100) progress_->fileProgress(100);
        closeCurrent();
        ++filesSent_;
    }
}

BatchWriter::BatchWriter(std::string dir, Progress* progress) : dir_(std::move(dir)), progress_(progress) {}

BatchWriter::~BatchWriter() {
    if (cur_) failFile(0);
}

void BatchWriter::failFile(uint32_t bits) {
    if (cur_) {
        std::fclose(cur_);
        cur_ = nullptr;
        std::error_code ec;
        fs::remove(tempPath_, ec);
    }
    status_ |= bits;
    if (bits) ++filesFailed_;
    skipping_ = true;
}

bool BatchWriter::beginFile(const std::string& name, uint64_t size) {
    if (cur_) failFile(TVK_ES_TRANSFER);
    skipping_ = false;
    if (!acceptableName(name)) {
        failFile(TVK_ES_FILEOPEN);
        return false;
    }
    fs::path dir = dir_.empty() ? fs::path(".") : fs::path(dir_);
    finalPath_ = (dir / name).string();
    for (int attempt = 0; attempt < 4 && !cur_; ++attempt) {
        tempPath_ = (dir / tempName()).string();
        cur_ = std::fopen(tempPath_.c_str(), "wbx");
    }
    if (!cur_) {
        failFile(TVK_ES_FILEOPEN);
        return false;
    }
    size_ = size;
    done_ = 0;
    crc_ = 0;
    lastPercent_ = -1;
    if (progress_) progress_->fileStarted(name);
    return true;
}

void BatchWriter::writeData(const uint8_t* p, size_t n) {
    if (skipping_ || !cur_) return;
    if (n > size_ - done_) {
        // More data than announced: the file cannot be trusted.
        failFile(TVK_ES_TRANSFER | TVK_ES_PROTOCOL);
        return;
    }
    if (std::fwrite(p, 1, n, cur_) != n) {
        failFile(TVK_ES_TRANSFER | TVK_ES_FILEOPEN);
        return;
    }
    crc_ = crc32c(p, n, crc_);
    done_ += n;
    int pct = percentOf(done_, size_);
    if (progress_ && pct != lastPercent_) progress_->fileProgress(lastPercent_ = pct);
}

void BatchWriter::endFile(uint32_t crc) {
    if (skipping_ || !cur_) {
        skipping_ = false;
        return;
    }
    if (done_ != size_ || crc != crc_) {
        failFile(TVK_ES_TRANSFER);
        skipping_ = false;
        return;
    }
    bool flushed = std::fflush(cur_) == 0;
    bool closed = std::fclose(cur_) == 0;
    cur_ = nullptr;
    std::error_code ec;
    if (flushed && closed) fs::rename(tempPath_, finalPath_, ec);
    if (!flushed || !closed || ec) {
        fs::remove(tempPath_, ec);
        status_ |= TVK_ES_TRANSFER | TVK_ES_FILEOPEN;
        ++filesFailed_;
        return;
    }
    if (progress_ && lastPercent_ != 100) progress_->fileProgress(100);
    ++filesStored_;
    bytesStored_ += size_;
}

void BatchWriter::consume(const uint8_t* p, size_t n) {
    size_t pos = 0;
    while (pos < n && !ended_) {
        uint8_t type = p[pos++];
        uint64_t a = 0, b = 0;
        switch (type) {
        case kChunkFile: {
            if (!getVarint(p, n, pos, a) || a > n - pos) break;
            std::string name(reinterpret_cast<const char*>(p + pos), size_t(a));
            pos += size_t(a);
            if (!getVarint(p, n, pos, b)) break;
            beginFile(name, b);
            continue;
        }
        case kChunkData:
            if (!getVarint(p, n, pos, a) || a == 0 || a > n - pos) break;
            writeData(p + pos, size_t(a));
            pos += size_t(a);
            continue;
        case kChunkRest:
            if (pos == n) break;
            writeData(p + pos, n - pos);
            pos = n;
            continue;
        case kChunkEof:
            if (n - pos < 4) break;
            endFile(uint32_t(getLe(p + pos, 4)));
            pos += 4;
            continue;
        case kChunkEnd:
            if (cur_) failFile(TVK_ES_TRANSFER);
            ended_ = true;
            continue;
        case kChunkCancel:
            if (cur_) failFile(TVK_ES_TRANSFER);
            skipping_ = false;
            continue;
        default:
            break;
        }
        // A malformed chunk: the rest of this frame means nothing.
        failFile(cur_ ? TVK_ES_PROTOCOL | TVK_ES_TRANSFER : TVK_ES_PROTOCOL);
        return;
    }
}

}  // namespace tvk
