#include "lineconfig.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <stdexcept>

namespace quendril::lineemu {

namespace {

bool parseInt(const std::string& s, int64_t lo, int64_t hi, int64_t& out) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseReal(const std::string& s, double lo, double hi, double& out) {
    if (s.empty()) return false;
    // strtod accepts hex, inf and nan; a rate is a plain decimal number.
    for (char c : s)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
              c == '-' || c == '+'))
            return false;
    size_t used = 0;
    double v = 0;
    try {
        v = std::stod(s, &used);
    } catch (const std::exception&) {
        return false;
    }
    if (used != s.size() || !std::isfinite(v) || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseOutage(const std::string& s, Faults& f) {
    auto colon = s.find(':');
    if (colon == std::string::npos) return false;
    int64_t start = 0;
    int64_t len = 0;
    if (!parseInt(s.substr(0, colon), 0, 86'400'000, start) ||
        !parseInt(s.substr(colon + 1), 0, 86'400'000, len))
        return false;
    f.outageStartMs = start;
    f.outageLenMs = len;
    return true;
}

using Setter = std::function<bool(Config&, const std::string&)>;

Setter smallIntSetter(int lo, int hi, int LineFormat::*field) {
    return [lo, hi, field](Config& c, const std::string& v) {
        int64_t n = 0;
        if (!parseInt(v, lo, hi, n)) return false;
        c.format.*field = static_cast<int>(n);
        return true;
    };
}

const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> table = {
        {"--a", [](Config& c, const std::string& v) { c.linkA = v; return !v.empty(); }},
        {"--b", [](Config& c, const std::string& v) { c.linkB = v; return !v.empty(); }},
        {"--baud",
         [](Config& c, const std::string& v) {
             int64_t n = 0;
             if (!parseInt(v, 1, 100'000'000, n)) return false;
             c.format.baud = static_cast<uint32_t>(n);
             return true;
         }},
        {"--data", smallIntSetter(5, 8, &LineFormat::dataBits)},
        {"--parity",
         [](Config& c, const std::string& v) {
             if (v == "none") c.format.parity = Parity::None;
             else if (v == "odd") c.format.parity = Parity::Odd;
             else if (v == "even") c.format.parity = Parity::Even;
             else return false;
             return true;
         }},
        {"--stop", smallIntSetter(1, 2, &LineFormat::stopBits)},
        {"--latency-ab", [](Config& c, const std::string& v) { return parseReal(v, 0, 60'000, c.latencyAbMs); }},
        {"--latency-ba", [](Config& c, const std::string& v) { return parseReal(v, 0, 60'000, c.latencyBaMs); }},
        {"--ber", [](Config& c, const std::string& v) { return parseReal(v, 0, 1, c.faults.bitErrorRate); }},
        {"--drop", [](Config& c, const std::string& v) { return parseReal(v, 0, 1, c.faults.dropRate); }},
        {"--seed",
         [](Config& c, const std::string& v) {
             uint64_t n = 0;
             auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
             if (ec != std::errc() || end != v.data() + v.size()) return false;
             c.faults.seed = n;
             return true;
         }},
        {"--outage", [](Config& c, const std::string& v) { return parseOutage(v, c.faults); }},
        {"--ready-file", [](Config& c, const std::string& v) { c.readyFile = v; return !v.empty(); }},
        {"--stats", [](Config& c, const std::string& v) { c.statsFile = v; return !v.empty(); }},
    };
    return table;
}

}  // namespace

ParseResult parseArgs(const std::vector<std::string>& args) {
    ParseResult r;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") {
            r.config.help = true;
            return r;
        }
        if (name == "--exit-with-parent") {
            r.config.exitWithParent = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (auto eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        auto it = setters().find(name);
        if (it == setters().end()) {
            r.error = "unknown option: " + name;
            return r;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                r.error = "missing value for " + name;
                return r;
            }
            value = args[++i];
        }
        if (!it->second(r.config, value)) {
            r.error = "bad value for " + name + ": " + value;
            return r;
        }
    }
    if (r.config.linkA.empty() || r.config.linkB.empty())
        r.error = "both --a and --b are needed";
    else if (r.config.linkA == r.config.linkB)
        r.error = "--a and --b must differ";
    return r;
}

const char* usageText() {
    return "usage: lineemu --a PATH --b PATH [options]\n"
           "Creates two pseudo-terminals, links their device paths at PATH a and PATH b,\n"
           "and relays bytes between them at the pace of a serial line.\n"
           "\n"
           "  --a PATH, --b PATH    symbolic links to the two line ends (stale links replaced)\n"
           "  --baud N              bit rate (default 115200)\n"
           "  --data 5..8           data bits (default 8; 7 strips bit 7 of every byte)\n"
           "  --parity none|odd|even  parity bit (default none; counts in the line time)\n"
           "  --stop 1|2            stop bits (default 1)\n"
           "  --latency-ab MS       delivery delay a->b in milliseconds (default 0)\n"
           "  --latency-ba MS       delivery delay b->a in milliseconds (default 0)\n"
           "  --ber RATE            probability that a data bit flips (default 0)\n"
           "  --drop RATE           probability that a character is lost (default 0)\n"
           "  --seed N              seed of the fault generator (default 1)\n"
           "  --outage START:LEN    characters sent from START ms after ready for LEN ms are lost\n"
           "  --ready-file PATH     written once both links exist (else \"ready\" on stdout)\n"
           "  --stats PATH          counters written here on exit (also printed on stderr)\n"
           "  --exit-with-parent    stop as on SIGTERM once the starting process has gone\n"
           "  --help                this text\n"
           "\n"
           "A character takes (1 + data + parity + stop) bits / baud seconds in each\n"
           "direction. SIGTERM or SIGINT ends the relay and prints the counters.\n";
}

}  // namespace quendril::lineemu
