#include "filehelpers.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "messages.h"

namespace fs = std::filesystem;

namespace quendril {

// Operating-system error -> FileErrNumber (fileErrNumber):
//
//   error (std::errc / errno)                    number  box text
//   no_such_file_or_directory (ENOENT),
//     parent directory exists or no parent given   53    "No file name"
//   no_such_file_or_directory (ENOENT),
//     parent directory missing                     76    "No Pass"
//   not_a_directory (ENOTDIR)                      76    "No Pass"
//   too_many_symbolic_link_levels (ELOOP)          76    "No Pass"
//   filename_too_long (ENAMETOOLONG)               52    "File nume/number error"
//   invalid_argument (EINVAL), bad_file_descriptor 52    "File nume/number error"
//   text_file_busy (ETXTBSY), device_or_resource_busy (EBUSY)
//                                                  55    "The file is Opened already"
//   io_error (EIO)                                 57    "Device I/O error" (Retry/Cancel)
//   file_exists (EEXIST), directory_not_empty      58    "A file of same name exists already"
//   no_space_on_device (ENOSPC), EDQUOT, file_too_large (EFBIG)
//                                                  61    "Not enough free area"
//   too_many_files_open (EMFILE),
//     too_many_files_open_in_system (ENFILE)       67    "Too meny files"
//   no_such_device_or_address (ENXIO), no_such_device (ENODEV)
//                                                  68    "No device prepared" (Retry/Cancel)
//   permission_denied (EACCES), operation_not_permitted (EPERM),
//     read_only_file_system (EROFS)                70    "Protected"
//   ENOMEDIUM (no medium), timed_out (ETIMEDOUT),
//     resource_unavailable_try_again (EAGAIN)      71    "No disc" (Retry/Cancel)
//   cross_device_link (EXDEV)                      74    generic "ERROR!!!"
//   is_a_directory (EISDIR)                        75    "Pass error"
//   anything else, and errors outside the system's
//     error numbers                                75    "Pass error"
//
// "Path not found" and "file not found" are both ENOENT on this platform;
// they are told apart by looking at the parent directory of the path
// concerned: when it does not exist (or is not a directory) the path is what
// is missing (76), otherwise the file itself (53).

namespace {

std::error_code lastOsError() { return {errno, std::generic_category()}; }

bool parentMissing(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    if (parent.empty()) return false;
    std::error_code ec;
    return !fs::is_directory(parent, ec);
}

// Errors without a portable condition (EDQUOT, ENOMEDIUM) stay in the
// system category, which holds errno values on POSIX systems.
bool holdsErrno(const std::error_condition& c) {
#if defined(_WIN32)
    return c.category() == std::generic_category();
#else
    return c.category() == std::generic_category() || c.category() == std::system_category();
#endif
}

int16_t mapCondition(const std::error_condition& c, const std::string& path) {
    if (!holdsErrno(c)) return kFileErrPathAccess;
#ifdef ENOMEDIUM
    if (c.value() == ENOMEDIUM) return kFileErrNotReady;
#endif
#ifdef EDQUOT
    if (c.value() == EDQUOT) return kFileErrDiskFull;
#endif
    switch (static_cast<std::errc>(c.value())) {
    case std::errc::no_such_file_or_directory:
        return parentMissing(path) ? kFileErrPathNotFound : kFileErrNotFound;
    case std::errc::not_a_directory:
    case std::errc::too_many_symbolic_link_levels:
        return kFileErrPathNotFound;
    case std::errc::filename_too_long:
    case std::errc::invalid_argument:
    case std::errc::bad_file_descriptor:
        return kFileErrBadName;
    case std::errc::text_file_busy:
    case std::errc::device_or_resource_busy:
        return kFileErrAlreadyOpen;
    case std::errc::io_error:
        return kFileErrDeviceIo;
    case std::errc::file_exists:
    case std::errc::directory_not_empty:
        return kFileErrExists;
    case std::errc::no_space_on_device:
    case std::errc::file_too_large:
        return kFileErrDiskFull;
    case std::errc::too_many_files_open:
    case std::errc::too_many_files_open_in_system:
        return kFileErrTooManyFiles;
    case std::errc::no_such_device_or_address:
    case std::errc::no_such_device:
        return kFileErrDeviceUnavailable;
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
    case std::errc::read_only_file_system:
        return kFileErrPermission;
    case std::errc::timed_out:
    case std::errc::resource_unavailable_try_again:
        return kFileErrNotReady;
    case std::errc::cross_device_link:
        return kFileErrRenameAcrossDevices;
    default:
        return kFileErrPathAccess;
    }
}

// --- Listings ---

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' any run, '?' one character; letters without regard to case.
bool globMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A trailing ".*" also matches names without any extension, so "*.*"
// matches every name.
bool nameMatches(const std::string& pattern, const std::string& name) {
    if (globMatch(pattern, name)) return true;
    return pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
           name.find('.') == std::string::npos &&
           globMatch(std::string_view(pattern).substr(0, pattern.size() - 2), name);
}

bool hasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

struct SplitPath {
    std::string dir;
    std::string last;
};

SplitPath splitLast(const std::string& path) {
    const auto pos = path.rfind(kPathSeparator);
    if (pos == std::string::npos) return {".", path};
    return {pos == 0 ? std::string(1, kPathSeparator) : path.substr(0, pos), path.substr(pos + 1)};
}

// A name too long for the file system cannot name anything either.
bool missingPath(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory ||
           ec == std::errc::filename_too_long;
}

// A path without wildcards: the entry itself.
int16_t collectOne(const std::string& path, const std::string& name, int mask,
                   std::vector<std::string>& out) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec) return missingPath(ec) ? 0 : fileErrNumber(ec, path);
    if (st.type() == fs::file_type::not_found) return 0;
    if (!fs::is_directory(st) || (mask & kMaskDirectory) != 0) out.push_back(name);
    return 0;
}

