#include "stream.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "codec.h"
#include "tervolk.h"

namespace fs = std::filesystem;

namespace tvk {

namespace {

// Received files live under this prefix until they are complete and checked.
constexpr const char* kTempPrefix = ".tvk-part-";

int percentOf(uint64_t done, uint64_t size) { return size == 0 ? 100 : int(done * 100 / size); }

// Renames are made durable by syncing the directory after this many of
// them, and before a drain returns.
constexpr int kRenamesPerDirSync = 32;

std::string tempName() {
    static std::mt19937_64 rng{std::random_device{}()};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return std::string(kTempPrefix) + buf;
}

DiskSync& diskSyncHook() {
    static DiskSync hook;
    return hook;
}

bool syncToDisk(int fd) {
    if (const DiskSync& hook = diskSyncHook()) return hook(fd);
    // EINVAL: the file system cannot sync; nothing more can be done.
    return ::fsync(fd) == 0 || errno == EINVAL;
}

// name in dir is still the file open as fd (st): nobody removed or replaced it.
bool namesFile(int dirFd, const char* name, const struct stat& st) {
    struct stat now {};
    return ::fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == st.st_dev &&
           now.st_ino == st.st_ino;
}

// Something other than a regular file holds name: a symbolic link (even a
// dangling one), a directory, a device. Nothing is written through it.
bool occupied(int dirFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode);
}

// A new part file, locked (flock) until it has its name, so that a writer
// starting in the same directory leaves it alone; -1 when none can be made.
int createPart(int dirFd, std::string& name) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        name = tempName();
        int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        // A starting writer may have taken the new file for a stale one
        // before the lock: then it is gone, and another name is tried.
        bool contested = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        struct stat st {};
        if (!contested && ::fstat(fd, &st) == 0 && namesFile(dirFd, name.c_str(), st)) return fd;
        ::close(fd);
    }
    return -1;
}

