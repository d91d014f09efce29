// Names and directories of the run's file work.
#include <filesystem>
#include <system_error>

#include "commint.h"
#include "declar.h"
#include "filehelpers.h"

namespace quendril {

namespace {

inline constexpr int kMaxJobDirs = 99999;

// Creates parent + prefix + the first free number; file_exists when all are
// taken. A parent removed while the program runs is made again.
std::error_code createNumberedDir(const std::string& parent, const std::string& prefix, std::string& made) {
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) return ec;
    for (int n = 1; n <= kMaxJobDirs; ++n) {
        const std::string dir = parent + prefix + std::to_string(n);
        if (std::filesystem::create_directory(dir, ec)) {
            made = dir;
            return {};
        }
        if (ec) return ec;
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

std::vector<std::string> listFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (std::string name = dirFirst(dir + "*.*", kMaskNormal); !name.empty(); name = dirNext()) {
        names.push_back(name);
    }
    return names;
}

std::string makeJobDir(const std::string& prefix) {
    // Before start-up has set tempDir, the same place relative to the current directory.
    std::string base = tempDir.empty() ? std::string("TEMP") : tempDir;
    addBackslash(base);
    std::string made;
    if (!runFileOperation(base, [&] { return createNumberedDir(base, prefix, made); })) return {};
    return made;
}

void removeDirIfEmpty(const std::string& dir) {
    std::error_code ec;
    if (std::filesystem::is_empty(dir, ec) && !ec) std::filesystem::remove(dir, ec);
}

}  // namespace quendril
