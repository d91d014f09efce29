// Polling figures of our library over lineemu and htsim: the time of one
// idle poll cycle over 1, 4 and 16 boxes, the time until a ready terminal's
// record is read, and the CPU share of the PC side while it polls an idle
// line of 1, 4 and 16 boxes.
#include <sys/resource.h>
#include <tervolk.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "benchcases.h"

namespace fs = std::filesystem;
using namespace quendril::bench;
using quendril::test::LineRig;
using namespace std::chrono_literals;

namespace {

constexpr int32_t kBaudCode115200 = 7;

struct Row {
    std::string metric;
    int boxes;
    double value;
    std::string unit;
    std::string note;
};

// Boxes 1..count hold idle terminals; `readyBox` (if any) holds one that
// asks to send once its box has been polled three times.
std::string fleet(const fs::path& work, int count, int readyBox) {
    std::ostringstream f;
    f << "line baud=115200 data=8 parity=none stop=1 a=50 b=3000 c=3\n";
    for (int box = 1; box <= count; ++box) {
        f << "box " << box << " id=POLL" << (box < 10 ? "0" : "") << box << " dir="
          << (work / ("t" + std::to_string(box))).string() << (box == readyBox ? " appear=3" : "") << '\n';
        if (box == readyBox) f << "job " << box << " send " << (work / "outbox").string() << '\n';
    }
    return f.str();
}

// A fresh line: the library on side a, htsim playing a fleet on side b.
class PolledLine {
public:
    PolledLine() {
        rig_.exportComPort(0);
        makePayload(fs::path(rig_.dir()) / "outbox", 1, 16, 1);
    }
    ~PolledLine() {
        tvk_close();
        rig_.stop();
    }
    fs::path dir() const { return rig_.dir(); }
    bool open(const std::string& fleetText) {
        std::ofstream(dir() / "fleet.txt") << fleetText;
        rig_.startHtsim((dir() / "fleet.txt").string());
        tvk_openparam p{kBaudCode115200, 0, 0, 1, 50, 3000, 3, 0, 0};
        char any[] = "&&&&&&";
        if (tvk_open(0, &p) < 0) return false;
        tvk_idtblclr();
        tvk_idtbladd(any);
        return true;
    }

private:
    LineRig rig_;
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

Row cycleTime(int boxes, int cycles) {
    PolledLine line;
    if (!line.open(fleet(line.dir(), boxes, 0))) return {"poll cycle", boxes, 0, "ms", "tvk_open failed"};
    int32_t mode = 1;
    tvk_polling(&mode, boxes);  // the first cycle also meets the terminals
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) tvk_polling(&mode, boxes);
    return {"poll cycle", boxes, secondsSince(start) * 1000 / cycles, "ms", "idle terminals, pause included"};
}

// From the start of the poll cycle in which the terminal first answers to its
// record in hand; and from the start of the cycle before, in which it got
// ready just after its box was polled: for box 1 the longest a docked
// terminal waits, the idle cycle's pause included.
std::vector<Row> readyLatency(int boxes, int readyBox) {
    PolledLine line;
    std::string what = "terminal in box " + std::to_string(readyBox);
    if (!line.open(fleet(line.dir(), boxes, readyBox))) return {{"record read", boxes, 0, "ms", "tvk_open failed"}};
    auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        auto start = std::chrono::steady_clock::now();
        int32_t mode = 1;
        tvk_comminfo info{};
        if (tvk_polling(&mode, boxes) > 0 && tvk_getcinffirst(&info) >= 0)
            return {{"record read", boxes, secondsSince(start) * 1000, "ms", what + ", from the start of its cycle"},
                    {"record read", boxes, secondsSince(before) * 1000, "ms",
                     what + ", ready just after its box's poll: from the start of that cycle"}};
        before = start;
    }
    return {{"record read", boxes, 0, "ms", what + ": never read"}};
}

Row idleCpu(int boxes, double seconds) {
    PolledLine line;
    if (!line.open(fleet(line.dir(), boxes, 0))) return {"idle CPU", boxes, 0, "%", "tvk_open failed"};
    double cpu0 = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < seconds) {
        int32_t mode = 1;
        tvk_polling(&mode, boxes);
    }
    double share = (cpuSeconds() - cpu0) / secondsSince(start) * 100;
    std::ostringstream note;
    note << "PC side polling for " << seconds << " s";
    return {"idle CPU", boxes, share, "% of one core", note.str()};
}

void writeRows(const std::string& path, const std::vector<Row>& rows) {
    std::ofstream out(path, std::ios::trunc);
    out << "metric,boxes,value,unit,note\n";
    for (const auto& r : rows) {
        out << r.metric << ',' << r.boxes << ',' << r.value << ',' << r.unit << ",\"" << r.note << "\"\n";
        std::cout << r.metric << " (" << r.boxes << " boxes): " << r.value << ' ' << r.unit << "  " << r.note
                  << std::endl;
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "polling.csv", "usage: pollbench [--quick] [--out FILE]\n",
                     [](const BenchOptions& opt) {
                         std::vector<Row> rows;
                         for (int boxes : {1, 4, 16}) rows.push_back(cycleTime(boxes, opt.quick ? 5 : 50));
                         for (int box : {1, 16}) {
                             auto latency = readyLatency(16, box);
                             rows.insert(rows.end(), latency.begin(), latency.end());
                         }
                         for (int boxes : {1, 4, 16}) rows.push_back(idleCpu(boxes, opt.quick ? 5 : 30));
                         writeRows(opt.out, rows);
                     });
}