// Part files left by a writer that died: no living writer holds their lock.
// Only regular files are removed, and no link is followed.
void removeStaleParts(int dirFd) {
    int scanFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = scanFd >= 0 ? ::fdopendir(scanFd) : nullptr;
    if (!d) {
        if (scanFd >= 0) ::close(scanFd);
        return;
    }
    const size_t prefixLen = std::strlen(kTempPrefix);
    while (const dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, kTempPrefix, prefixLen) != 0) continue;
        int fd = ::openat(dirFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            namesFile(dirFd, e->d_name, st))
            ::unlinkat(dirFd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

void setDiskSync(DiskSync sync) { diskSyncHook() = std::move(sync); }

// Finished files, in order: sync the file, rename it to its name while its
// part lock is still held, close it; sync the directory after a batch of
// renames and before a drain returns, so that a drained writer's files are
// on disk under their names.
class BatchWriter::Syncer {
public:
    struct Finished {
        int fd;
        std::string partName;
        std::string name;
        uint64_t size;
    };

    Syncer(int dirFd, Tally& tally) : dirFd_(dirFd), tally_(tally), thread_([this] { run(); }) {}
    ~Syncer() {
        {
            std::lock_guard<std::mutex> l(m_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Syncer(const Syncer&) = delete;
    Syncer& operator=(const Syncer&) = delete;

    void add(Finished f) {
        {
            std::lock_guard<std::mutex> l(m_);
            queue_.push_back(std::move(f));
        }
        cv_.notify_all();
    }

    // Waits until every file added so far is renamed and the directory
    // synced, calling tick about every 10 ms meanwhile.
    template <class Tick>
    void drain(Tick&& tick) {
        std::unique_lock<std::mutex> l(m_);
        drainWanted_ = true;
        cv_.notify_all();
        while (!cv_.wait_for(l, std::chrono::milliseconds(10), [&] { return !drainWanted_; })) {
            l.unlock();
            tick();
            l.lock();
        }
    }

private:
    void run() {
        std::unique_lock<std::mutex> l(m_);
        for (;;) {
            cv_.wait(l, [&] { return !queue_.empty() || drainWanted_ || quit_; });
            if (!queue_.empty()) {
                Finished f = std::move(queue_.front());
                queue_.pop_front();
                l.unlock();
                bool renamed = commit(f);
                l.lock();
                renamesUnsynced_ += renamed ? 1 : 0;
            }
            bool settle = queue_.empty() && (drainWanted_ || quit_);
            if (renamesUnsynced_ >= kRenamesPerDirSync || (settle && renamesUnsynced_ > 0)) {
                renamesUnsynced_ = 0;
                l.unlock();
                if (!syncToDisk(dirFd_)) tally_.bits |= TVK_ES_TRANSFER | TVK_ES_FILEOPEN;
                l.lock();
            }
            if (!queue_.empty() || renamesUnsynced_ > 0) continue;
            if (drainWanted_) {
                drainWanted_ = false;
                cv_.notify_all();
            }
            if (quit_) return;
        }
    }

    bool commit(const Finished& f) {
        bool renamed = syncToDisk(f.fd) && ::renameat(dirFd_, f.partName.c_str(), dirFd_, f.name.c_str()) == 0;
        if (!renamed) ::unlinkat(dirFd_, f.partName.c_str(), 0);
        ::close(f.fd);
        if (renamed) {
            ++tally_.stored;
            tally_.bytes += f.size;
        } else {
            tally_.bits |= TVK_ES_TRANSFER | TVK_ES_FILEOPEN;
            ++tally_.failed;
        }
        return renamed;
    }

    const int dirFd_;
    Tally& tally_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Finished> queue_;
    int renamesUnsynced_ = 0;
    bool drainWanted_ = false;
    bool quit_ = false;
    std::thread thread_;
};

bool acceptableName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLen || name == "." || name == "..") return false;
    if (name.rfind(kTempPrefix, 0) == 0) return false;
    for (unsigned char c : name) {
        // ':' would make a drive or stream path where the files are read again.
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    }
    return true;
}

std::vector<SourceFile> listSendFiles(const std::string& dir, bool& ok, JobChecks* checks) {
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
        if (fe || (checks && !checks->maySend(name))) continue;
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
    if (!packer_) {
        fillChunks(payload, limit);
        return;
    }
    if (!packStarted_) {
        if (payload.size() + 2 > limit) return;
        payload.insert(payload.end(), {kChunkPacked, kPackZstd});
        packStarted_ = true;
    }
    packer_->fill(payload, limit, [this](std::vector<uint8_t>& block) {
        fillChunks(block, kPackBlock);
        return !ended_;
    });
    if (packer_->broken()) status_ |= TVK_ES_TRANSFER;
}

void BatchReader::fillChunks(std::vector<uint8_t>& payload, size_t limit) {
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
            size_t want = size_t(std::min<uint64_t>(left, room));
            // A DATA chunk's length must fit too; REST needs none.
            if (left + varintLength(left) <= room) {
                payload.push_back(kChunkData);
                putVarint(payload, want);
            } else {
                payload.push_back(kChunkRest);
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

BatchWriter::BatchWriter(const std::string& dir, Progress* progress, JobChecks* checks)
    : dirFd_(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      progress_(progress),
      checks_(checks) {
    if (dirFd_ >= 0) removeStaleParts(dirFd_);
}

BatchWriter::~BatchWriter() {
    if (fd_ >= 0) failFile(0);
    // Files finished before the job ended early still get their names.
    syncer_.reset();
    if (dirFd_ >= 0) ::close(dirFd_);
}

void BatchWriter::failFile(uint32_t bits) {
    if (fd_ >= 0) {
        ::unlinkat(dirFd_, partName_.c_str(), 0);
        ::close(fd_);
        fd_ = -1;
    }
    tally_.bits |= bits;
    if (bits) ++tally_.failed;
    skipping_ = true;
}

bool BatchWriter::beginFile(const std::string& name, uint64_t size) {
    if (fd_ >= 0) failFile(TVK_ES_TRANSFER);
    skipping_ = false;
    announced_ = size > UINT64_MAX - announced_ ? UINT64_MAX : announced_ + size;
    if (limit_ && announced_ > *limit_) {
        oversize_ = true;
        failFile(TVK_ES_OVERSIZE);
        return false;
    }
    // The library's own rules first; the caller is asked only about a name
    // that could be stored.
    if (dirFd_ < 0 || !acceptableName(name) || occupied(dirFd_, name) || (checks_ && !checks_->mayStore(name)) ||
        (fd_ = createPart(dirFd_, partName_)) < 0) {
        failFile(TVK_ES_FILEOPEN);
        return false;
    }
    name_ = name;
    size_ = size;
    done_ = 0;
    crc_ = 0;
    lastPercent_ = -1;
    if (progress_) progress_->fileStarted(name);
    return true;
}

void BatchWriter::writeData(const uint8_t* p, size_t n) {
    if (skipping_ || fd_ < 0) return;
    if (n > size_ - done_) {
        // More data than announced: the file cannot be trusted.
        failFile(TVK_ES_TRANSFER | TVK_ES_PROTOCOL);
        return;
    }
    if (!writeAll(fd_, p, n)) {
        failFile(TVK_ES_TRANSFER | TVK_ES_FILEOPEN);
        return;
    }
    crc_ = crc32c(p, n, crc_);
    done_ += n;
    int pct = percentOf(done_, size_);
    if (progress_ && pct != lastPercent_) progress_->fileProgress(lastPercent_ = pct);
}

void BatchWriter::endFile(uint32_t crc) {
    if (skipping_ || fd_ < 0) {
        skipping_ = false;
        return;
    }
    if (done_ != size_ || crc != crc_) {
        failFile(TVK_ES_TRANSFER);
        skipping_ = false;
        return;
    }
    if (!syncer_) syncer_ = std::make_unique<Syncer>(dirFd_, tally_);
    syncer_->add({fd_, partName_, name_, size_});
    fd_ = -1;
    if (progress_ && lastPercent_ != 100) progress_->fileProgress(100);
}

void BatchWriter::endStream() {
    if (fd_ >= 0) failFile(TVK_ES_TRANSFER);
    if (syncer_) {
        syncer_->drain([this] {
            if (progress_) progress_->diskWait();
        });
    }
    if (!failed() && checks_ && !checks_->mayCommit()) tally_.bits |= TVK_ES_FILEOPEN;
    ended_ = true;
}

void BatchWriter::consume(const uint8_t* p, size_t n) {
    if (unpacker_) unpack(p, n);
    else consumeChunks(p, n);
}

void BatchWriter::unpack(const uint8_t* p, size_t n) {
    if (unpackFailed_ || ended_ || oversize_) return;
    if (!unpacker_->feed(p, n, [this](const uint8_t* block, size_t len) { consumeChunks(block, len); })) {
        // A damaged compressed stream: nothing more of it can be trusted.
        unpackFailed_ = true;
        failFile(fd_ >= 0 ? TVK_ES_PROTOCOL | TVK_ES_TRANSFER : TVK_ES_PROTOCOL);
    }
}

bool BatchWriter::startUnpacking(const uint8_t* p, size_t n, size_t& pos) {
    if (pos == n || p[pos] != kPackZstd) return false;
    unpacker_ = std::make_unique<Unpacker>();
    ++pos;
    unpack(p + pos, n - pos);
    return true;
}

void BatchWriter::consumeChunks(const uint8_t* p, size_t n) {
    size_t pos = 0;
    while (pos < n && !ended_ && !oversize_) {
        uint8_t type = p[pos++];
        const bool first = !started_;
        started_ = true;
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
            endStream();
            continue;
        case kChunkCancel:
            if (fd_ >= 0) failFile(TVK_ES_TRANSFER);
            skipping_ = false;
            continue;
        case kChunkPacked:
            if (first && startUnpacking(p, n, pos)) return;
            break;
        default:
            break;
        }
        // A malformed chunk: the rest of this frame means nothing.
        failFile(fd_ >= 0 ? TVK_ES_PROTOCOL | TVK_ES_TRANSFER : TVK_ES_PROTOCOL);
        return;
    }
}

}  // namespace tvk
