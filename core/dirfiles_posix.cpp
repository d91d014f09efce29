#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "dirfiles.h"

namespace quendril {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

std::error_code closeFd(int& fd) {
    std::error_code ec;
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) ec = lastError();
    fd = -1;
    return ec;
}

// A name must stay inside the directory: one path component.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::error_code badName() { return std::make_error_code(std::errc::invalid_argument); }

// Only regular files are written or read; a link at the name is refused by
// O_NOFOLLOW, anything else by this check.
std::error_code requireRegular(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return lastError();
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(st.st_mode)) return std::make_error_code(std::errc::no_such_device_or_address);
    return {};
}

}  // namespace

OpenFile::~OpenFile() { closeFd(fd_); }

OpenFile::OpenFile(OpenFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        closeFd(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

std::error_code OpenFile::size(std::uint64_t& bytes) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return lastError();
    bytes = static_cast<std::uint64_t>(st.st_size);
    return {};
}

std::error_code OpenFile::append(const char* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd_, bytes, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        bytes += w;
        n -= static_cast<std::size_t>(w);
    }
    return {};
}

std::error_code OpenFile::read(char* bytes, std::size_t n, std::size_t& got) {
    for (;;) {
        const ssize_t r = ::read(fd_, bytes, n);
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            return {};
        }
        if (errno != EINTR) return lastError();
    }
}

std::error_code OpenFile::truncate(std::uint64_t length) {
    return ::ftruncate(fd_, static_cast<off_t>(length)) == 0 ? std::error_code{} : lastError();
}

std::error_code OpenFile::sync() { return ::fsync(fd_) == 0 ? std::error_code{} : lastError(); }

Directory::~Directory() { closeFd(fd_); }

Directory::Directory(Directory&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        closeFd(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

std::error_code Directory::open(const std::string& path) {
    closeFd(fd_);
    path_ = path;
    fd_ = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0 ? std::error_code{} : lastError();
}

std::error_code Directory::lock() {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return {};
    return errno == EWOULDBLOCK ? std::make_error_code(std::errc::resource_unavailable_try_again) : lastError();
}

std::error_code Directory::list(std::vector<std::string>& names) const {
    names.clear();
    // A second descriptor: the listing must not move this one's position.
    const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return lastError();
    DIR* d = ::fdopendir(fd);
    if (!d) {
        const std::error_code ec = lastError();
        ::close(fd);
        return ec;
    }
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const std::error_code ec = errno != 0 ? lastError() : std::error_code{};
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return ec;
}

EntryStatus Directory::status(const std::string& name) const {
    struct stat st {};
    if (!plainName(name) || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    EntryStatus s;
    s.size = static_cast<std::uint64_t>(st.st_size);
    if (S_ISREG(st.st_mode)) s.kind = EntryKind::File;
    else if (S_ISDIR(st.st_mode)) s.kind = EntryKind::Directory;
    else if (S_ISLNK(st.st_mode)) s.kind = EntryKind::Link;
    else s.kind = EntryKind::Other;
    return s;
}

std::error_code Directory::openForAppend(const std::string& name, OpenFile& file) const {
    if (!plainName(name)) return badName();
    // O_NONBLOCK: a fifo planted at the name must not hang the open.
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return errno == ENXIO ? std::make_error_code(std::errc::no_such_device_or_address) : lastError();
    OpenFile opened(fd);
    if (const std::error_code ec = requireRegular(fd)) return ec;
    file = std::move(opened);
    return {};
}

std::error_code Directory::openForRead(const std::string& name, OpenFile& file) const {
    if (!plainName(name)) return badName();
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return lastError();
    OpenFile opened(fd);
    if (const std::error_code ec = requireRegular(fd)) return ec;
    file = std::move(opened);
    return {};
}

std::error_code Directory::readAll(const std::string& name, std::string& bytes) const {
    OpenFile f;
    if (const std::error_code ec = openForRead(name, f)) return ec;
    bytes.clear();
    char buf[4096];
    for (;;) {
        std::size_t got = 0;
        if (const std::error_code ec = f.read(buf, sizeof buf, got)) return ec;
        if (got == 0) return {};
        bytes.append(buf, got);
    }
}

std::error_code Directory::writeDurably(const std::string& name, const std::string& bytes) const {
    if (!plainName(name)) return badName();
    const std::string fresh = name + ".new";
    ::unlinkat(fd_, fresh.c_str(), 0);
    const int fd = ::openat(fd_, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return lastError();
    OpenFile f(fd);
    std::error_code ec = f.append(bytes.data(), bytes.size());
    if (!ec) ec = f.sync();
    if (!ec && ::renameat(fd_, fresh.c_str(), fd_, name.c_str()) != 0) ec = lastError();
    if (ec) {
        ::unlinkat(fd_, fresh.c_str(), 0);
        return ec;
    }
    return sync();
}

std::error_code Directory::remove(const std::string& name) const {
    if (!plainName(name)) return badName();
    if (::unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT) return {};
    return lastError();
}

std::error_code Directory::removeDirectory(const std::string& name) const {
    if (!plainName(name)) return badName();
    if (::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return {};
    return lastError();
}

std::error_code Directory::rename(const std::string& from, const std::string& to) const {
    if (!plainName(from) || !plainName(to)) return badName();
    return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 ? std::error_code{} : lastError();
}

std::error_code Directory::sync() const { return ::fsync(fd_) == 0 ? std::error_code{} : lastError(); }

}  // namespace quendril
