// The settings file reader on any hostpc.ini. It either refuses the file,
// saying why as a settings failure, or loads settings the rest of the program
// can use as they are; it never changes the file it read, and what it loaded
// is written back and read again unchanged.
#include "bytesfile.h"
#include "check.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

using fuzzline::require;
using namespace quendril;

namespace {

bool inRange(const std::string& text, int low, int high) {
    if (!isWholeNumber(text)) return false;
    const int32_t v = numericValue(text);
    return v >= low && v <= high;
}

// A fresh failure state for each read, as every run has.
bool load(Settings& settings) {
    test::TestPrompt prompt;
    Files files(prompt);
    const bool ok = readSettings(files, settings);
    require(ok != files.ending().has_value(), "a refused file gave no reason, or a loaded one ended the program");
    require(ok || files.ending()->area == FailureArea::Settings, "a refused file is no settings failure");
    return ok;
}

void checkUsable(const Settings& s) {
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
    fuzzline::writeBytes(kIniFileName, bytes);
    Settings first;
    const bool ok = load(first);
    require(fuzzline::readBytes(kIniFileName) == bytes, "reading changed the settings file");
    if (!ok) {
        require(first == Settings{}, "a refused file changed the settings");
        return 0;
    }
    checkUsable(first);
    test::TestPrompt prompt;
    Files files(prompt);
    require(writeSettings(files, first), "the loaded settings cannot be stored");
    Settings again;
    require(load(again), "stored settings do not load again");
    require(again == first, "settings changed on their way through the file");
    return 0;
}
