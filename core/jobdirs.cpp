// Names and directories of the run's file work.
#include <filesystem>
#include <system_error>

#include "commint.h"
#include "filehelpers.h"

namespace quendril {

namespace {

inline constexpr int kMaxJobDirs = 99999;

// Some entry beside the candidate starts with its name (a marker of an
// earlier job, or a received file in a tempDir that is a receiving directory).
bool nameTaken(const std::vector<std::string>& entries, const std::string& name) {
    const std::string upper = upperName(name);
    for (const std::string& e : entries) {
        if (upperName(e).rfind(upper, 0) == 0 &&
            (e.size() == name.size() || e[name.size()] == '.')) {
            return true;
        }
    }
    return false;
}

// Creates parent + prefix + the first free number, open and locked;
// file_exists when all are taken. A parent removed while the program runs
// is made again.
std::error_code createNumberedDir(const std::string& parent, const std::string& prefix, JobDir& made) {
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) return ec;
    if ((ec = made.parent.open(parent))) return ec;
    std::vector<std::string> entries;
    if ((ec = made.parent.list(entries))) return ec;
    for (int n = 1; n <= kMaxJobDirs; ++n) {
        const std::string name = prefix + std::to_string(n);
        if (nameTaken(entries, name)) continue;
        const std::string path = parent + name;
        if (!std::filesystem::create_directory(path, ec)) {
            if (ec) return ec;
            continue;
        }
        if ((ec = made.handle.open(path)) || (ec = made.handle.lock())) return ec;
        made.path = path;
        made.name = name;
        return {};
    }
    return std::make_error_code(std::errc::file_exists);
}

}  // namespace

std::string upperName(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

std::vector<std::string> listFiles(Files& files, const std::string& dir) {
    return listEntries(files, dir + "*.*", kMaskNormal);
}

JobDir makeJobDir(Files& files, const std::string& tempDir, const std::string& prefix) {
    std::string base = tempDir;
    appendSeparator(base);
    JobDir made;
    if (!files.run(base, [&] { return createNumberedDir(base, prefix, made); })) return {};
    return made;
}

bool isJobDirName(const std::string& name) {
    const std::string upper = upperName(name);
    return (upper.rfind("RECV", 0) == 0 || upper.rfind("SEND", 0) == 0) && upper.size() > 4 && upper[4] >= '0' &&
           upper[4] <= '9';
}

void removeJobDir(const Directory& parent, const std::string& name) {
    Directory dir;
    std::vector<std::string> names;
    if (const std::error_code ec = dir.open(parent.path() + kPathSeparator + name); !ec && !dir.list(names)) {
        for (const std::string& n : names) dir.remove(n);
    }
    parent.removeDirectory(name);
}

}  // namespace quendril
