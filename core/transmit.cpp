// File transmit and AP install: choose and stage the files, send them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "jobchecks.h"
#include "messages.h"
#include "run.h"

namespace quendril {

namespace {

// Small enough that a stop is seen within milliseconds.
inline constexpr std::size_t kCopyBlock = 64 * 1024;

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

std::error_code lastError() { return {errno, std::generic_category()}; }

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Copies from over to, block by block; a stop ends it with
// operation_canceled (the staging directory is removed whole afterwards).
std::error_code copyOver(const std::string& from, const std::string& to, const std::atomic<bool>& stop) {
    FilePtr in(std::fopen(from.c_str(), "rb"), &std::fclose);
    if (!in) return lastError();
    FilePtr out(std::fopen(to.c_str(), "wb"), &std::fclose);
    if (!out) return lastError();
    std::vector<char> buf(kCopyBlock);
    for (;;) {
        if (stop.load()) return std::make_error_code(std::errc::operation_canceled);
        const std::size_t got = std::fread(buf.data(), 1, buf.size(), in.get());
        if (got > 0 && std::fwrite(buf.data(), 1, got, out.get()) != got) return lastError();
        if (got < buf.size()) break;
    }
    if (std::ferror(in.get())) return std::make_error_code(std::errc::io_error);
    if (std::fflush(out.get()) != 0) return lastError();
    return {};
}

// Names the library never sends (a leading '.') and the program's own files.
bool sendable(const ProtectedNames& own, const std::string& name) {
    return !name.starts_with('.') && !own.covers(name);
}

// The file's length; 0 when the user gave up a failed look-up.
std::uintmax_t fileLength(Files& files, const std::string& path) {
    std::uintmax_t size = 0;
    files.run(path, [&] {
        std::error_code ec;
        const std::uintmax_t n = std::filesystem::file_size(path, ec);
        if (!ec) size = n;
        return ec;
    });
    return size;
}

}  // namespace

int16_t transmitFile(Run& run, int16_t index) {
    CommInfo& entry = run.records[static_cast<std::size_t>(index)];
    const int16_t htIndex = findHtIndex(run.terminals, htIdText(entry));
    const std::string srcDir = getJobDirectory(run.settings, run.terminals, entry, htIndex);
    const std::string fileType = getTransmitFileType(run.settings, run.terminals, htIndex);
    // A missing source directory ends the program, as a damaged setting would.
    if (!existDir(run.files, srcDir)) {
        if (!run.files.ending()) run.files.report({FailureKind::File, kFileErrPathAccess, srcDir, "", FailureArea::Files});
        return kOutcomeFailed;
    }

    SendSource source = stageTransmitFiles(run, entry, srcDir, fileType);
    if (source.dir.empty()) return run.stopping() ? kOutcomeStop : kOutcomeFailed;
    const TransmitTotals totals = countTransmitFiles(run, entry, source.dir);
    entry.fileCount = totals.count;
    entry.totalSize = totals.total;
    std::string pattern = source.dir;
    appendSeparator(pattern);
    std::vector<char> buf = textBuffer(pattern + "*.*");
    int16_t r = 0;
    {
        JobChecks checks(run.tvk, ProtectedNames(source.dir, run.tempDir, run.settings));
        r = run.tvk.filesend(buf.data(), &entry);
    }
    removeStagedFiles(source);

    if (r == TVK_ESTOPPED || run.stopping()) return kOutcomeStop;
    if (r < 0) return kOutcomeFailed;
    if (entry.transType == TVK_TYPE_APPL && repollAfterInstall(run, index) == kOutcomeStop) return kOutcomeStop;
    return kOutcomeDone;
}

std::string getTransmitFileType(const Settings& settings, const TerminalTable& terminals, int16_t htIndex) {
    if (htIndex >= 0 && static_cast<std::size_t>(htIndex) < terminals.size()) {
        const std::string& own = terminals[static_cast<std::size_t>(htIndex)].fileKind;
        if (!isBlank(own)) return own;
    }
    return settings.fileKind;
}

SendSource stageTransmitFiles(Run& run, const CommInfo& info, const std::string& srcDir, const std::string& fileType) {
    const std::string type = upperName(fileType);
    if (sendsWholeDir(info, type)) return {srcDir, {}};
    // A fresh directory per job: nothing else lying in tempDir is ever sent,
    // and a source that is tempDir itself is never copied onto itself.
    SendSource source{{}, makeJobDir(run.files, run.tempDir, "SEND")};
    if (source.staging.path.empty()) return source;
    std::string from = srcDir;
    appendSeparator(from);
    std::string to = source.staging.path;
    appendSeparator(to);
    const ProtectedNames own(srcDir, run.tempDir, run.settings);
    for (const std::string& name : listFiles(run.files, from)) {
        const std::string upper = upperName(name);
        if (!selected(type, upper) || !sendable(own, name)) continue;
        bool stopped = false;
        const bool copied = run.files.run(from + name, [&] {
            const std::error_code ec = copyOver(from + name, to + upper, run.stop);
            stopped = ec == std::errc::operation_canceled;
            return stopped ? std::error_code{} : ec;
        });
        if (!copied || stopped) {
            removeStagedFiles(source);
            return source;
        }
    }
    source.dir = source.staging.path;
    return source;
}

TransmitTotals countTransmitFiles(Run& run, const CommInfo& info, const std::string& dir) {
    std::string from = dir;
    appendSeparator(from);
    const ProtectedNames own(dir, run.tempDir, run.settings);
    TransmitTotals totals;
    for (const std::string& name : listFiles(run.files, from)) {
        if (!sendable(own, name) || (info.transType == TVK_TYPE_APPL && isMapName(name))) continue;
        totals.count = countOneMore(totals.count);
        totals.total = addBytesSaturated(totals.total, fileLength(run.files, from + name));
    }
    return totals;
}

void removeStagedFiles(SendSource& source) {
    if (source.staging.path.empty()) return;
    removeJobDir(source.staging.parent, source.staging.name);
    source.staging = {};
}

}  // namespace quendril
