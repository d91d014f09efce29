// The rules of the message catalogue in one place: which failure shows which
// text with which buttons, and which ends the program. Both faces (the window
// and an unattended run) consult them.
#pragma once

#include <cstdint>
#include <string>

#include "failure.h"

namespace quendril {

// Codes of the program's own errors; text id 1700 + code.
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

struct MessageRule {
    std::string text;  // "" for a failure that shows no box (GivenUp)
    BoxButtons buttons = BoxButtons::Ok;
    // Whether the program ends once the box is answered OK. A Retry/Cancel
    // box never ends it: Cancel gives up the one operation.
    bool endsProgram = false;
};

// App errors: text 1700 + code, a CR and the extra text, OK only; all but
// the open error end the program. File failures: text 1900 + number, a CR
// and the extra text; 57, 68 and 71 offer Retry/Cancel, the other catalogued
// numbers are OK only and end the program; any other number, and 59, 62 and
// 63 which have no text, shows the generic "ERROR!!!" box without the extra
// text.
MessageRule messageRule(const Failure& failure);

// The whole text a file failure's box shows.
std::string fileErrMessage(int16_t number, const std::string& extra);

// The exit status of an unattended run that a failure ended: 2 settings or
// ID file, 3 the line, 4 a local file.
int exitStatusOf(const Failure& failure);

// The error-line text of a library status word (its first bit set, in the
// window's order, wins; 0 and bits without a text read "Done").
std::string statusText(int16_t word);

// One line for standard error and the log: the box text on one line, and
// the system's reason when there is one.
std::string failureLine(const Failure& failure);


}  // namespace quendril
