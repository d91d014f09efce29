// Times the established serial file-transfer programs (lrzsz's ZMODEM, YMODEM,
// XMODEM-1K and C-Kermit) over lineemu, sender on side a, receiver on side b.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "benchcases.h"

namespace fs = std::filesystem;
using namespace quendril::bench;
using quendril::test::ChildProcess;
using quendril::test::LineRig;
using namespace std::chrono_literals;

namespace {

// What a peer's command line needs to know.
struct Session {
    std::string device;               // side the program talks to
    const BenchCase* benchCase;
    std::vector<std::string> files;   // names in the send directory
};

struct Peer {
    std::string name;
    std::function<std::optional<std::string>(const BenchCase&)> unsupported;
    std::function<std::vector<std::string>(const Session&)> sender;
    std::function<std::vector<std::string>(const Session&)> receiver;
    bool talksOnStdio = true;  // else the device is named on the command line
    bool padsLastBlock = false;
};

std::vector<std::string> withFiles(std::vector<std::string> argv, const Session& s) {
    argv.insert(argv.end(), s.files.begin(), s.files.end());
    return argv;
}

std::optional<std::string> needsEightBits(const BenchCase& c) {
    if (c.line.dataBits < 8) return "needs an 8-bit path (no 7-bit mode)";
    return std::nullopt;
}

std::string kermitScript(const Session& s, const std::string& action) {
    const auto& line = s.benchCase->line;
    std::ostringstream cmd;
    // 30-packet window and 4000-byte packets; even parity turns on 8th-bit
    // prefixing. A clean 8-bit line carries control characters as they are,
    // Kermit's fastest setting; where the line flips bits they stay quoted, as
    // unprefixed Kermit delivered a corrupt file at a bit-error rate of 1e-5.
    cmd << "set line " << s.device << ", set speed " << line.baud
        << ", set carrier-watch off, set flow none, set parity " << line.parity
        << ", set window 30, set receive packet-length 4000, set file type binary"
        << (line.dataBits == 8 && line.bitErrorRate == 0 ? ", set control unprefixed all" : "")
        << ", set file collision overwrite, " << action << ", exit";
    return cmd.str();
}

std::vector<Peer> allPeers() {
    return {
        {"zmodem", needsEightBits,
         [](const Session& s) { return withFiles({"sz", "-b", "-q"}, s); },
         [](const Session&) { return std::vector<std::string>{"rz", "-b", "-y", "-q"}; }},
        {"ymodem", needsEightBits,
         [](const Session& s) { return withFiles({"sb", "-k", "-q"}, s); },
         [](const Session&) { return std::vector<std::string>{"rb", "-b", "-y", "-q"}; }},
        {"xmodem1k",
         [](const BenchCase& c) -> std::optional<std::string> {
             if (c.fileCount > 1) return "one file per session, no batch";
             return needsEightBits(c);
         },
         [](const Session& s) { return withFiles({"sx", "-k", "-q"}, s); },
         [](const Session& s) { return withFiles({"rx", "-b", "-c", "-q"}, s); }, true, true},
        {"kermit", [](const BenchCase&) { return std::optional<std::string>(); },
         [](const Session& s) {
             return std::vector<std::string>{"kermit", "-Y", "-C", kermitScript(s, "send f*.bin")};
         },
         [](const Session& s) {
             return std::vector<std::string>{"kermit", "-Y", "-C", kermitScript(s, "receive")};
         },
         false},
    };
}

std::vector<std::string> inDir(const fs::path& dir, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/env", "-C", dir.string()});
    return argv;
}

ChildProcess::Redirect redirectFor(const Peer& peer, const std::string& device, const fs::path& log) {
    if (peer.talksOnStdio) return {device, device, log.string()};
    return {"/dev/null", log.string(), log.string()};
}

std::string checkArrival(const fs::path& sendDir, const fs::path& recvDir, const Session& s,
                         bool allowPadding, std::string& note) {
    bool padded = false;
    for (const auto& f : s.files) {
        switch (compareFile(sendDir / f, recvDir / f, allowPadding)) {
            case Arrival::Intact: break;
            case Arrival::Padded: padded = true; break;
            case Arrival::Corrupt: note += f + " corrupt; "; return "corrupt";
            case Arrival::Missing: note += f + " missing; "; return "failed";
        }
    }
    if (padded) note += "arrives padded with SUB to a 128-byte block; ";
    return "ok";
}

BenchResult runPeer(const BenchCase& c, const Peer& peer, const BenchOptions& opt) {
    BenchResult r;
    r.caseName = c.name;
    r.protocol = peer.name;
    r.direction = "a->b";
    r.benchCase = &c;
    if (auto why = peer.unsupported(c)) {
        r.status = "n/a";
        r.note = *why;
        return r;
    }
    LineRig rig(c.line);
    fs::path work = rig.dir();
    fs::path sendDir = work / "send";
    fs::path recvDir = work / "recv";
    fs::create_directories(recvDir);
    Session sendSide{rig.pathA(), &c, makePayload(sendDir, c.fileCount, c.fileSize, 20261207, c.payload)};
    const double limit = timeLimitFor(c, opt.timeLimitSec);
    Session recvSide{rig.pathB(), &c, sendSide.files};

    ChildProcess receiver(inDir(recvDir, peer.receiver(recvSide)),
                          redirectFor(peer, rig.pathB(), work / "receiver.log"));
    std::this_thread::sleep_for(200ms);  // let the receiver open its end first
    auto start = std::chrono::steady_clock::now();
    ChildProcess sender(inDir(sendDir, peer.sender(sendSide)),
                        redirectFor(peer, rig.pathA(), work / "sender.log"));

    // The transfer is over when the first side ends successfully. On a
    // pseudo-terminal a closing message written just before a program exits is
    // often flushed away, so the other side may wait for it in vain.
    std::optional<double> okEnd;
    std::optional<double> failEnd;
    std::map<ChildProcess*, bool> ended;
    for (;;) {
        double t = secondsSince(start);
        for (ChildProcess* p : {&sender, &receiver}) {
            if (ended[p]) continue;
            if (auto status = p->wait(0ms)) {
                ended[p] = true;
                if (*status == 0 && !okEnd) okEnd = t;
                if (*status != 0 && !failEnd) failEnd = t;
            }
        }
        if (ended[&sender] && ended[&receiver]) break;
        if (okEnd && t > *okEnd + 1.5) {
            r.note += std::string(ended[&sender] ? "receiver" : "sender") +
                      " kept waiting for the closing handshake; ";
            break;
        }
        if ((failEnd && t > *failEnd + 1.5) || t > limit) break;
        std::this_thread::sleep_for(2ms);
    }
    sender.stop();
    receiver.stop();
    auto counters = rig.stop();
    r.bitsFlipped = counters["ab_bits_flipped"] + counters["ba_bits_flipped"];
    if (!okEnd) {
        r.elapsedSec = secondsSince(start);
        r.status = r.elapsedSec > limit ? "dnf" : "failed";
        if (r.status == "dnf") r.note += "did not finish within the time limit; ";
        keepLogs(work, opt, r, {"sender.log", "receiver.log", "lineemu.err"});
        return r;
    }
    r.elapsedSec = *okEnd;
    r.status = checkArrival(sendDir, recvDir, recvSide, peer.padsLastBlock, r.note);
    keepLogs(work, opt, r, {"sender.log", "receiver.log", "lineemu.err"});
    return r;
}

const char* kUsage =
    "usage: peerbench [--quick] [--time-limit SEC] [--out FILE] [--cases a,b] [--peers a,b]\n"
    "Runs each peer's sender on side a and receiver on side b of lineemu and\n"
    "writes one CSV row per case and peer. Peers: zmodem ymodem xmodem1k kermit.\n";

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "peers.csv", kUsage, [](const BenchOptions& opt) {
        ResultTable table(opt.out);
        auto cases = lineCases(opt.quick);
        for (const auto& c : cases) {
            if (!selected(opt.cases, c.name)) continue;
            for (const auto& peer : allPeers()) {
                if (!selected(opt.peers, peer.name) || !selected(c.peers, peer.name)) continue;
                BenchResult r = runPeer(c, peer, opt);
                table.add(r);
                printResult(r);
            }
        }
    });
}