// The entries of dir matching pattern ("" lists every entry, "." first with
// mask 16), sorted by name.
int16_t collectMatches(const std::string& dir, const std::string& pattern, int mask,
                       std::vector<std::string>& out) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return missingPath(ec) ? 0 : fileErrNumber(ec, dir);
    std::vector<std::string> names;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return fileErrNumber(ec, dir);
        const std::string name = it->path().filename().string();
        if (!pattern.empty() && !nameMatches(pattern, name)) continue;
        std::error_code typeEc;
        const fs::file_status st = it->status(typeEc);
        if (typeEc || st.type() == fs::file_type::not_found) continue;  // dangling link
        if (fs::is_directory(st) && (mask & kMaskDirectory) == 0) continue;
        names.push_back(name);
    }
    if (ec) return fileErrNumber(ec, dir);
    std::sort(names.begin(), names.end());
    if (pattern.empty() && (mask & kMaskDirectory) != 0) out.push_back(".");
    out.insert(out.end(), names.begin(), names.end());
    return 0;
}

int16_t collectEntries(const std::string& pathOrPattern, int mask, std::vector<std::string>& out) {
    out.clear();
    if (pathOrPattern.empty()) return 0;
    const SplitPath split = splitLast(pathOrPattern);
    if (split.last.empty() || hasWildcard(split.last)) {
        return collectMatches(split.dir, split.last, mask, out);
    }
    return collectOne(pathOrPattern, split.last, mask, out);
}

bool findsEntry(Files& files, const std::string& path, int mask, Files::OnOk onOk) {
    std::vector<std::string> found;
    const bool done = files.underRule([&] { return collectEntries(path, mask, found); },
                                      [&] { return path; }, onOk);
    return done && !found.empty();
}

// --- Deleting ---

int16_t removeOne(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return kFileErrNotFound;  // only files are deleted
    if (!fs::remove(path, ec)) return ec ? fileErrNumber(ec, path) : int16_t{kFileErrNotFound};
    return 0;
}

int16_t removeMatching(const std::string& pattern) {
    std::vector<std::string> names;
    if (const int16_t n = collectEntries(pattern, kMaskNormal, names); n != 0) return n;
    if (names.empty()) return kFileErrNotFound;
    const std::string dir = splitLast(pattern).dir + kPathSeparator;
    for (const std::string& name : names) {
        const int16_t n = removeOne(dir + name);
        if (n != 0 && n != kFileErrNotFound) return n;
    }
    return 0;
}

// --- Writing ---

int syncToDisk(std::FILE* f) {
#if defined(_WIN32)
    return _commit(_fileno(f));
#else
    return fsync(fileno(f));
#endif
}

std::error_code writeAndSync(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return lastOsError();
    std::error_code ec;
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0 ||
        syncToDisk(f) != 0) {
        ec = lastOsError();
    }
    if (std::fclose(f) != 0 && !ec) ec = lastOsError();
    return ec;
}

// A settings file kept elsewhere behind a link stays there: its target is
// what gets replaced.
std::string replacedPath(const std::string& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    const fs::path target = fs::canonical(path, ec);
    return ec ? path : target.string();
}

// The new file is written beside the old one so that the rename stays on one
// file system and replaces it in one step; it keeps the old file's permissions.
std::error_code replaceFile(const std::string& path, const std::string& bytes) {
    const std::string target = replacedPath(path);
    const std::string fresh = target + ".new";
    std::error_code ec = writeAndSync(fresh, bytes);
    std::error_code statEc;
    const fs::file_status old = fs::status(target, statEc);
    if (!ec && !statEc && fs::exists(old)) fs::permissions(fresh, old.permissions(), ec);
    if (!ec) fs::rename(fresh, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
    }
    return ec;
}

}  // namespace

int16_t fileErrNumber(const std::error_code& ec, const std::string& path) {
    if (!ec) return 0;
    return mapCondition(ec.default_error_condition(), path);
}

Failure fileFailure(const std::error_code& ec, const std::string& path) {
    const int16_t n = ec ? fileErrNumber(ec, path) : int16_t{kFileErrPathAccess};
    return {FailureKind::File, n, path, ec ? ec.message() : std::string(), FailureArea::Files};
}

