// Times our protocol over lineemu: the library (tvk_ C API) on side a as the
// PC, htsim on side b as one terminal, in both directions.
#include <tervolk.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "benchcases.h"

namespace fs = std::filesystem;
using namespace quendril::bench;
using quendril::test::LineRig;
using namespace std::chrono_literals;

namespace {

// The program's own defaults for the three line parameters.
constexpr int32_t kWaitMs = 50;
constexpr int32_t kStallMs = 3000;
constexpr int32_t kRetries = 3;

enum class Way { ToPc, ToTerminal };

const char* wayName(Way w) { return w == Way::ToPc ? "ht->pc" : "pc->ht"; }

int32_t baudCode(uint32_t baud) {
    const uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    auto it = std::find(std::begin(rates), std::end(rates), baud);
    if (it == std::end(rates)) throw std::invalid_argument("no baud code for " + std::to_string(baud));
    return static_cast<int32_t>(it - std::begin(rates));
}

int32_t parityCode(const std::string& parity) {
    return parity == "odd" ? 1 : parity == "even" ? 2 : 0;
}

std::string fleetText(const BenchCase& c, const fs::path& work, Way way) {
    const auto& s = c.line;
    std::ostringstream f;
    f << "line baud=" << s.baud << " data=" << s.dataBits << " parity=" << s.parity
      << " stop=" << s.stopBits << " a=" << kWaitMs << " b=" << kStallMs << " c=" << kRetries << '\n'
      << "box 1 id=BENCH1 dir=" << (work / "terminal").string();
    if (c.boxMemory) f << " memory=" << c.boxMemory;
    f << '\n';
    if (way == Way::ToPc) f << "job 1 send " << (work / "outbox").string() << '\n';
    else f << "job 1 recv\n";
    return f.str();
}

// Stops the running call once the time limit has passed.
struct Deadline {
    std::chrono::steady_clock::time_point start;
    double limitSec;
    bool hit = false;
};

void pumpCheck(void* user) {
    auto* d = static_cast<Deadline*>(user);
    if (!d->hit && secondsSince(d->start) > d->limitSec) {
        d->hit = true;
        tvk_stopreq();
    }
}

std::optional<tvk_comminfo> pollTerminal() {
    char any[] = "&&&&&&";
    tvk_idtblclr();
    tvk_idtbladd(any);
    auto until = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < until) {
        int32_t mode = 1;
        if (tvk_polling(&mode, 1) > 0) {
            tvk_comminfo info{};
            if (tvk_getcinffirst(&info) >= 0) return info;
        }
    }
    return std::nullopt;
}

std::string checkFiles(const fs::path& from, const fs::path& to, const std::vector<std::string>& names,
                       std::string& note) {
    for (const auto& n : names) {
        Arrival a = compareFile(from / n, to / n, false);
        if (a == Arrival::Missing) {
            note += n + " missing; ";
            return "failed";
        }
        if (a != Arrival::Intact) {
            note += n + " corrupt; ";
            return "corrupt";
        }
    }
    return "ok";
}

std::string hexWord(int16_t word) {
    std::ostringstream hex;
    hex << "0x" << std::hex << static_cast<uint16_t>(word);
    return hex.str();
}

// The retransmitted frames htsim counted (its exit summary), as a note.
std::string resentNote(const fs::path& work) {
    std::ifstream log(work / "htsim.log");
    std::string line;
    const std::string key = "; resent ";
    while (std::getline(log, line)) {
        auto at = line.find(key);
        if (at != std::string::npos) return std::to_string(std::stoull(line.substr(at + key.size()))) + " frames resent; ";
    }
    return {};
}

BenchResult transferOnce(LineRig& rig, const BenchCase& c, Way way, const BenchOptions& opt) {
    BenchResult r;
    r.caseName = c.name;
    r.protocol = "quendril";
    r.direction = wayName(way);
    r.benchCase = &c;

    rig.exportComPort(0);
    fs::path work = rig.dir();
    fs::path source = work / (way == Way::ToPc ? "outbox" : "pcsend");
    fs::path target = way == Way::ToPc ? work / "pcrecv" : work / "terminal" / "recv";
    fs::create_directories(work / "pcrecv");
    fs::create_directories(work / "terminal" / "recv");
    auto names = makePayload(source, c.fileCount, c.fileSize, 20261207, c.payload);
    std::ofstream(work / "fleet.txt") << fleetText(c, work, way);
    rig.startHtsim((work / "fleet.txt").string());

    tvk_openparam p{baudCode(c.line.baud), c.line.dataBits == 7 ? 1 : 0, parityCode(c.line.parity),
                    c.line.stopBits, kWaitMs, kStallMs, kRetries, 0, 0};
    if (int16_t rc = tvk_open(0, &p); rc < 0) {
        r.status = "failed";
        r.note = "tvk_open " + std::to_string(rc);
        return r;
    }
    auto info = pollTerminal();
    if (!info) {
        tvk_close();
        r.status = "failed";
        r.note = "the terminal did not answer the polls";
        return r;
    }
    Deadline deadline{std::chrono::steady_clock::now(), timeLimitFor(c, opt.timeLimitSec)};
    tvk_setpump(pumpCheck, &deadline);
    int16_t rc = 0;
    if (way == Way::ToPc) {
        std::string dir = target.string();
        rc = tvk_filerecv(dir.data(), &*info);
    } else {
        std::string pattern = (source / "*.*").string();
        rc = tvk_filesend(pattern.data(), &*info);
    }
    r.elapsedSec = secondsSince(deadline.start);
    int16_t status = tvk_geterrinf();
    tvk_setpump(nullptr, nullptr);
    tvk_disconnect(1, &*info);
    tvk_close();
    auto counters = rig.stop();
    r.bitsFlipped = counters["ab_bits_flipped"] + counters["ba_bits_flipped"];
    r.note += resentNote(work);
    if (status != 0) r.note += "error status " + hexWord(status) + "; ";
    if (deadline.hit) {
        r.status = "dnf";
        r.note += "did not finish within the time limit; ";
        return r;
    }
    if (rc < 0) {
        r.status = "failed";
        r.note += "result " + std::to_string(rc) + "; ";
        return r;
    }
    r.status = checkFiles(source, target, names, r.note);
    return r;
}

BenchResult runOurs(const BenchCase& c, Way way, const BenchOptions& opt) {
    LineRig rig(c.line);
    BenchResult r = transferOnce(rig, c, way, opt);
    rig.stop();
    keepLogs(rig.dir(), opt, r, {"htsim.log", "lineemu.err"});
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "ours.csv",
                     "usage: linebench [--quick] [--time-limit SEC] [--out FILE] [--cases a,b]\n",
                     [](const BenchOptions& opt) {
                         ResultTable table(opt.out);
                         auto cases = lineCases(opt.quick);
                         for (const auto& c : cases) {
                             if (!selected(opt.cases, c.name)) continue;
                             for (Way way : {Way::ToPc, Way::ToTerminal}) {
                                 BenchResult r = runOurs(c, way, opt);
                                 table.add(r);
                                 printResult(r);
                             }
                         }
                     });
}
