// Names and directories of the run's file work.
#include <filesystem>
#include <system_error>

#include "commint.h"
#include "declar.h"
#include "filehelpers.h"

namespace quendril {

namespace {

inline constexpr int kMaxJobDirs = 99999;

// Creates base + the first free number; file_exists when all are taken.
std::error_code createNumberedDir(const std::string& base, std::string& made) {
    for (int n = 1; n <= kMaxJobDirs; ++n) {
        const std::string dir = base + std::to_string(n);
        std::error_code ec;
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
    std::string base = tempDir;
    addBackslash(base);
    std::string made;
    if (!runFileOperation(base, [&] { return createNumberedDir(base + prefix, made); })) return {};
    return made;
}

void removeDirIfEmpty(const std::string& dir) {
    std::error_code ec;
    if (std::filesystem::is_empty(dir, ec) && !ec) std::filesystem::remove(dir, ec);
}

}  // namespace quendril