int16_t Files::takeFault() {
    if (fault_.times <= 0) return 0;
    --fault_.times;
    return fault_.number;
}

BoxAnswer Files::report(Failure failure) {
    const BoxAnswer answer = prompt_->show(failure);
    const MessageRule rule = messageRule(failure);
    if (rule.buttons == BoxButtons::Ok) {
        if (rule.endsProgram && !ending_) ending_ = std::move(failure);
        return kAnswerOk;
    }
    // Closing the box counts as Cancel.
    return answer == kAnswerRetry ? kAnswerRetry : kAnswerCancel;
}

bool Files::underRule(const Attempt& attempt, const std::function<std::string()>& extra, OnOk onOk,
                      int16_t notAFailure) {
    for (;;) {
        if (ending_) return false;
        int16_t n = takeFault();
        if (n == 0) n = attempt();
        if (n == 0 || n == notAFailure) return true;
        Failure failure{FailureKind::File, n, extra(), std::string(), area_};
        if (onOk == OnOk::GiveUp && messageRule(failure).buttons == BoxButtons::Ok) {
            prompt_->show(failure);
            return false;
        }
        if (report(std::move(failure)) != kAnswerRetry) return false;
    }
}

bool Files::run(const std::string& path, const std::function<std::error_code()>& op) {
    std::string reason;
    const bool done = underRule(
        [&] {
            const std::error_code ec = op();
            if (ec) reason = ec.message();
            return fileErrNumber(ec, path);
        },
        [&] { return path; });
    if (!done && ending_ && ending_->reason.empty()) ending_->reason = reason;
    return done;
}

void appendSeparator(std::string& path) {
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
}

// --- InputFile ---

InputFile::~InputFile() { close(); }

std::error_code InputFile::open(const std::string& path) {
    close();
    path_ = path;
    std::error_code ec;
    if (fs::is_directory(path, ec)) return std::make_error_code(std::errc::is_a_directory);
    file_ = std::fopen(path.c_str(), "rb");
    return file_ ? std::error_code{} : lastOsError();
}

void InputFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

int InputFile::get() {
    if (!file_) return EOF;
    readError_.clear();
    const int c = std::getc(file_);
    if (c == EOF && std::ferror(file_)) {
        readError_ = lastOsError();
        std::clearerr(file_);
    }
    return c;
}

void InputFile::unget(int c) {
    if (file_ && c != EOF) std::ungetc(c, file_);
}

bool InputFile::atEnd() {
    const int c = get();
    if (c == EOF) return !readError_;
    unget(c);
    return false;
}

bool openInput(Files& files, InputFile& file, const std::string& path) {
    return files.underRule([&] { return fileErrNumber(file.open(path), path); },
                            [&] { return path; });
}

void lineInput(Files& files, InputFile& file, std::string& line) {
    std::string read;
    auto attempt = [&]() -> int16_t {
        read.clear();
        int c = file.get();
        if (c == EOF) return file.readError() ? fileErrNumber(file.readError(), file.path())
                                              : int16_t{kFileErrPastEnd};
        while (c != EOF && c != '\n' && c != '\r') {
            read.push_back(static_cast<char>(c));
            c = file.get();
        }
        if (c == '\r') {
            const int after = file.get();
            if (after != '\n') file.unget(after);
        }
        return file.readError() ? fileErrNumber(file.readError(), file.path()) : int16_t{0};
    };
    if (files.underRule(attempt, [] { return std::string(); })) line = std::move(read);
}

void killFile(Files& files, const std::string& path) {
    auto attempt = [&] {
        return hasWildcard(splitLast(path).last) ? removeMatching(path) : removeOne(path);
    };
    files.underRule(attempt, [&] { return path; }, Files::OnOk::EndProgram, kFileErrNotFound);
}

void makeDir(Files& files, const std::string& path) {
    auto attempt = [&]() -> int16_t {
        std::error_code ec;
        if (fs::create_directory(path, ec) || !ec) return 0;
        std::error_code dirEc;
        return fs::is_directory(path, dirEc) ? int16_t{0} : fileErrNumber(ec, path);
    };
    files.underRule(attempt, [&] { return path; });
}

std::vector<std::string> listEntries(Files& files, const std::string& pathOrPattern, int mask) {
    std::vector<std::string> names;
    if (!files.underRule([&] { return collectEntries(pathOrPattern, mask, names); }, [&] { return pathOrPattern; })) {
        return {};
    }
    return names;
}

bool existDir(Files& files, const std::string& path) {
    return findsEntry(files, path, kMaskDirectory, Files::OnOk::GiveUp);
}

bool existFile(Files& files, const std::string& path) {
    return findsEntry(files, path, kMaskNormal, Files::OnOk::EndProgram);
}

bool writeFileAtomically(Files& files, const std::string& path, const std::string& bytes) {
    return files.run(path, [&] { return replaceFile(path, bytes); });
}

}  // namespace quendril
