// One Execute run: opening the line, polling passes, the jobs, closing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tvktable.h"
#include "commint.h"

namespace quendril {

// One record per terminal connected in the current pass; the index is the
// terminal's cell in the terminal table.
extern std::vector<CommInfo> commInfoList;

// How a run ended: the exit status of an unattended run.
enum class RunEnd : int {
    AllDone = 0,     // every job done (or the run was stopped)
    JobFailed = 1,   // some job failed
    LineFailed = 3,  // the line could not be opened, or was lost
};

// Run driver
RunEnd commExecute();
int16_t commOpen();
OpenParam makeOpenParam();
void commClose();

// Polling. A poll or a record reading that fails ends with kOutcomeFailed
// (the line is gone or the library cannot go on).
int16_t pollTerminals(int16_t& count);
int16_t repollAfterInstall(int16_t index);
// Clock of the re-poll window after an AP install: monotonic, so a change of
// the time of day never stretches or skips the window. nullptr installs
// std::chrono::steady_clock; tests install a clock they move themselves.
using MonotonicNow = std::chrono::steady_clock::time_point (*)();
void setRepollClock(MonotonicNow now);

// Receive
int16_t findHtIndex(const std::string& id);
std::string getJobDirectory(const CommInfo& info, int16_t htIndex);
// In append mode the job receives into a fresh directory inside tempDir
// (appendjob.h): once the terminal has been told its files arrived they are
// appended; until then they are discarded when the job fails, as the
// terminal keeps them and sends them again.
int16_t receiveFile(int16_t index);

// Transmit and AP install
// Totals of the files to send; both stop at their field's largest value.
struct TransmitTotals {
    int16_t count = 0;
    int32_t total = 0;
};
int16_t transmitFile(int16_t index);
std::string getTransmitFileType(int16_t htIndex);
// Where a send job's files come from: srcDir itself for "ALL" and an AP
// install, otherwise a fresh staging directory inside tempDir holding
// upper-cased copies of the selected files. Names beginning with '.' and the
// program's own files are never selected. dir is "" when the user gave up a
// failed copy.
struct SendSource {
    std::string dir;
    JobDir staging;  // its path is "" when the source itself is sent
};
SendSource stageTransmitFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType);
// The files of dir that a send job carries (the library sends the same).
TransmitTotals countTransmitFiles(const CommInfo& info, const std::string& dir);
// Deletes the staging directory and its copies; nothing when the source
// itself was sent.
void removeStagedFiles(SendSource& source);

}  // namespace quendril
