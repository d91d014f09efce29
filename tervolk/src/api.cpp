// The C API: one line session per process, driven call by call from the
// caller's thread.
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "master.h"
#include "termiosport.h"
#include "tervolk.h"

namespace {

using namespace tvk;

constexpr size_t kIdTableMax = 128;
constexpr int kMaxBoxes = TVK_MAX_BOXES;
// Idle poll cycles are paced: one lasts at least kMinCycle and
// kIdlePollSpacing per box, so an idle line is polled at most 100 times a
// second (each poll wakes the process) while a docked terminal still waits
// only a moment. A cycle that accepts a terminal returns at once.
constexpr auto kMinCycle = Ms(50);
constexpr auto kIdlePollSpacing = Ms(10);
// Longest wait on the line without a pump: a backstop only.
constexpr auto kUnpumpedSlice = Ms(1000);
constexpr unsigned kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct Session final : Hooks, Progress, JobChecks {
    TermiosPort port;
    std::unique_ptr<Link> link;
    LineTimers timers;
    std::vector<std::string> ids;
    std::vector<tvk_comminfo> records;
    std::map<uint8_t, uint64_t> announced;  // each record's total, before it saturates
    size_t cursor = 0;
    std::set<uint8_t> connected;
    // Learnt box by box while the line is open.
    std::array<BoxProtocol, kMaxBoxes + 1> protocols{};
    uint32_t status = 0;
    std::atomic<bool> stop{false};
    // The last line call met a stop: the run is ending (see tvk_disconnect).
    bool stopped = false;
    bool honourStop = true;
    bool busy = false;  // a line call is running (a callback may call in)
    int32_t hwnd = 0;
    int32_t msg = TVK_NOTIFY_MSG;
    tvk_notify_fn notifyFn = nullptr;
    void* notifyUser = nullptr;
    tvk_pump_fn pumpFn = nullptr;
    void* pumpUser = nullptr;
    tvk_check_fn checkFn = nullptr;
    void* checkUser = nullptr;
    bool debug = false;
    char fileName[TVK_FNAME_LEN] = {};

    void pump() override {
        if (pumpFn) pumpFn(pumpUser);
    }
    bool stopping() override { return honourStop && stop.load(); }
    // Without a pump only a stop needs a waiting call, and the stop ends
    // the port's wait itself: waits then wake the process only for the line.
    Clock::duration slice() override {
        return pumpFn || !port.interruptible() ? Hooks::slice() : kUnpumpedSlice;
    }
    void requestStop() {
        stop = true;
        port.interruptWait();
    }
    void fileStarted(const std::string& name) override {
        std::memset(fileName, 0, sizeof fileName);
        std::memcpy(fileName, name.data(), std::min(name.size(), sizeof fileName - 1));
        fileProgress(0);
    }
    void fileProgress(int percent) override {
        if (notifyFn) notifyFn(notifyUser, hwnd, msg, percent);
    }
    void diskWait() override { pump(); }
    bool maySend(const std::string& name) override { return ask(TVK_CHECK_SEND, name.c_str()); }
    bool mayStore(const std::string& name) override { return ask(TVK_CHECK_STORE, name.c_str()); }
    bool mayCommit() override { return ask(TVK_CHECK_COMMIT, ""); }
    bool ask(int32_t what, const char* name) const { return !checkFn || checkFn(checkUser, what, name) != 0; }
    void forgetRecords() {
        records.clear();
        announced.clear();
        cursor = 0;
    }
};

Session& session() {
    static Session s;
    return s;
}

// Marks a line call as running. A line call made from inside a callback of
// another one would pull the line away under it: it is refused with
// TVK_EBUSY and turned into a stop request instead.
class LineCall {
public:
    LineCall() : s_(session()), nested_(s_.busy) { s_.busy = true; }
    ~LineCall() {
        if (!nested_) s_.busy = false;
    }
    LineCall(const LineCall&) = delete;
    LineCall& operator=(const LineCall&) = delete;
    bool nested() const {
        if (nested_) s_.requestStop();
        return nested_;
    }

private:
    Session& s_;
    bool nested_;
};

// A call that meets a stop request returns TVK_ESTOPPED once and clears it.
int16_t consumeStop() {
    session().stop = false;
    session().stopped = true;
    return TVK_ESTOPPED;
}

bool accepted(const char* htId) {
    for (const std::string& id : session().ids) {
        if (id == "&&&&&&" || std::memcmp(id.data(), htId, TVK_ID_LEN) == 0) return true;
    }
    return false;
}

tvk_comminfo toCommInfo(const Record& r, uint8_t box) {
    tvk_comminfo c{};
    std::memcpy(c.htId, r.htId, TVK_ID_LEN);
    std::memcpy(c.aux1, r.aux1, 2);
    c.aux2 = box;
    c.fileCount = int32_t(std::min<uint32_t>(r.fileCount, INT32_MAX));
    c.totalSize = int32_t(std::min<uint64_t>(r.totalSize, INT32_MAX));
    c.transDir = r.transDir;
    c.transType = r.transType;
    return c;
}

bool validParam(const tvk_openparam& p) {
    return p.baudCode >= 0 && p.baudCode <= 7 && p.parityCode >= 0 && p.parityCode <= 2 &&
           (p.stopBits == 1 || p.stopBits == 2) && p.lineParamA >= 1 && p.lineParamA <= 60000 &&
           p.lineParamB >= 1 && p.lineParamB <= 600000 && p.lineParamC >= 0 && p.lineParamC <= 99;
}

// Starts a job call: checks the line and the record, clears the status
// word and takes a pending stop.
int16_t beginJob(const void* text, const tvk_comminfo* info, uint8_t& box) {
    Session& s = session();
    if (!s.link) return TVK_ENOTOPEN;
    if (!text || !info || info->aux2 < 1 || info->aux2 > kMaxBoxes) return TVK_EARG;
    box = uint8_t(info->aux2);
    s.status = 0;
    s.link->takeStatus();
    std::memset(s.fileName, 0, sizeof s.fileName);
    if (s.stop) return consumeStop();
    return TVK_OK;
}

int16_t endJob(int r) {
    Session& s = session();
    s.status |= s.link->takeStatus();
    if (r == TVK_ESTOPPED) return consumeStop();
    return int16_t(r);
}

// Lets an idle poll cycle that began at start last its paced length.
Got paceIdleCycle(Link& link, Clock::time_point start, int32_t boxCount) {
    return link.sleepUntil(start + std::max<Clock::duration>(kMinCycle, boxCount * kIdlePollSpacing));
}

int16_t closeLine() {
    Session& s = session();
    s.stop = false;
    if (!s.link) return TVK_ENOTOPEN;
    // Bytes still in the driver's buffer must reach the line first.
    s.link->drain();
    s.link.reset();
    s.port.close();
    s.forgetRecords();
    s.connected.clear();
    return TVK_OK;
}

}  // namespace

