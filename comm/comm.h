// One Execute run: opening the line, polling passes, the jobs, closing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Module1.h"

namespace quendril {

// One record per terminal connected in the current pass; the index is the
// terminal's cell in the terminal table.
extern std::vector<CommInfo> commInfoList;

// Run driver
void commExecute();
int16_t commOpen();
OpenParam makeOpenParam();
void commClose();

// Polling
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
// In append mode the job receives into a fresh directory inside tempDir, and
// only what it received there is appended; leftovers of a failed or stopped
// job stay in their own directory.
int16_t receiveFile(int16_t index);
// Appends every file of srcDir to its namesake (any letter case, else the
// upper-cased name) in destDir and deletes it once all its bytes are written.
// A failed write is reported, undone in the destination, and the source kept.
void appendReceivedFiles(std::string destDir, std::string srcDir);

// Transmit and AP install
// Totals of the files to send; both stop at their field's largest value.
struct TransmitTotals {
    int16_t count = 0;
    int32_t total = 0;
};
int16_t transmitFile(int16_t index);
std::string getTransmitFileType(int16_t htIndex);
// The directory to send from: srcDir itself for "ALL" and an AP install,
// otherwise a fresh staging directory inside tempDir holding upper-cased
// copies of the selected files. "" when the user gave up a failed copy.
std::string stageTransmitFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType);
TransmitTotals countTransmitFiles(const CommInfo& info, const std::string& dir);
// Deletes the staging directory stageTransmitFiles made and its copies;
// nothing for "ALL" and an AP install, which sent from the source itself.
void removeStagedFiles(const CommInfo& info, const std::string& stagedDir, const std::string& fileType);

}  // namespace quendril
