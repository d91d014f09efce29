#include "host.h"

#include <cstdlib>
#include <iostream>

namespace quendril {

namespace {

// Used until the program installs its windows' host: without a screen,
// boxes go to stderr and nothing is retried.
class ConsoleHost : public Host {
public:
    int16_t messageBox(const std::string& text, BoxButtons buttons) override {
        std::cerr << "QUENDRIL: " << text << '\n';
        return buttons == BoxButtons::Ok ? kAnswerOk : kAnswerCancel;
    }
    [[noreturn]] void endProgram(int exitCode) override { std::exit(exitCode); }
};

Host*& installedHost() {
    static Host* h = nullptr;
    return h;
}

}  // namespace

void setHost(Host* h) { installedHost() = h; }

Host& host() {
    static ConsoleHost console;
    Host* h = installedHost();
    return h ? *h : console;
}

void endProgram(int exitCode) {
    host().endProgram(exitCode);
    // A host whose endProgram returns breaks its contract; never run on.
    std::abort();
}

}  // namespace quendril
