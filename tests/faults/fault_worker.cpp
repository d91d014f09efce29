// The program's file work in a process of its own, for the kill tests:
//   fault_worker            writes hostpc.ini in the current directory again
//                           and again, alternating between two contents,
//                           until it is killed
//   fault_worker --once A|B writes that content once from the defaults
//   fault_worker --resume TEMPDIR STARTED
//                           finishes the append jobs left in TEMPDIR, as a
//                           start of the program does, between making the
//                           files STARTED and STARTED.done (so a kill can aim
//                           past start-up and before exit)
#include <cstring>
#include <fstream>
#include <string>

#include "appendjob.h"
#include "settings.h"
#include "testprompt.h"

namespace {

// Long and different in length, so a torn write would show.
void setContent(quendril::Settings& settings, bool first) {
    settings.recvDir = first ? std::string(3000, 'a') : std::string(100, 'b');
    settings.sendDir = first ? "SENDA" : std::string(5000, 'c');
}

}  // namespace

int main(int argc, char** argv) {
    quendril::test::TestPrompt prompt;
    quendril::Files files(prompt);
    quendril::Settings settings = quendril::defaultSettings();
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
        setContent(settings, argv[2][0] == 'A');
        return quendril::writeSettings(files, settings) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--resume") == 0) {
        std::ofstream{argv[3]};
        bool all = true;
        for (const quendril::PendingJob& job : quendril::resumePendingAppends(argv[2])) all = all && job.appended;
        std::ofstream{std::string(argv[3]) + ".done"};
        return all ? 0 : 1;
    }
    // Starts from the file on disk, so every write is one of the two contents.
    quendril::readSettings(files, settings);
    for (bool first = false;; first = !first) {
        setContent(settings, first);
        quendril::writeSettings(files, settings);
    }
}
