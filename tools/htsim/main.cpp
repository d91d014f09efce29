// htsim: plays up to 16 I/O boxes with their terminals on one serial line,
// as described by a fleet file, so the line library can be tested without
// hardware.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "fleet.h"
#include "simterminal.h"

namespace {

volatile std::sig_atomic_t gSignalled = 0;

void onSignal(int) { gSignalled = 1; }

const char* const kUsage =
    "usage: htsim --device PATH --fleet FILE [--speed BPS] [--seven-bits] [--parity none|odd|even]\n"
    "             [--stop-bits 1|2] [--a MS] [--b MS] [--c N] [--exit-when-done] [--debug]\n"
    "Opens the serial device PATH (a pseudo-terminal of lineemu or a real port) and answers\n"
    "the PC as the I/O boxes of FILE. SIGTERM or SIGINT ends it; the per-terminal counters\n"
    "are printed on standard output.\n\n";

struct Options {
    std::string device, fleetFile;
    std::string speed, parity, stopBits, a, b, c;
    bool sevenBits = false, exitWhenDone = false, debug = false;
};

class SignalHooks final : public tvk::Hooks {
public:
    bool stopping() override { return gSignalled != 0; }
};

bool parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string k = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        bool ok = true;
        if (k == "--device") ok = value(o.device);
        else if (k == "--fleet") ok = value(o.fleetFile);
        else if (k == "--speed") ok = value(o.speed);
        else if (k == "--parity") ok = value(o.parity);
        else if (k == "--stop-bits") ok = value(o.stopBits);
        else if (k == "--a") ok = value(o.a);
        else if (k == "--b") ok = value(o.b);
        else if (k == "--c") ok = value(o.c);
        else if (k == "--seven-bits") o.sevenBits = true;
        else if (k == "--exit-when-done") o.exitWhenDone = true;
        else if (k == "--debug") o.debug = true;
        else ok = false;
        if (!ok) return false;
    }
    return !o.device.empty() && !o.fleetFile.empty();
}

// Command-line settings go through the fleet parser as one more "line" directive.
std::string commandLineDirective(const Options& o) {
    std::string d = "line";
    if (!o.speed.empty()) d += " baud=" + o.speed;
    if (o.sevenBits) d += " data=7";
    if (!o.parity.empty()) d += " parity=" + o.parity;
    if (!o.stopBits.empty()) d += " stop=" + o.stopBits;
    if (!o.a.empty()) d += " a=" + o.a;
    if (!o.b.empty()) d += " b=" + o.b;
    if (!o.c.empty()) d += " c=" + o.c;
    return d + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s%s\n", kUsage, htsim::kFleetHelp);
        return 0;
    }
    if (!parseArgs(argc, argv, opt)) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    std::ifstream in(opt.fleetFile, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "htsim: cannot read %s\n", opt.fleetFile.c_str());
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf() << "\n" << commandLineDirective(opt);
    std::string error;
    auto fleet = htsim::parseFleet(text.str(), error);
    if (!fleet) {
        std::fprintf(stderr, "htsim: %s: %s\n", opt.fleetFile.c_str(), error.c_str());
        return 2;
    }
    const unsigned lineRate = fleet->serial.bitsPerSecond;
    if (!tvk::TermiosPort::speedSupported(lineRate)) {
        // Only an emulated line runs at such a rate: the timers follow it.
        std::fprintf(stderr, "htsim: %u bit/s is no device rate; the device is set to 115200\n", lineRate);
        fleet->serial.bitsPerSecond = 115200;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    tvk::TermiosPort port;
    if (int r = port.open(opt.device, fleet->serial); r != 0) {
        std::fprintf(stderr, "htsim: cannot open %s (%s)\n", opt.device.c_str(), r == -5 ? "no such device" : "busy");
        return 2;
    }
    tvk::LineTimers timers = fleet->timers;
    timers.bitsPerSecond = lineRate;
    timers.sevenBits = fleet->serial.sevenBits;
    timers.bitsPerChar = unsigned(1 + (timers.sevenBits ? 7 : 8) + (fleet->serial.parity ? 1 : 0) + fleet->serial.stopBits);
    tvk::Link link(port, timers);
    link.setBoxSide(true);
    SignalHooks hooks;
    link.setHooks(&hooks);
    const char* dbg = std::getenv("TVK_DEBUG");
    link.setDebug(opt.debug || (dbg && std::strcmp(dbg, "1") == 0), "htsim");

    std::vector<std::unique_ptr<htsim::SimTerminal>> terminals;
    std::vector<std::unique_ptr<tvk::BoxStation>> stations(17);
    std::vector<int> delayOf(17, 0);
    for (const auto& d : fleet->boxes) {
        delayOf[size_t(d.box)] = d.delayMs;
        terminals.push_back(std::make_unique<htsim::SimTerminal>(d));
        stations[size_t(d.box)] = std::make_unique<tvk::BoxStation>(uint8_t(d.box), *terminals.back());
        if (d.versionOne) stations[size_t(d.box)]->speakVersionOne();
    }
    std::printf("htsim: %zu boxes on %s\n", terminals.size(), opt.device.c_str());
    std::fflush(stdout);

    int rc = 0;
    auto lastFrame = tvk::Clock::now();
    // A slow terminal's frames wait here until their answer is due, while
    // the other boxes keep answering on time.
    std::multimap<tvk::Clock::time_point, tvk::Frame> delayed;
    while (!gSignalled) {
        auto wake = tvk::Clock::now() + tvk::Ms(100);
        if (!delayed.empty()) wake = std::min(wake, delayed.begin()->first);
        tvk::Frame f;
        tvk::Got g = link.receive(f, wake);
        if (g == tvk::Got::Fatal) {
            std::fprintf(stderr, "htsim: the line failed\n");
            rc = 1;
            break;
        }
        if (g == tvk::Got::Frame && f.addr >= 1 && f.addr <= 16 && stations[f.addr]) {
            lastFrame = tvk::Clock::now();
            int delay = delayOf[f.addr];
            if (delay > 0) delayed.emplace(lastFrame + tvk::Ms(delay), std::move(f));
            else stations[f.addr]->handle(link, f);
        }
        while (!delayed.empty() && delayed.begin()->first <= tvk::Clock::now()) {
            tvk::Frame d = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            stations[d.addr]->handle(link, d);
        }
        bool allDone = true;
        for (size_t i = 0; i < terminals.size(); ++i) {
            stations[size_t(terminals[i]->desc().box)]->checkWatchdog(link);
            allDone = allDone && terminals[i]->finished() && !stations[size_t(terminals[i]->desc().box)]->inJob();
        }
        // The PC's release of the last job still needs an answer: wait until
        // our last answer and a release frame could have crossed the line.
        auto quietFrom =
            std::max(lastFrame, link.lineIdleAt()) + link.lineTime(2 * tvk::encodedLength(0, timers.sevenBits));
        if (opt.exitWhenDone && allDone && tvk::Clock::now() - quietFrom > tvk::Ms(500)) break;
    }
    link.drain();
    for (const auto& t : terminals) std::printf("%s\n", t->summary().c_str());
    std::fflush(stdout);
    return rc;
}
