// Small helpers shared by the procedures of the Execute run.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dirfiles.h"
#include "filehelpers.h"
#include "settings.h"
#include "tvktable.h"

namespace quendril {

// Kind of job a terminal asks for; index of the job type texts.
enum JobKind : int16_t { kJobApInstall = 0, kJobReceive = 1, kJobTransmit = 2 };
// Result of the polling and job procedures.
enum JobOutcome : int16_t { kOutcomeDone = 0, kOutcomeFailed = 1, kOutcomeStop = 2 };
// State of a connected terminal in the terminal table.
enum HtState : int16_t { kHtWaiting = 0, kHtDone = 1, kHtErrorEnd = 2 };

// Cells of the main window's terminal table; terminals beyond them are served
// but not drawn.
inline constexpr int16_t kTableCells = 16;

// The record's ID as text: six bytes, or fewer when the library pads with NULs.
inline std::string htIdText(const CommInfo& info) {
    const void* nul = std::memchr(info.htId, '\0', sizeof info.htId);
    const std::size_t len = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - info.htId)
                                : sizeof info.htId;
    return std::string(info.htId, len);
}

// The library takes texts as writable NUL-terminated copies.
inline std::vector<char> textBuffer(const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    return buf;
}

// Totals stop at their field's largest value instead of wrapping negative.
inline int16_t countOneMore(int16_t count) {
    return count < std::numeric_limits<int16_t>::max() ? static_cast<int16_t>(count + 1) : count;
}
inline int32_t addBytesSaturated(int32_t total, std::uintmax_t bytes) {
    const auto room = static_cast<std::uintmax_t>(std::numeric_limits<int32_t>::max() - total);
    return bytes >= room ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(total + static_cast<int32_t>(bytes));
}

// Number of I/O boxes every poll call names.
inline int32_t ioBoxCount(const Settings& settings) { return numericValue(settings.ioBoxCount); }

// Names compare without regard to case; only ASCII letters change, other
// bytes of the code page stay as they are.
std::string upperName(std::string name);

// Names of the normal files in dir (ending in the separator), as listed.
std::vector<std::string> listFiles(Files& files, const std::string& dir);

// A directory of one job's files inside tempDir, locked while the job
// holds it so that no other start takes it for a leftover.
struct JobDir {
    std::string path;  // "" when it could not be made
    std::string name;  // the last part of path
    Directory handle;
    Directory parent;  // tempDir, where its companions and its entry live
};

// A new, empty job directory in tempDir named prefix and a number; its path
// is "" when creating it failed and the user gave up. No file beside it in tempDir
// starts with its name, so no leftover of an earlier job can pass for its.
JobDir makeJobDir(Files& files, const std::string& tempDir, const std::string& prefix);

// Whether name is one the program gives its job directories and their
// companion files in tempDir ("RECV" or "SEND", a digit, anything).
bool isJobDirName(const std::string& name);

// Removes the files of dir (literally, one by one) and dir itself.
void removeJobDir(const Directory& parent, const std::string& name);

}  // namespace quendril
