// The program's file work in a process of its own, for the kill tests:
//   fault_worker STARTED     writes hostpc.ini in the current directory again
//                            and again, alternating between two contents, from
//                            making the file STARTED until it is killed
//   fault_worker --once A|B  writes that content once from the defaults
//   fault_worker --resume TEMPDIR STARTED
//                            finishes the append jobs left in TEMPDIR, as a start
//                            of the program does, after making the file STARTED
// A kill aimed after STARTED falls past start-up, among the writes.
#include <cstring>
#include <fstream>
#include <string>

#include "appendjob.h"
#include "settings.h"
#include "testprompt.h"

int main(int argc, char** argv) {
    quendril::test::TestPrompt prompt;
    quendril::Files files(prompt);
    quendril::Settings settings = quendril::defaultSettings();
    // Long and different in length, so a torn write would show.
    const auto write = [&](bool first) {
        settings.recvDir = first ? std::string(3000, 'a') : std::string(100, 'b');
        settings.sendDir = first ? "SENDA" : std::string(5000, 'c');
        return quendril::writeSettings(files, settings);
    };
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0) return write(argv[2][0] == 'A') ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "--resume") == 0) {
        std::ofstream{argv[3]};
        bool all = true;
        for (const quendril::PendingJob& job : quendril::resumePendingAppends(argv[2])) all = all && job.appended;
        return all ? 0 : 1;
    }
    // Starts from the file on disk, so every write is one of the two contents.
    quendril::readSettings(files, settings);
    std::ofstream{argv[1]};
    for (bool first = false;; first = !first) write(first);
}
