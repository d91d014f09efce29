// The settings file reader on any hostpc.ini. It either ends the program
// (through the host, which throws here) or leaves settings the rest of the
// program can use as they are; it never changes the file it read, and what
// it loaded is written back and read again unchanged.
#include "bytesfile.h"
#include "check.h"
#include "declar.h"
#include "hostpcIni.h"
#include "tempdir.h"
#include "testhost.h"

using fuzzline::require;
using namespace quendril;

namespace {

bool inRange(const std::string& text, int low, int high) {
    if (!isWholeNumber(text)) return false;
    const int32_t v = numericValue(text);
    return v >= low && v <= high;
}

bool loaded() {
    try {
        readIni();
        return true;
    } catch (const test::ProgramEnded&) {
        return false;
    }
}

bool sameSettings(const EnvSettingsRecord& a, const EnvSettingsRecord& b) {
    return a.fileTag == b.fileTag && a.ioBoxCount == b.ioBoxCount && a.comPort == b.comPort &&
           a.baudCode == b.baudCode && a.dataLength == b.dataLength && a.parityCode == b.parityCode &&
           a.stopBits == b.stopBits && a.lineParamA == b.lineParamA && a.lineParamB == b.lineParamB &&
           a.lineParamC == b.lineParamC && a.apDir == b.apDir && a.recvDir == b.recvDir && a.sendDir == b.sendDir &&
           a.fileKind == b.fileKind && a.htIdFile == b.htIdFile && a.appendWord == b.appendWord &&
           a.appendMode == b.appendMode;
}

void checkUsable(const EnvSettingsRecord& s) {
    require(s.fileTag == kIniFileTag, "loaded with a wrong tag");
    require(inRange(s.ioBoxCount, 1, 16) && inRange(s.comPort, 0, 1) && inRange(s.baudCode, 0, 7) &&
                inRange(s.dataLength, 7, 8) && inRange(s.parityCode, 0, 2) && inRange(s.stopBits, 1, 2) &&
                inRange(s.lineParamA, 30, 300) && inRange(s.lineParamB, 500, 10000) &&
                inRange(s.lineParamC, 0, 99),
            "a line setting out of its range was kept");
    require(fileKindIndex(s.fileKind) != -1, "an unknown file type was kept");
    require(!s.htIdFile.empty(), "loaded without a terminal ID file");
    // A directory that is not there falls back to the current one.
    for (const std::string* dir : {&s.apDir, &s.recvDir, &s.sendDir})
        require(!dir->empty(), "a directory setting was left empty");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    test::ScopedWorkDir dir;
    test::TestHost host;
    fuzzline::writeBytes(kIniFileName, bytes);
    EnvSettings = {};
    const bool ok = loaded();
    require(fuzzline::readBytes(kIniFileName) == bytes, "reading changed the settings file");
    if (ok) {
        checkUsable(EnvSettings);
        const EnvSettingsRecord first = EnvSettings;
        require(writeIni(), "the loaded settings cannot be stored");
        EnvSettings = {};
        require(loaded(), "stored settings do not load again");
        require(sameSettings(first, EnvSettings), "settings changed on their way through the file");
    }
    return 0;
}
