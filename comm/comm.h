// One Execute run: opening the line, polling passes, the jobs, closing.
#pragma once

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

// Receive
int16_t findHtIndex(const std::string& id);
std::string getJobDirectory(const CommInfo& info, int16_t htIndex);
int16_t receiveFile(int16_t index);
void appendReceivedFiles(std::string destDir, std::string srcDir);

// Transmit and AP install
struct TransmitTotals {
    int16_t count = 0;
    int32_t total = 0;
};
int16_t transmitFile(int16_t index);
std::string getTransmitFileType(int16_t htIndex);
std::string stageTransmitFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType);
TransmitTotals countTransmitFiles(const CommInfo& info, const std::string& dir);
void removeStagedFiles(const CommInfo& info, const std::string& srcDir, const std::string& fileType);

}  // namespace quendril
