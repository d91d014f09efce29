// The settings readers on any file; neither changes the file it read. The
// settings file is refused as a settings failure or loads usable settings,
// which are written back and read again unchanged. Built as fuzz_idinf, the
// terminal ID file: it never ends the program or shows a box, and keeps at
// most the table's slots, each with an ID and a three-character file type.
#include "check.h"
#include "filebytes.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

using fuzzline::require;
using namespace quendril;
namespace {
bool inRange(const std::string& text, int low, int high) {
    return isWholeNumber(text) && numericValue(text) >= low && numericValue(text) <= high;
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

void checkSettingsFile(const std::string& bytes) {
    Settings first;
    const bool ok = load(first);
    require(test::readBytes(kIniFileName) == bytes, "reading changed the settings file");
    if (!ok) return require(first == Settings{}, "a refused file changed the settings");
    const Settings& s = first;
    require(s.fileTag == kIniFileTag, "loaded with a wrong tag");
    require(inRange(s.ioBoxCount, 1, 16) && inRange(s.comPort, 0, 1) && inRange(s.baudCode, 0, 7) &&
                inRange(s.dataLength, 7, 8) && inRange(s.parityCode, 0, 2) && inRange(s.stopBits, 1, 2) &&
                inRange(s.lineParamA, 30, 300) && inRange(s.lineParamB, 500, 10000) &&
                inRange(s.lineParamC, 0, 99),
            "a line setting out of its range was kept");
    require(fileKindIndex(s.fileKind) != -1, "an unknown file type was kept");
    require(!s.htIdFile.empty(), "loaded without a terminal ID file");
    for (const std::string* dir : {&s.apDir, &s.recvDir, &s.sendDir})
        require(!dir->empty(), "a directory setting was left empty");
    test::TestPrompt prompt;
    Files files(prompt);
    require(writeSettings(files, first), "the loaded settings cannot be stored");
    Settings again;
    require(load(again), "stored settings do not load again");
    require(again == first, "settings changed on their way through the file");
}

void checkIdFile(const std::string& bytes) {
    test::TestPrompt prompt;
    Files files(prompt);
    Settings settings;
    settings.htIdFile = "ids.inf";
    // Entries without an ID: one left over breaks the rule below.
    TerminalTable terminals(3);
    require(readIdFile(files, settings, terminals), "a terminal ID file ended the program");
    require(!files.ending() && prompt.shown.empty(), "a box was shown for a readable file");
    require(test::readBytes(settings.htIdFile) == bytes, "reading changed the terminal ID file");
    require(terminals.size() <= kHtIdSlots, "more terminals than the table's slots");
    for (const Terminal& t : terminals)
        require(!t.htId.empty() && t.fileKind.size() == 3, "a terminal has no ID or a file type not of three characters");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    test::ScopedWorkDir dir;
    test::writeBytes(QUENDRIL_ID_FILE ? "ids.inf" : kIniFileName, bytes);
    QUENDRIL_ID_FILE ? checkIdFile(bytes) : checkSettingsFile(bytes);
    return 0;
}
