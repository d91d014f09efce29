// lineemu: two pseudo-terminals joined by an emulated serial line.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "lineconfig.h"
#include "ptypair.h"
#include "relay.h"

using namespace quendril::lineemu;

namespace {

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    char c = 1;
    // Nothing to do if the pipe is full: a stop is already pending.
    [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &c, 1);
}

void installStopHandlers() {
    if (::pipe(stopPipe) != 0) throw std::runtime_error("pipe failed");
    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void announceReady(const Config& cfg, const PtyEnd& a, const PtyEnd& b) {
    if (cfg.readyFile.empty()) {
        std::cout << "ready" << std::endl;
        return;
    }
    std::string text = "a=" + a.slavePath() + "\nb=" + b.slavePath() + "\n";
    if (!writeFileAtomically(cfg.readyFile, text))
        throw std::runtime_error("cannot write ready file " + cfg.readyFile);
}

int runEmulator(const Config& cfg) {
    installStopHandlers();
    PtyEnd a;
    PtyEnd b;
    a.publish(cfg.linkA);
    b.publish(cfg.linkB);
    Relay relay(cfg, a.master(), b.master());
    announceReady(cfg, a, b);
    relay.run(stopPipe[0], cfg.exitWithParent);
    std::string counters = formatCounters(relay.ab(), relay.ba());
    std::cerr << counters;
    if (!cfg.statsFile.empty() && !writeFileAtomically(cfg.statsFile, counters)) {
        std::cerr << "lineemu: cannot write " << cfg.statsFile << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ParseResult parsed = parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.config.help) {
        std::cout << usageText();
        return 0;
    }
    if (!parsed.error.empty()) {
        std::cerr << "lineemu: " << parsed.error << "\n\n" << usageText();
        return 2;
    }
    try {
        return runEmulator(parsed.config);
    } catch (const std::exception& e) {
        std::cerr << "lineemu: " << e.what() << '\n';
        return 1;
    }
}
