#include "messages.h"

#include <iostream>

#include "catalogue.h"

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

// Index of the error-line text of a status word: the first bit set, in
// this order, wins. No room for what the terminal announced reads as a write
// error; more data than it announced as a protocol error.
int commResultOf(int16_t word) {
    struct BitText {
        uint16_t bit;
        int index;
    };
    static constexpr BitText kOrder[] = {{0x0001, 1},  {0x0002, 2},  {0x0004, 3},  {0x0008, 12},
                                         {0x0010, 4},  {0x0100, 5},  {0x0400, 6},  {0x0800, 11},
                                         {0x1000, 7},  {0x2000, 9},  {0x4000, 6}};
    const auto bits = static_cast<uint16_t>(word);
    for (const BitText& b : kOrder) {
        if (bits & b.bit) return b.index;
    }
    return 0;
}

}  // namespace

std::string statusText(int16_t word) { return loadResString(800 + commResultOf(word) + langOffset); }

std::string fileErrMessage(int16_t number, const std::string& extra) {
    return hasOwnText(number) ? boxText(kFileErrBase + number, extra) : kGenericError;
}

MessageRule messageRule(const Failure& failure) {
    switch (failure.kind) {
    case FailureKind::App:
        return {boxText(kAppErrBase + failure.code, failure.extra), BoxButtons::Ok, failure.code != kAppErrOpen};
    case FailureKind::File:
        if (offersRetry(failure.code)) return {fileErrMessage(failure.code, failure.extra), BoxButtons::RetryCancel, false};
        return {fileErrMessage(failure.code, failure.extra), BoxButtons::Ok, true};
    case FailureKind::GivenUp:
        break;
    }
    return {"", BoxButtons::Ok, true};
}

int exitStatusOf(const Failure& failure) {
    switch (failure.area) {
    case FailureArea::Settings: return 2;
    case FailureArea::Line: return 3;
    case FailureArea::Files: break;
    }
    return 4;
}

std::string failureLine(const Failure& failure) {
    std::string line = messageRule(failure).text;
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.empty()) line = failure.extra;
    if (!failure.reason.empty()) line += " (" + failure.reason + ")";
    return line;
}

BoxAnswer StderrPrompt::show(const Failure& failure) {
    std::cerr << "QUENDRIL: " << failureLine(failure) << std::endl;
    return messageRule(failure).buttons == BoxButtons::Ok ? kAnswerOk : kAnswerCancel;
}

}  // namespace quendril
