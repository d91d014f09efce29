// File receive, and the lookups the receive and transmit jobs share.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "filehelpers.h"

namespace quendril {

namespace {

inline constexpr std::size_t kCopyBlock = 512;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A failed stdio call that left no errno is still a failure.
std::error_code lastError() {
    return errno != 0 ? std::error_code(errno, std::generic_category()) : std::make_error_code(std::errc::io_error);
}

// Copies in through one fixed buffer to the end of out.
std::error_code copyBlocks(std::FILE* in, std::FILE* out) {
    char buf[kCopyBlock];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        if (std::fwrite(buf, 1, n, out) != n) return lastError();
    }
    if (std::ferror(in)) return lastError();
    return {};
}

// Appends all bytes of src to dest; on failure dest is cut back to its old
// length so that a retry does not append twice.
std::error_code appendFile(const std::string& src, const std::string& dest) {
    errno = 0;
    FileHandle in(std::fopen(src.c_str(), "rb"));
    if (!in) return lastError();
    std::error_code sizeEc;
    const std::filesystem::file_status st = std::filesystem::status(dest, sizeEc);
    const std::uintmax_t oldSize = std::filesystem::is_regular_file(st) ? std::filesystem::file_size(dest, sizeEc) : 0;
    if (sizeEc && st.type() != std::filesystem::file_type::not_found) return sizeEc;
    FileHandle out(std::fopen(dest.c_str(), "ab"));
    if (!out) return lastError();
    std::error_code ec = copyBlocks(in.get(), out.get());
    if (std::fclose(out.release()) != 0 && !ec) ec = lastError();
    if (ec) {
        std::error_code ignored;
        std::filesystem::resize_file(dest, oldSize, ignored);
    }
    return ec;
}

bool sameDirectory(const std::string& a, const std::string& b) {
    std::error_code ec;
    return a == b || std::filesystem::equivalent(a, b, ec);
}

// The destination's existing namesake in any letter case (the exact upper
// case first), or the upper-cased name for a new file.
std::string destinationName(std::vector<std::string>& destNames, const std::string& upper) {
    const std::string* match = nullptr;
    for (const std::string& name : destNames) {
        if (name == upper) return name;
        if (!match && upperName(name) == upper) match = &name;
    }
    if (match) return *match;
    destNames.push_back(upper);
    return upper;
}

}  // namespace

int16_t findHtIndex(const std::string& id) {
    const int16_t n = htIdEntries();
    for (int16_t i = 0; i < n; ++i) {
        if (HtIdTable[static_cast<std::size_t>(i)].htId == id) return i;
    }
    for (int16_t i = 0; i < n; ++i) {
        if (HtIdTable[static_cast<std::size_t>(i)].htId == kWildcardId) return i;
    }
    return n;
}

std::string getJobDirectory(const CommInfo& info, int16_t htIndex) {
    static const HtIdEntry noEntry{};
    const HtIdEntry& entry = htIndex >= 0 && htIndex < htIdEntries()
                                 ? HtIdTable[static_cast<std::size_t>(htIndex)]
                                 : noEntry;
    if (info.transDir == TVK_DIR_TO_PC) return entry.recvDir.empty() ? EnvSettings.recvDir : entry.recvDir;
    if (info.transType == TVK_TYPE_APPL) return EnvSettings.apDir;
    return entry.sendDir.empty() ? EnvSettings.sendDir : entry.sendDir;
}

int16_t receiveFile(int16_t index) {
    CommInfo& entry = commInfoList[static_cast<std::size_t>(index)];
    const std::string dir = getJobDirectory(entry, findHtIndex(htIdText(entry)));
    const bool append = EnvSettings.appendMode;
    const std::string target = append ? makeJobDir("RECV") : dir;
    if (target.empty()) return kOutcomeFailed;

    std::vector<char> buf = textBuffer(target);
    const int16_t r = tvk().filerecv(buf.data(), &entry);
    int16_t outcome = kOutcomeDone;
    if (r == TVK_ESTOPPED || stopRequested) {
        outcome = kOutcomeStop;
    } else if (r < 0) {
        outcome = kOutcomeFailed;
    } else if (append) {
        appendReceivedFiles(dir, target);
    }
    if (append) removeDirIfEmpty(target);
    return outcome;
}

void appendReceivedFiles(std::string destDir, std::string srcDir) {
    addBackslash(destDir);
    addBackslash(srcDir);
    if (sameDirectory(destDir, srcDir)) return;
    const std::vector<std::string> names = listFiles(srcDir);
    std::vector<std::string> destNames = listFiles(destDir);
    for (const std::string& name : names) {
        const std::string src = srcDir + name;
        const std::string dest = destDir + destinationName(destNames, upperName(name));
        if (runFileOperation(dest, [&] { return appendFile(src, dest); })) killFile(src);
    }
}

}  // namespace quendril