extern "C" {

int16_t tvk_open(int32_t port, const tvk_openparam* param) {
    Session& s = session();
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    if (!param || port < 0 || port > 99 || !validParam(*param)) return TVK_EARG;
    closeLine();
    std::string var = "QUENDRIL_COM" + std::to_string(port);
    const char* dev = std::getenv(var.c_str());
    std::string path = dev && *dev ? dev : "/dev/ttyS" + std::to_string(port);
    SerialSettings ss;
    ss.bitsPerSecond = kBaudRates[param->baudCode];
    // TVK_BAUD gives the rate of a faster emulated line (tests, benchmarks):
    // the timers follow it, the device keeps a rate it supports.
    unsigned lineRate = ss.bitsPerSecond;
    if (const char* env = std::getenv("TVK_BAUD")) {
        long v = std::strtol(env, nullptr, 10);
        if (v >= 300 && v <= 20000000) lineRate = unsigned(v);
        if (TermiosPort::speedSupported(lineRate)) ss.bitsPerSecond = lineRate;
    }
    ss.sevenBits = param->sevenBits != 0;
    ss.parity = param->parityCode;
    ss.stopBits = param->stopBits;
    int r = s.port.open(path, ss);
    if (r != TVK_OK) return int16_t(r);
    s.timers.bitsPerSecond = lineRate;
    s.timers.bitsPerChar = unsigned(1 + (ss.sevenBits ? 7 : 8) + (ss.parity ? 1 : 0) + ss.stopBits);
    s.timers.sevenBits = ss.sevenBits;
    s.timers.responseMs = param->lineParamA;
    s.timers.progressMs = param->lineParamB;
    s.timers.retries = param->lineParamC;
    s.link = std::make_unique<Link>(s.port, s.timers);
    s.link->setHooks(&s);
    const char* dbg = std::getenv("TVK_DEBUG");
    s.link->setDebug(s.debug || (dbg && std::strcmp(dbg, "1") == 0), "tvk");
    s.forgetRecords();
    s.connected.clear();
    s.protocols = {};
    s.status = 0;
    s.stop = false;
    s.stopped = false;
    return TVK_OK;
}

int16_t tvk_close(void) {
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    return closeLine();
}

int16_t tvk_disconnect(int32_t mode, const tvk_comminfo* info) {
    Session& s = session();
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    if (!s.link) return TVK_ENOTOPEN;
    if (mode != 0 && mode != 1) return TVK_EARG;
    if (mode == 0 && (!info || info->aux2 < 1 || info->aux2 > kMaxBoxes)) return TVK_EARG;
    // A release is how a stopped run ends: it does not take the stop, and
    // after one it does not wait behind the box's stale data.
    s.honourStop = false;
    bool all = true;
    if (mode == 1) {
        for (uint8_t box : s.connected) all = releaseBox(*s.link, box, s.stopped) && all;
        s.connected.clear();
    } else {
        all = releaseBox(*s.link, uint8_t(info->aux2), s.stopped);
        s.connected.erase(uint8_t(info->aux2));
    }
    s.honourStop = true;
    return all ? TVK_OK : TVK_ETIMEOUT;
}

int16_t tvk_idtblclr(void) {
    session().ids.clear();
    return TVK_OK;
}

int16_t tvk_idtbladd(const char* id) {
    Session& s = session();
    if (!id) return TVK_EARG;
    if (s.ids.size() >= kIdTableMax) return TVK_EFAIL;
    std::string entry(id, strnlen(id, TVK_ID_LEN));
    entry.resize(TVK_ID_LEN, ' ');
    s.ids.push_back(entry);
    return TVK_OK;
}

int16_t tvk_idtblgetidno(void) { return int16_t(session().ids.size()); }

int16_t tvk_idtblgetid(int32_t index, char* id) {
    Session& s = session();
    if (!id || index < 0 || size_t(index) >= s.ids.size()) return TVK_EARG;
    std::memcpy(id, s.ids[size_t(index)].data(), TVK_ID_LEN);
    id[TVK_ID_LEN] = '\0';
    return TVK_OK;
}

int16_t tvk_polling(int32_t* mode, int32_t boxCount) {
    Session& s = session();
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    if (!s.link) return TVK_ENOTOPEN;
    if (!mode || boxCount < 1 || boxCount > kMaxBoxes) return TVK_EARG;
    s.status = 0;
    s.link->takeStatus();
    s.stopped = false;
    if (s.stop) return consumeStop();
    auto start = Clock::now();
    s.forgetRecords();
    for (int box = 1; box <= boxCount; ++box) {
        Record rec;
        BoxAnswer a = pollBox(*s.link, uint8_t(box), rec);
        if (a == BoxAnswer::Stopped) return consumeStop();
        if (a == BoxAnswer::Fatal) {
            s.status |= s.link->takeStatus();
            return TVK_EFAIL;
        }
        if (a == BoxAnswer::Terminal && accepted(rec.htId)) {
            s.records.push_back(toCommInfo(rec, uint8_t(box)));
            s.announced[uint8_t(box)] = rec.totalSize;
            s.connected.insert(uint8_t(box));
        }
    }
    Got g = s.records.empty() ? paceIdleCycle(*s.link, start, boxCount) : Got::Timeout;
    if (g == Got::Stopped) return consumeStop();
    s.status |= s.link->takeStatus();
    return g == Got::Fatal ? TVK_EFAIL : int16_t(s.records.size());
}

int16_t tvk_getcinffirst(tvk_comminfo* info) {
    Session& s = session();
    if (!info) return TVK_EARG;
    s.cursor = 0;
    return tvk_getcinfnext(info);
}

int16_t tvk_getcinfnext(tvk_comminfo* info) {
    Session& s = session();
    if (!info) return TVK_EARG;
    if (s.cursor >= s.records.size()) return TVK_ENOMORE;
    *info = s.records[s.cursor++];
    return TVK_OK;
}

int16_t tvk_filerecv(const char* dir, tvk_comminfo* info) {
    Session& s = session();
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    uint8_t box = 0;
    int16_t r = beginJob(dir, info, box);
    if (r != TVK_OK) return r;
    std::error_code ec;
    if (!std::filesystem::is_directory(*dir ? dir : ".", ec)) {
        s.status |= TVK_ES_FILEOPEN;
        return TVK_EFILE;
    }
    // The total the terminal announced: its record's, else the caller's
    // when it has not saturated.
    ReceiveOptions options;
    options.checks = &s;
    if (auto it = s.announced.find(box); it != s.announced.end()) options.announced = it->second;
    else if (info->totalSize >= 0 && info->totalSize < INT32_MAX) options.announced = uint64_t(info->totalSize);
    return endJob(receiveFiles(*s.link, box, dir, &s, s.status, s.protocols[box], options));
}

int16_t tvk_filesend(const char* pattern, tvk_comminfo* info) {
    Session& s = session();
    LineCall call;
    if (call.nested()) return TVK_EBUSY;
    uint8_t box = 0;
    int16_t r = beginJob(pattern, info, box);
    if (r != TVK_OK) return r;
    std::string p(pattern);
    size_t cut = p.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? "." : p.substr(0, cut);
    std::string mask = cut == std::string::npos ? p : p.substr(cut + 1);
    if (mask != "*.*" && mask != "*") return TVK_EARG;
    bool ok = false;
    auto files = listSendFiles(dir.empty() ? "/" : dir, ok, &s);
    if (!ok) {
        s.status |= TVK_ES_FILEOPEN;
        return TVK_EFILE;
    }
    return endJob(sendFiles(*s.link, box, std::move(files), uint8_t(info->transType), &s, s.status, s.protocols[box]));
}

int16_t tvk_geterrinf(void) { return int16_t(session().status & 0x7FFF); }

const char* tvk_strerror(int32_t code) {
    switch (code) {
    case TVK_OK: return "success";
    case TVK_EFAIL: return "the job failed; the error-status word says why";
    case TVK_EARG: return "bad argument";
    case TVK_ENOMORE: return "no further terminal record";
    case TVK_ENOTOPEN: return "the line is not open";
    case TVK_ENODEV: return "no such device";
    case TVK_EBUSY: return "the device is in use or cannot be set up";
    case TVK_ETIMEOUT: return "the terminal did not answer in time";
    case TVK_EPROTO: return "the terminal broke the protocol";
    case TVK_EFILE: return "a local file or directory could not be used";
    case TVK_ENOTERM: return "no such terminal is connected";
    case TVK_ESTOPPED: return "stopped on request";
    default: return "unknown result code";
    }
}

const char* tvk_statustext(int32_t bit) {
    switch (bit) {
    case TVK_ES_PARITY: return "parity error on the line";
    case TVK_ES_OVERRUN: return "receive overrun";
    case TVK_ES_FRAMING: return "framing error or break on the line";
    case TVK_ES_BUFFULL: return "a frame longer than allowed was refused";
    case TVK_ES_FATAL: return "the line device failed";
    case TVK_ES_TIMEOUT: return "retries ran out without an answer";
    case TVK_ES_PROTOCOL: return "an unexpected or malformed frame";
    case TVK_ES_TRANSFER: return "a file could not be transferred intact";
    case TVK_ES_FILEOPEN: return "a local file could not be opened, written or stored, or a name was refused";
    case TVK_ES_NOSPACE: return "not enough free space for what the terminal announced";
    case TVK_ES_OVERSIZE: return "the terminal sent more than it announced";
    default: return "unknown status bit";
    }
}

int16_t tvk_stopreq(void) {
    session().requestStop();
    return TVK_OK;
}

int16_t tvk_sethwnd(int32_t hwnd, int32_t msg) {
    session().hwnd = hwnd;
    session().msg = msg;
    return TVK_OK;
}

int16_t tvk_getcomfname(char* buf) {
    if (!buf) return TVK_EARG;
    std::memcpy(buf, session().fileName, TVK_FNAME_LEN);
    buf[TVK_FNAME_LEN - 1] = '\0';
    return TVK_OK;
}

int16_t tvk_setnotify(tvk_notify_fn fn, void* user) {
    session().notifyFn = fn;
    session().notifyUser = user;
    return TVK_OK;
}

int16_t tvk_setpump(tvk_pump_fn fn, void* user) {
    session().pumpFn = fn;
    session().pumpUser = user;
    return TVK_OK;
}

int16_t tvk_setcheck(tvk_check_fn fn, void* user) {
    session().checkFn = fn;
    session().checkUser = user;
    return TVK_OK;
}

int16_t tvk_setdebug(int32_t on) {
    Session& s = session();
    s.debug = on != 0;
    if (s.link) s.link->setDebug(s.debug, "tvk");
    return TVK_OK;
}

}  // extern "C"
