#include "messages.h"

#include "catalogue.h"
#include "host.h"

namespace quendril {

namespace {

constexpr int kAppErrBase = 700;
constexpr int kFileErrBase = 900;
constexpr const char* kGenericError = "ERROR!!!";

std::string boxText(int id, const std::string& extra) {
    return loadResString(id + langOffset) + '\r' + extra;
}

bool offersRetry(int16_t number) {
    return number == kFileErrDeviceIo || number == kFileErrDeviceUnavailable ||
           number == kFileErrNotReady;
}

// Numbers with a catalogue text; 59, 62 and 63 have none and get the generic box.
bool hasOwnText(int16_t number) {
    switch (number) {
    case kFileErrBadName: case kFileErrNotFound: case kFileErrBadMode:
    case kFileErrAlreadyOpen: case kFileErrDeviceIo: case kFileErrExists:
    case kFileErrDiskFull: case kFileErrTooManyFiles: case kFileErrDeviceUnavailable:
    case kFileErrPermission: case kFileErrNotReady: case kFileErrPathAccess:
    case kFileErrPathNotFound:
        return true;
    default:
        return false;
    }
}

}  // namespace

int16_t dispAppErr(int16_t code, const std::string& extra) {
    host().messageBox(boxText(kAppErrBase + code, extra), BoxButtons::Ok);
    return kAnswerOk;
}

std::string fileErrMessage(int16_t number, const std::string& extra) {
    return hasOwnText(number) ? boxText(kFileErrBase + number, extra) : kGenericError;
}

int16_t dispFileErr(int16_t number, const std::string& extra) {
    const std::string text = fileErrMessage(number, extra);
    if (!offersRetry(number)) {
        host().messageBox(text, BoxButtons::Ok);
        return kAnswerOk;
    }
    // Closing the box counts as Cancel.
    return host().messageBox(text, BoxButtons::RetryCancel) == kAnswerRetry ? kAnswerRetry
                                                                            : kAnswerCancel;
}

}  // namespace quendril
