// The terminal ID file reader on any file. It never ends the program, shows
// no box or changes the file, replaces what the table held, keeps at most
// the table's slots, and every terminal it keeps has an ID and a
// three-character file type.
#include "bytesfile.h"
#include "check.h"
#include "settings.h"
#include "tempdir.h"
#include "testprompt.h"

using fuzzline::require;
using namespace quendril;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    test::ScopedWorkDir dir;
    test::TestPrompt prompt;
    Files files(prompt);
    Settings settings;
    settings.htIdFile = "ids.inf";
    fuzzline::writeBytes(settings.htIdFile, bytes);
    // Entries without an ID: one left over breaks the rule below.
    TerminalTable terminals(3);
    require(readIdFile(files, settings, terminals), "a terminal ID file ended the program");
    require(!files.ending() && prompt.shown.empty(), "a box was shown for a readable file");
    require(fuzzline::readBytes(settings.htIdFile) == bytes, "reading changed the terminal ID file");
    require(terminals.size() <= kHtIdSlots, "more terminals than the table's slots");
    for (const Terminal& t : terminals) {
        require(!t.htId.empty(), "a terminal has no ID");
        require(t.fileKind.size() == 3, "a file type is not three characters");
    }
    return 0;
}
