// The whole fleet through the real program: `quendril AUTO` serves 16
// terminals of htsim over lineemu. Each terminal sends one file (a receive
// job), asks for one (a transmit job), then reports the end of its work.
// Efficiency = file bytes moved / (the program's whole life x the line's
// character rate); the library's frame log and the program's run log say
// where the rest of the time went.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "benchcases.h"
#include "timeline.h"

namespace fs = std::filesystem;
using namespace quendril::bench;
using quendril::test::ChildProcess;
using quendril::test::LineRig;
using quendril::test::ScopedEnv;
using namespace std::chrono_literals;

namespace {

constexpr int kTerminals = 16;

struct FleetCase {
    std::string name;
    uint32_t baud;
    const char* baudCode;  // as hostpc.ini stores it
    uint64_t fileSize;     // each terminal sends one file of this size and receives one
    double charRate() const { return baud / 10.0; }  // 8N1
    double payloadBytes() const { return 2.0 * kTerminals * static_cast<double>(fileSize); }
};

// 16 x 64 KiB each way would keep a 9600 line busy for 36 minutes; a
// quarter of that stays under ten.
std::vector<FleetCase> fleetCases(bool quick) {
    return {{"fleet-115200", 115200, "07", quick ? 4 * 1024u : 64 * 1024u},
            {"fleet-9600", 9600, "03", quick ? 1024u : 16 * 1024u}};
}

struct FleetResult {
    std::string status = "failed";  // ok, failed, corrupt, dnf
    std::string note;
    double passSeconds = 0;
    std::vector<TimeShare> shares;
};

std::string terminalId(int i) {
    char id[8];
    std::snprintf(id, sizeof id, "HT%04d", i);
    return id;
}

fs::path pcRecv(const fs::path& root, int i) { return root / "pc" / "recv" / terminalId(i); }
fs::path pcSend(const fs::path& root, int i) { return root / "pc" / "send" / terminalId(i); }
fs::path terminalDir(const fs::path& root, int i) { return root / "terminals" / terminalId(i); }

// Program defaults for the line timers (lineParamA 50 ms, B 3000 ms, C 3).
std::string settingsText(const fs::path& root, const FleetCase& c) {
    const fs::path pc = root / "pc";
    return "HOSTPC.INI1600" + std::string(c.baudCode) + "0800010050030003\r\n" + (pc / "ap").string() + "\r\n" +
           (pc / "recv").string() + "\r\n" + (pc / "send").string() + "\r\nALL\r\nHOSTPCID.INF\r\n\r\n";
}

// Every terminal receives into and sends from its own folders.
std::string idFileText(const fs::path& root) {
    std::string text = "hostpcid.inf\r\n";
    for (int i = 1; i <= kTerminals; ++i)
        text += terminalId(i) + "," + pcRecv(root, i).string() + "," + pcSend(root, i).string() + ",ALL\r\n";
    return text;
}

std::string fleetText(const fs::path& root, const FleetCase& c) {
    std::ostringstream f;
    f << "line baud=" << c.baud << " data=8 parity=none stop=1 a=50 b=3000 c=3\n";
    for (int i = 1; i <= kTerminals; ++i) {
        f << "box " << i << " id=" << terminalId(i) << " dir=" << terminalDir(root, i).string() << '\n'
          << "job " << i << " send " << (terminalDir(root, i) / "out").string() << '\n'
          << "job " << i << " recv\njob " << i << " end\n";
    }
    return f.str();
}

// Random contents: the figure is the protocol's and the program's, not a compressor's.
void prepareWorkspace(const fs::path& root, const FleetCase& c) {
    fs::create_directories(root / "pc" / "ap");
    for (int i = 1; i <= kTerminals; ++i) {
        fs::create_directories(pcRecv(root, i));
        makePayload(pcSend(root, i), 1, c.fileSize, 100 + static_cast<uint32_t>(i));
        makePayload(terminalDir(root, i) / "out", 1, c.fileSize, 200 + static_cast<uint32_t>(i));
    }
    std::ofstream(root / "hostpc.ini", std::ios::binary) << settingsText(root, c);
    std::ofstream(root / "HOSTPCID.INF", std::ios::binary) << idFileText(root);
    std::ofstream(root / "fleet.txt") << fleetText(root, c);
}

// htsim has the line once it names its boxes: the pass never waits for it.
bool htsimReady(LineRig& rig) {
    for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(10ms)) {
        std::ifstream log(fs::path(rig.dir()) / "htsim.log");
        const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        if (text.find(" boxes on ") != std::string::npos) return true;
        if (!rig.htsim().running()) return false;
    }
    return false;
}

