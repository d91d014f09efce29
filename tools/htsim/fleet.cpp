#include "fleet.h"

#include <charconv>
#include <map>
#include <sstream>

namespace htsim {

const char* const kFleetHelp = R"(Fleet file: one directive per line, '#' starts a comment.
  line [baud=N] [data=7|8] [parity=none|odd|even] [stop=1|2] [a=MS] [b=MS] [c=N]
        line settings and timers (lineParamA/B/C); command-line options win
  box N [id=XXXXXX] [rev=XX] [dir=PATH] [appear=POLLS] [delay=MS] [vanish=BYTES] [protocol=1|2]
        [memory=BYTES]
        I/O box N (1..16). Without id the box is empty. dir is the terminal's
        storage (default ./htsim-boxN): transmitted files land in dir/recv,
        applications in dir/app. appear: answer "no terminal" to the first
        POLLS polls. delay: wait MS before every answer. vanish: leave the
        line for good after BYTES of a job. protocol=1: speak the line
        protocol's version 1 only, like a box built before version 2.
        memory: a small box with BYTES of frame buffers (at least 1024)
        and no compression; its frames and window follow from them.
  job N send DIR [type=T] [as=NAME] [repeat=K]
        the terminal sends the files of DIR to the PC (transDir 0); as= sends
        the first file under NAME
  job N recv [type=T] [repeat=K]
        the terminal asks the PC for files (transDir 1, type T, default 3)
  job N install [repeat=K]
        the terminal asks for an application install (transDir 1, type 15)
  job N end
        the terminal reports the end of its work (transDir 255) until released
Jobs run in order; a job is done when its transfer completed intact, a
failed one is asked for again. After the last job the terminal is idle.)";

namespace {

bool toInt(const std::string& s, long long lo, long long hi, long long& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size() && v >= lo && v <= hi;
}

class LineParser {
public:
    explicit LineParser(std::istringstream& in) {
        std::string w;
        while (in >> w) {
            size_t eq = w.find('=');
            if (eq == std::string::npos) words.push_back(w);
            else opts[w.substr(0, eq)] = w.substr(eq + 1);
        }
    }
    std::vector<std::string> words;
    std::map<std::string, std::string> opts;

