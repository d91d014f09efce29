// Writes hostpc.ini in the current directory again and again, alternating
// between two contents, until it is killed; with "--once A|B" it writes that
// content once from the defaults. The kill tests use it to stop writeIni at
// random moments.
#include <cstring>
#include <string>

#include "declar.h"
#include "hostpcIni.h"

namespace {

// Long and different in length, so a torn write would show.
void setContent(bool first) {
    quendril::EnvSettings.recvDir = first ? std::string(3000, 'a') : std::string(100, 'b');
    quendril::EnvSettings.sendDir = first ? "SENDA" : std::string(5000, 'c');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
        quendril::makeDefaultIni();
        setContent(argv[2][0] == 'A');
        return quendril::writeIni() ? 0 : 1;
    }
    // Starts from the file on disk, so every write is one of the two contents.
    quendril::readIni();
    for (bool first = false;; first = !first) {
        setContent(first);
        quendril::writeIni();
    }
}
