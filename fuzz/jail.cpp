#include "jail.h"

#include <fstream>
#include <map>
#include <unistd.h>

#include "check.h"
#include "stream.h"

namespace fs = std::filesystem;

namespace fuzzline {

namespace {

// Small, empty and large enough to span several frames.
const std::map<std::string, std::string>& sourceFiles() {
    static const std::map<std::string, std::string> files = {
        {"A.DAT", std::string(5000, 'a')},
        {"B.TXT", "short\r\n"},
        {"EMPTY", ""},
    };
    return files;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

Jail::Jail() {
    // The targets look for wrong files, not lost ones: a disk sync for every
    // stored file would only slow each run down.
    tvk::setDiskSync([](int) { return true; });
    root_ = fs::temp_directory_path() / ("quendril-fuzz-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "in");
    fs::create_directories(root_ / "out");
    for (const auto& [name, bytes] : sourceFiles()) std::ofstream(root_ / "out" / name, std::ios::binary) << bytes;
}

Jail::~Jail() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void Jail::checkAndReset() {
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(root_)) {
        ++entries;
        const std::string name = e.path().filename().string();
        require(name == "in" || name == "out", "a file was written beside the target directory");
    }
    require(entries == 2, "a directory of the jail went missing");
    size_t sources = 0;
    for (const auto& e : fs::directory_iterator(root_ / "out")) {
        auto it = sourceFiles().find(e.path().filename().string());
        require(it != sourceFiles().end(), "a file appeared among the files to send");
        require(readAll(e.path()) == it->second, "a file to send was changed");
        ++sources;
    }
    require(sources == sourceFiles().size(), "a file to send went missing");
    for (const auto& e : fs::directory_iterator(root_ / "in")) {
        const std::string name = e.path().filename().string();
        // Received files wait under this prefix until they are checked.
        require(name.rfind(".tvk-part-", 0) != 0, "a partial file was left behind");
        require(e.is_regular_file() && !e.is_symlink(), "something other than a plain file was received");
        require(tvk::acceptableName(name), "a received file has a name that should have been refused");
    }
    for (const auto& e : fs::directory_iterator(root_ / "in")) fs::remove(e.path());
}

}  // namespace fuzzline
