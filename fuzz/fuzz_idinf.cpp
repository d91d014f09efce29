// The terminal ID file reader on any file. It never ends the program or
// changes the file, fills at most the table's slots, and every slot it
// counts has an ID and a three-character file type.
#include "bytesfile.h"
#include "check.h"
#include "declar.h"
#include "hostpcIni.h"
#include "tempdir.h"
#include "testhost.h"

using fuzzline::require;
using namespace quendril;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    test::ScopedWorkDir dir;
    test::TestHost host;
    EnvSettings.htIdFile = "ids.inf";
    fuzzline::writeBytes(EnvSettings.htIdFile, bytes);
    for (HtIdEntry& e : HtIdTable) e = {"stale", "stale", "stale", "stale"};
    htIdCount = -1;
    try {
        readIdInf();
    } catch (const test::ProgramEnded&) {
        require(false, "a terminal ID file ended the program");
    }
    require(host.shown.empty(), "a box was shown for a readable file");
    require(fuzzline::readBytes(EnvSettings.htIdFile) == bytes, "reading changed the terminal ID file");
    require(htIdCount >= 0 && htIdCount <= kHtIdSlots, "terminal count outside the table");
    for (int i = 0; i < htIdCount; ++i) {
        require(!HtIdTable[i].htId.empty(), "a counted slot has no ID");
        require(HtIdTable[i].fileKind.size() == 3, "a file type is not three characters");
    }
    for (int i = htIdCount; i < kHtIdSlots; ++i)
        require(HtIdTable[i].recvDir != "stale", "a slot beyond the count kept an old entry");
    return 0;
}
