// File transmit and AP install: choose and stage the files, send them.
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "filehelpers.h"
#include "host.h"
#include "jobchecks.h"
#include "messages.h"

namespace quendril {

namespace {

inline constexpr int kExitFatal = 1;

// Whether the last four characters are ext; a shorter name never ends so.
bool endsWith(const std::string& upper, const char (&ext)[5]) {
    return upper.size() >= 4 && upper.compare(upper.size() - 4, 4, ext) == 0;
}
bool isLodName(const std::string& upper) { return endsWith(upper, ".LOD"); }
bool isMapName(const std::string& name) { return endsWith(upperName(name), ".MAP"); }

// Whether the job sends its source directory as it is.
bool sendsWholeDir(const CommInfo& info, const std::string& upperType) {
    return upperType == "ALL" || info.transType == TVK_TYPE_APPL;
}

bool selected(const std::string& upperType, const std::string& upperFile) {
    if (upperType == "LOD") return isLodName(upperFile);
    if (upperType == "OTR") return !isLodName(upperFile);
    return false;
}

bool isBlank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

std::error_code copyOver(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    return ec;
}

// Names the library never sends (a leading '.') and the program's own files.
bool sendable(const ProtectedNames& own, const std::string& name) {
    return !name.starts_with('.') && !own.covers(name);
}

// A missing source directory ends the program, as a damaged setting would.
[[noreturn]] void endOnMissingDir(const std::string& dir) {
    dispFileErr(kFileErrPathAccess, dir);
    commClose();
    endProgram(kExitFatal);
}

// The file's length; 0 when the user gave up a failed look-up.
std::uintmax_t fileLength(const std::string& path) {
    std::uintmax_t size = 0;
    runFileOperation(path, [&] {
        std::error_code ec;
        const std::uintmax_t n = std::filesystem::file_size(path, ec);
        if (!ec) size = n;
        return ec;
    });
    return size;
}

}  // namespace

int16_t transmitFile(int16_t index) {
    CommInfo& entry = commInfoList[static_cast<std::size_t>(index)];
    const int16_t htIndex = findHtIndex(htIdText(entry));
    const std::string srcDir = getJobDirectory(entry, htIndex);
    const std::string fileType = getTransmitFileType(htIndex);
    if (!existDir(srcDir)) endOnMissingDir(srcDir);

    SendSource source = stageTransmitFiles(entry, srcDir, fileType);
    if (source.dir.empty()) return kOutcomeFailed;
    const TransmitTotals totals = countTransmitFiles(entry, source.dir);
    entry.fileCount = totals.count;
    entry.totalSize = totals.total;
    std::string pattern = source.dir;
    appendSeparator(pattern);
    std::vector<char> buf = textBuffer(pattern + "*.*");
    int16_t r = 0;
    {
        JobChecks checks(source.dir);
        r = tvk().filesend(buf.data(), &entry);
    }
    removeStagedFiles(source);

    if (r == TVK_ESTOPPED || stopRequested) return kOutcomeStop;
    if (r < 0) return kOutcomeFailed;
    if (entry.transType == TVK_TYPE_APPL && repollAfterInstall(index) == kOutcomeStop) return kOutcomeStop;
    return kOutcomeDone;
}

std::string getTransmitFileType(int16_t htIndex) {
    if (htIndex >= 0 && htIndex < htIdEntries()) {
        const std::string& own = HtIdTable[static_cast<std::size_t>(htIndex)].fileKind;
        if (!isBlank(own)) return own;
    }
    return EnvSettings.fileKind;
}

SendSource stageTransmitFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType) {
    const std::string type = upperName(fileType);
    if (sendsWholeDir(info, type)) return {srcDir, {}};
    // A fresh directory per job: nothing else lying in tempDir is ever sent,
    // and a source that is tempDir itself is never copied onto itself.
    SendSource source{{}, makeJobDir("SEND")};
    if (source.staging.path.empty()) return source;
    std::string from = srcDir;
    appendSeparator(from);
    std::string to = source.staging.path;
    appendSeparator(to);
    const ProtectedNames own(srcDir);
    for (const std::string& name : listFiles(from)) {
        const std::string upper = upperName(name);
        if (!selected(type, upper) || !sendable(own, name)) continue;
        if (!runFileOperation(from + name, [&] { return copyOver(from + name, to + upper); })) {
            removeStagedFiles(source);
            return source;
        }
    }
    source.dir = source.staging.path;
    return source;
}

TransmitTotals countTransmitFiles(const CommInfo& info, const std::string& dir) {
    std::string from = dir;
    appendSeparator(from);
    const ProtectedNames own(dir);
    TransmitTotals totals;
    for (const std::string& name : listFiles(from)) {
        if (!sendable(own, name) || (info.transType == TVK_TYPE_APPL && isMapName(name))) continue;
        totals.count = countOneMore(totals.count);
        totals.total = addBytesSaturated(totals.total, fileLength(from + name));
    }
    return totals;
}

void removeStagedFiles(SendSource& source) {
    if (source.staging.path.empty()) return;
    removeJobDir(source.staging.parent, source.staging.name);
    source.staging = {};
}

}  // namespace quendril
