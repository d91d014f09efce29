// htsim: plays up to 16 I/O boxes with their terminals on one serial line,
// as described by a fleet file, so the line library can be tested without
// hardware.
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "fleet.h"
#include "frame.h"
#include "simbox.h"
#include "termiosport.h"

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

// The serial line shared by the fleet: what arrives goes to every box; what
// the boxes send is written whole. Frames addressed to the fleet are noted
// (and printed when debugging).
class Line {
public:
    Line(tvk::Port& port, const tvk::LineTimers& timers, bool debug)
        : port_(port), timers_(timers), debug_(debug), in_(timers.sevenBits), out_(timers.sevenBits) {}

    // Waits for input until deadline (or a signal) and hands on what came.
    template <class Deliver>
    void read(tvk::Clock::time_point deadline, Deliver&& deliver) {
        const auto left = std::chrono::ceil<tvk::Ms>(deadline - tvk::Clock::now()).count();
        const int r = port_.wait(false, int(std::clamp<long long>(left, 0, 100)));
        if (r < 0) failed_ = true;
        if (r <= 0) return;
        uint8_t buf[4096];
        const long n = port_.readSome(buf, sizeof buf);
        if (n < 0) failed_ = true;
        if (n <= 0) return;
        note(in_, buf, size_t(n), "<");
        deliver(buf, size_t(n));
    }
    void write(const uint8_t* p, size_t n) {
        note(out_, p, n, ">");
        for (size_t done = 0; done < n && !failed_;) {
            const long w = port_.writeSome(p + done, n - done);
            if (w < 0 || (w == 0 && port_.wait(true, 100) < 0)) failed_ = true;
            if (w <= 0) continue;
            idleAt = std::max(idleAt, tvk::Clock::now()) + tvk::lineTime(timers_, size_t(w));
            done += size_t(w);
        }
    }
    bool failed() const { return failed_; }

    std::array<bool, 17> ours{};                            // the fleet's box numbers
    tvk::Clock::time_point lastFrame = tvk::Clock::now();  // the last frame of the PC to one of them
    tvk::Clock::time_point idleAt = tvk::Clock::now();     // when what the boxes wrote has left the line

private:
    void note(tvk::FrameDecoder& decoder, const uint8_t* p, size_t n, const char* dir) {
        frames_.clear();
        decoder.feed(p, n, frames_);
        for (const auto& f : frames_) {
            if (!f.fromBox && f.addr < ours.size() && ours[f.addr]) lastFrame = tvk::Clock::now();
            if (!debug_) continue;
            static const auto t0 = tvk::Clock::now();
            const double ms = std::chrono::duration<double, std::milli>(tvk::Clock::now() - t0).count();
            std::fprintf(stderr, "htsim %10.1f %s %s\n", ms, dir, tvk::describeFrame(f).c_str());
        }
    }

    tvk::Port& port_;
    tvk::LineTimers timers_;
    bool debug_;
    bool failed_ = false;
    tvk::FrameDecoder in_, out_;
    std::vector<tvk::Frame> frames_;
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
    const char* dbg = std::getenv("TVK_DEBUG");
    Line line(port, timers, opt.debug || (dbg && std::strcmp(dbg, "1") == 0));

    std::vector<std::unique_ptr<htsim::SimBox>> boxes;
    for (const auto& d : fleet->boxes) {
        line.ours[size_t(d.box)] = true;
        boxes.push_back(std::make_unique<htsim::SimBox>(d, timers, [&line](const uint8_t* p, size_t n) {
            line.write(p, n);
        }));
    }
    std::printf("htsim: %zu boxes on %s\n", boxes.size(), opt.device.c_str());
    std::fflush(stdout);

    int rc = 0;
    while (!gSignalled && !line.failed()) {
        bool more = false;
        auto wake = tvk::Clock::now() + tvk::Ms(100);
        for (auto& b : boxes) {
            more = b->poll(tvk::Clock::now()) || more;
            wake = std::min(wake, b->nextDue());
        }
        // A window's next frame waits only for what has already arrived, so
        // an abort or a release cuts it short.
        line.read(more ? tvk::Clock::now() : wake, [&](const uint8_t* p, size_t n) {
            for (auto& b : boxes) b->input(p, n, tvk::Clock::now());
        });
        bool allDone = true;
        for (const auto& b : boxes) allDone = allDone && b->terminal().finished() && !b->inJob();
        // The PC's release of the last job still needs an answer: wait until
        // our last answer and a release frame could have crossed the line.
        auto quietFrom = std::max(line.lastFrame, line.idleAt) +
                         tvk::lineTime(timers, 2 * tvk::encodedLength(0, timers.sevenBits));
        if (opt.exitWhenDone && allDone && tvk::Clock::now() - quietFrom > tvk::Ms(500)) break;
    }
    if (line.failed()) {
        std::fprintf(stderr, "htsim: the line failed\n");
        rc = 1;
    }
    // tcdrain() returns at once on a pseudo-terminal: wait the line time.
    std::this_thread::sleep_until(line.idleAt + tvk::Ms(2));
    for (const auto& b : boxes) std::printf("%s\n", b->terminal().summary().c_str());
    std::fflush(stdout);
    return rc;
}
