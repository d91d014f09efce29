// File transmit and AP install: choose and stage the files, send them.
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "filehelpers.h"
#include "host.h"
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

void deleteStagingDir(std::string dir) {
    addBackslash(dir);
    killFile(dir + "*");
    removeDirIfEmpty(dir);
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

    const std::string sendFrom = stageTransmitFiles(entry, srcDir, fileType);
    if (sendFrom.empty()) return kOutcomeFailed;
    const TransmitTotals totals = countTransmitFiles(entry, sendFrom);
    entry.fileCount = totals.count;
    entry.totalSize = totals.total;
    std::string pattern = sendFrom;
    addBackslash(pattern);
    std::vector<char> buf = textBuffer(pattern + "*.*");
    const int16_t r = tvk().filesend(buf.data(), &entry);
    removeStagedFiles(entry, sendFrom, fileType);

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

std::string stageTransmitFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType) {
    const std::string type = upperName(fileType);
    if (sendsWholeDir(info, type)) return srcDir;
    // A fresh directory per job: nothing else lying in tempDir is ever sent,
    // and a source that is tempDir itself is never copied onto itself.
    const std::string staging = makeJobDir("SEND");
    if (staging.empty()) return {};
    std::string from = srcDir;
    addBackslash(from);
    std::string to = staging;
    addBackslash(to);
    for (const std::string& name : listFiles(from)) {
        const std::string upper = upperName(name);
        if (!selected(type, upper)) continue;
        if (!runFileOperation(from + name, [&] { return copyOver(from + name, to + upper); })) {
            deleteStagingDir(staging);
            return {};
        }
    }
    return staging;
}

TransmitTotals countTransmitFiles(const CommInfo& info, const std::string& dir) {
    std::string from = dir;
    addBackslash(from);
    TransmitTotals totals;
    for (const std::string& name : listFiles(from)) {
        if (info.transType == TVK_TYPE_APPL && isMapName(name)) continue;
        totals.count = countOneMore(totals.count);
        totals.total = addBytesSaturated(totals.total, fileLength(from + name));
    }
    return totals;
}

void removeStagedFiles(const CommInfo& info, const std::string& stagedDir, const std::string& fileType) {
    if (sendsWholeDir(info, upperName(fileType))) return;
    deleteStagingDir(stagedDir);
}

}  // namespace quendril