// The program reads hostpc.ini from its working folder, which a child inherits.
class InFolder {
public:
    explicit InFolder(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~InFolder() {
        std::error_code ec;
        fs::current_path(old_, ec);
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path old_;
};

ChildProcess startProgram(const fs::path& root) {
    const fs::path runtime = root / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    // For the program only: htsim must not print the frames too.
    ScopedEnv env;
    env.set("XDG_RUNTIME_DIR", runtime.string()).set("QT_QPA_PLATFORM", "offscreen").set("TVK_DEBUG", "1");
    InFolder in(root);
    return ChildProcess({QUENDRIL_BIN, "AUTO"},
                        {"/dev/null", (root / "out.txt").string(), (root / "frames.log").string()});
}

// Terminals whose htsim counters show both jobs done and none failed.
int terminalsServed(const fs::path& htsimLog) {
    std::ifstream log(htsimLog);
    int served = 0;
    for (std::string line; std::getline(log, line);) {
        int box = 0, ok = 0, failed = 0;
        char id[16] = {};
        if (std::sscanf(line.c_str(), "box %d %15[^:]: jobs ok %d failed %d", &box, id, &ok, &failed) == 4)
            served += ok == 2 && failed == 0;
    }
    return served;
}

std::string filesStatus(const fs::path& root, std::string& note) {
    for (int i = 1; i <= kTerminals; ++i) {
        const std::pair<fs::path, fs::path> copies[] = {
            {terminalDir(root, i) / "out" / "f0001.bin", pcRecv(root, i) / "f0001.bin"},
            {pcSend(root, i) / "f0001.bin", terminalDir(root, i) / "recv" / "f0001.bin"}};
        for (const auto& [sent, received] : copies) {
            const Arrival a = compareFile(sent, received, false);
            if (a == Arrival::Intact) continue;
            note += received.string() + (a == Arrival::Missing ? " missing; " : " corrupt; ");
            return a == Arrival::Missing ? "failed" : "corrupt";
        }
    }
    return "ok";
}

// ok only when the program ended with 0, every terminal did both of its
// jobs and every file arrived intact.
void judgeRun(const fs::path& root, int exitStatus, FleetResult& r) {
    if (exitStatus != 0) r.note += "exit status " + std::to_string(exitStatus) + "; ";
    const int served = terminalsServed(root / "htsim.log");
    if (served != kTerminals)
        r.note += std::to_string(served) + " of " + std::to_string(kTerminals) + " terminals served cleanly; ";
    r.status = filesStatus(root, r.note);
    if (r.status == "ok" && (exitStatus != 0 || served != kTerminals)) r.status = "failed";
}

void keepFleetLogs(const fs::path& root, const BenchOptions& opt, const std::string& caseName) {
    const fs::path dir = opt.out + ".logs";
    fs::create_directories(dir);
    for (const char* log : {"frames.log", "out.txt", "quendril-log.csv", "htsim.log", "lineemu.err"}) {
        std::error_code ec;
        fs::copy_file(root / log, dir / (caseName + "-" + log), fs::copy_options::overwrite_existing, ec);
    }
}

// Runs the program to its end; the pass is its whole life, start-up and exit included.
FleetResult runPass(LineRig& rig, const FleetCase& c) {
    FleetResult r;
    const fs::path root = rig.dir();
    rig.exportComPort(0);
    prepareWorkspace(root, c);
    rig.startHtsim((root / "fleet.txt").string());
    if (!htsimReady(rig)) {
        r.note = "htsim did not start; ";
        return r;
    }
    // Twice the payload's line time and a minute: a pass that takes longer is broken.
    const auto limit = std::chrono::seconds(static_cast<long>(2 * c.payloadBytes() / c.charRate()) + 60);
    const auto start = std::chrono::steady_clock::now();
    ChildProcess program = startProgram(root);
    const std::optional<int> exit = program.wait(std::chrono::duration_cast<std::chrono::milliseconds>(limit));
    r.passSeconds = secondsSince(start);
    std::map<std::string, uint64_t> line = rig.stop();  // htsim prints its counters on the way out
    if (!exit) {
        r.status = "dnf";
        r.note = "did not finish within " + std::to_string(limit.count()) + " s; ";
        return r;
    }
    judgeRun(root, *exit, r);
    r.shares = breakDown(readFrameLog(root / "frames.log"), readJobSeconds(root / "quendril-log.csv"),
                         {r.passSeconds, c.charRate(), c.payloadBytes(),
                          static_cast<double>(line["ab_bytes_delivered"] + line["ba_bytes_delivered"])});
    return r;
}

FleetResult runCase(const FleetCase& c, const BenchOptions& opt) {
    quendril::test::LineSettings line;
    line.baud = c.baud;
    LineRig rig(line);
    FleetResult r = runPass(rig, c);
    rig.stop();
    if (r.status != "ok") keepFleetLogs(rig.dir(), opt, c.name);
    return r;
}

class FleetTable {
public:
    explicit FleetTable(const std::string& path) : path_(path) {
        std::ofstream out(path_, std::ios::trunc);
        out << "case,baud,terminals,file_bytes,payload_bytes,category,seconds,share,status,note\n";
        if (!out) throw std::runtime_error("cannot write " + path_);
    }
    // The pass first (share 1), then its categories; the payload's share is the efficiency.
    void add(const FleetCase& c, const FleetResult& r) {
        std::ofstream out(path_, std::ios::app);
        row(out, c, r, "pass", r.passSeconds, r.note);
        for (const TimeShare& s : r.shares) row(out, c, r, s.category, s.seconds, "");
    }

private:
    static void row(std::ostream& out, const FleetCase& c, const FleetResult& r, const std::string& category,
                    double seconds, const std::string& note) {
        out << c.name << ',' << c.baud << ',' << kTerminals << ',' << c.fileSize << ','
            << static_cast<uint64_t>(c.payloadBytes()) << ',' << category << ',' << std::fixed
            << std::setprecision(3) << seconds << ',' << std::setprecision(4)
            << (r.passSeconds > 0 ? seconds / r.passSeconds : 0) << ',' << r.status << ",\"" << note << "\"\n";
    }
    std::string path_;
};

void printFleet(const FleetCase& c, const FleetResult& r) {
    const double efficiency = r.passSeconds > 0 ? c.payloadBytes() / (r.passSeconds * c.charRate()) : 0;
    std::cout << c.name << ": " << r.status << ", " << std::fixed << std::setprecision(3) << r.passSeconds
              << " s, efficiency " << std::setprecision(4) << (r.status == "ok" ? efficiency : 0) << ' ' << r.note
              << '\n';
    for (const TimeShare& s : r.shares)
        std::cout << "  " << std::setw(44) << std::left << s.category << std::right << std::setw(10)
                  << std::setprecision(3) << s.seconds << " s\n";
    std::cout << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "fleet.csv", "usage: fleetbench [--quick] [--out FILE] [--cases a,b]\n",
                     [](const BenchOptions& opt) {
                         FleetTable table(opt.out);
                         for (const FleetCase& c : fleetCases(opt.quick)) {
                             if (!selected(opt.cases, c.name)) continue;
                             const FleetResult r = runCase(c, opt);
                             table.add(c, r);
                             printFleet(c, r);
                         }
                     });
}