    bool num(const char* key, long long lo, long long hi, long long& v, std::string& err) {
        auto it = opts.find(key);
        if (it == opts.end()) return true;
        if (!toInt(it->second, lo, hi, v)) {
            err = std::string("bad ") + key + "=" + it->second;
            return false;
        }
        opts.erase(it);
        return true;
    }
    std::string text(const char* key, const std::string& def) {
        auto it = opts.find(key);
        if (it == opts.end()) return def;
        std::string v = it->second;
        opts.erase(it);
        return v;
    }
    bool allUsed(std::string& err) {
        if (opts.empty()) return true;
        err = "unknown option " + opts.begin()->first;
        return false;
    }
};

bool parseLine(LineParser& p, Fleet& fleet, std::string& err) {
    long long baud = fleet.serial.bitsPerSecond, data = fleet.serial.sevenBits ? 7 : 8, stop = fleet.serial.stopBits;
    long long a = fleet.timers.responseMs, b = fleet.timers.progressMs, c = fleet.timers.retries;
    if (!p.num("baud", 1, 10000000, baud, err) || !p.num("data", 7, 8, data, err) || !p.num("stop", 1, 2, stop, err) ||
        !p.num("a", 1, 60000, a, err) || !p.num("b", 1, 600000, b, err) || !p.num("c", 0, 99, c, err))
        return false;
    std::string parity = p.text("parity", fleet.serial.parity == 0 ? "none" : fleet.serial.parity == 1 ? "odd" : "even");
    if (parity != "none" && parity != "odd" && parity != "even") {
        err = "bad parity=" + parity;
        return false;
    }
    if (!p.allUsed(err)) return false;
    fleet.serial.bitsPerSecond = unsigned(baud);
    fleet.serial.sevenBits = data == 7;
    fleet.serial.stopBits = int(stop);
    fleet.serial.parity = parity == "none" ? 0 : parity == "odd" ? 1 : 2;
    fleet.timers.responseMs = int(a);
    fleet.timers.progressMs = int(b);
    fleet.timers.retries = int(c);
    return true;
}

BoxDesc* findBox(Fleet& fleet, long long n) {
    for (auto& b : fleet.boxes)
        if (b.box == n) return &b;
    return nullptr;
}

bool parseBox(LineParser& p, Fleet& fleet, std::string& err) {
    long long n = 0;
    if (p.words.size() != 2 || !toInt(p.words[1], 1, 16, n)) {
        err = "box needs a number 1..16";
        return false;
    }
    if (findBox(fleet, n)) {
        err = "box " + p.words[1] + " given twice";
        return false;
    }
    BoxDesc d;
    d.box = int(n);
    d.id = p.text("id", "");
    d.rev = p.text("rev", "01");
    d.dir = p.text("dir", "htsim-box" + std::to_string(n));
    long long appear = 0, delay = 0, vanish = 0, protocol = 2, memory = 0;
    if (!p.num("appear", 0, 1000000, appear, err) || !p.num("delay", 0, 60000, delay, err) ||
        !p.num("vanish", 0, INT64_MAX, vanish, err) || !p.num("protocol", 1, 2, protocol, err) ||
        !p.num("memory", 1024, 1 << 24, memory, err) || !p.allUsed(err))
        return false;
    if (d.id.size() > 6 || d.rev.size() > 2) {
        err = "id is at most 6 characters, rev at most 2";
        return false;
    }
    d.appearAfter = int(appear);
    d.delayMs = int(delay);
    d.vanishAfter = uint64_t(vanish);
    d.versionOne = protocol == 1;
    d.memory = size_t(memory);
    fleet.boxes.push_back(d);
    return true;
}

bool parseJob(LineParser& p, Fleet& fleet, std::string& err) {
    long long n = 0;
    BoxDesc* box = nullptr;
    if (p.words.size() < 3 || !toInt(p.words[1], 1, 16, n) || !(box = findBox(fleet, n)) || box->id.empty()) {
        err = "job needs a box with a terminal declared before it";
        return false;
    }
    Job j;
    const std::string& kind = p.words[2];
    size_t wantWords = 3;
    long long type = 0, repeat = 1;
    if (kind == "send") {
        j.kind = JobKind::Send;
        wantWords = 4;
        if (p.words.size() >= 4) j.dir = p.words[3];
        j.sendAs = p.text("as", "");
    } else if (kind == "recv") {
        j.kind = JobKind::Recv;
        type = 3;
    } else if (kind == "install") {
        j.kind = JobKind::Install;
        type = 15;
    } else if (kind == "end") {
        j.kind = JobKind::End;
    } else {
        err = "unknown job " + kind;
        return false;
    }
    if (p.words.size() != wantWords) {
        err = "wrong number of words for job " + kind;
        return false;
    }
    if (!p.num("type", 0, 254, type, err) || !p.num("repeat", 1, 1000000, repeat, err) || !p.allUsed(err)) return false;
    j.transType = int(type);
    j.repeat = int(repeat);
    box->jobs.push_back(j);
    return true;
}

}  // namespace

std::optional<Fleet> parseFleet(const std::string& text, std::string& error) {
    Fleet fleet;
    std::istringstream all(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(all, raw)) {
        ++lineNo;
        if (auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream in(raw);
        LineParser p(in);
        if (p.words.empty() && p.opts.empty()) continue;
        std::string err;
        bool ok = false;
        if (p.words.empty()) err = "missing directive";
        else if (p.words[0] == "line" && p.words.size() == 1) ok = parseLine(p, fleet, err);
        else if (p.words[0] == "box") ok = parseBox(p, fleet, err);
        else if (p.words[0] == "job") ok = parseJob(p, fleet, err);
        else err = "unknown directive " + p.words[0];
        if (!ok) {
            error = "line " + std::to_string(lineNo) + ": " + err;
            return std::nullopt;
        }
    }
    return fleet;
}

}  // namespace htsim
