// File work inside one open directory: every name is taken literally,
// relative to the directory, and never through a symbolic link; what must
// survive a crash is synced before it counts. This is the platform layer of
// the append step and of the job directories in TEMP.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace quendril {

enum class EntryKind { Missing, File, Directory, Link, Other };

struct EntryStatus {
    EntryKind kind = EntryKind::Missing;
    std::uint64_t size = 0;
};

// An open file; closed with the object.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    std::error_code size(std::uint64_t& bytes) const;
    // Writes all of bytes at the end of the file.
    std::error_code append(const char* bytes, std::size_t n);
    // Reads up to n bytes; got is 0 at the end of the file.
    std::error_code read(char* bytes, std::size_t n, std::size_t& got);
    std::error_code truncate(std::uint64_t length);
    std::error_code sync();

private:
    int fd_ = -1;
};

class Directory {
public:
    Directory() = default;
    ~Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Opens path, which must be a directory (a link to one is followed: the
    // directory is the user's choice, the names inside it are not).
    std::error_code open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Takes an exclusive lock on the directory for as long as it is open;
    // resource_unavailable_try_again when another process holds one.
    std::error_code lock();

    // Names of the entries, sorted by their bytes.
    std::error_code list(std::vector<std::string>& names) const;
    EntryStatus status(const std::string& name) const;

    // A regular file, created when missing; a link or anything but a
    // regular file at the name fails (too_many_symbolic_link_levels, is_a_directory).
    std::error_code openForAppend(const std::string& name, OpenFile& file) const;
    std::error_code openForRead(const std::string& name, OpenFile& file) const;
    std::error_code readAll(const std::string& name, std::string& bytes) const;
    // Replaces name by bytes: a new file beside it, synced, renamed over it,
    // and the directory synced.
    std::error_code writeDurably(const std::string& name, const std::string& bytes) const;
    // Removes the file name itself (never a pattern); a missing one is no error.
    std::error_code remove(const std::string& name) const;
    std::error_code removeDirectory(const std::string& name) const;
    // Renames the entry from (a link itself, never its target) to to,
    // replacing what is there; sync() makes it durable.
    std::error_code rename(const std::string& from, const std::string& to) const;
    // Makes the directory's own entries (creations, renames, removals) durable.
    std::error_code sync() const;

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace quendril
