// The two error boxes of the program: its own error codes and file-system
// failures. Both reach the screen through the Host seam (host.h).
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

// Codes of dispAppErr; text id 1700 + code.
enum AppErrCode : int16_t {
    kAppErrNoSettingsFile = 0,
    kAppErrNoIdFile = 1,
    kAppErrSettingsFile = 2,
    kAppErrOpen = 3,
    kAppErrUnknown = 4,
};

// The program's numbering of file-system failures; text id 1900 + number.
enum FileErrNumber : int16_t {
    kFileErrBadName = 52,
    kFileErrNotFound = 53,
    kFileErrBadMode = 54,
    kFileErrAlreadyOpen = 55,
    kFileErrDeviceIo = 57,
    kFileErrExists = 58,
    kFileErrRecordLength = 59,
    kFileErrDiskFull = 61,
    kFileErrPastEnd = 62,
    kFileErrRecordNumber = 63,
    kFileErrTooManyFiles = 67,
    kFileErrDeviceUnavailable = 68,
    kFileErrPermission = 70,
    kFileErrNotReady = 71,
    kFileErrRenameAcrossDevices = 74,
    kFileErrPathAccess = 75,
    kFileErrPathNotFound = 76,
};

// Shows text 1700 + code, a CR and extra, OK only. Always returns 1.
int16_t dispAppErr(int16_t code, const std::string& extra);

// Shows text 1900 + number, a CR and extra. 57, 68 and 71 offer Retry/Cancel
// and return kAnswerRetry (0) or kAnswerCancel (2); the other catalogued
// numbers are OK only and return kAnswerOk (1). Any other number, and 59, 62
// and 63 which have no text, shows the generic "ERROR!!!" box without the
// extra text and returns 1.
int16_t dispFileErr(int16_t number, const std::string& extra);

// The whole message dispFileErr shows for number (for tests and callers
// that need to know what the user saw).
std::string fileErrMessage(int16_t number, const std::string& extra);

}  // namespace quendril
