#include "fakeline.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace quendril::test {
namespace {

FakeLine* active = nullptr;
FakeLine& fake() { return *active; }
void log(const std::string& entry) { fake().log(entry); }

template <typename T>
T popOr(std::deque<T>& q, T otherwise) {
    if (!q.empty()) otherwise = q.front(), q.pop_front();
    return otherwise;
}

// Waits, while held, for a stop; true (once) when one came.
bool stopped() {
    while (fake().hold && !fake().stopPending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return fake().stopPending.exchange(false);
}

int16_t readRecord(const char* name, CommInfo* info) {
    log(name);
    if (fake().records.empty()) return TVK_ENOMORE;
    const RecordAnswer a = popOr(fake().records, RecordAnswer{});
    *info = a.info;
    return a.result;
}

int16_t transfer(const std::string& name, const char* text, CommInfo* info) {
    log(name + " " + text);
    fake().transferTexts.emplace_back(text);
    if (name == "filesend") fake().sentRecords.push_back(*info);
    if (fake().onTransfer) fake().onTransfer(text, *info);
    const int16_t scripted = popOr<int16_t>(fake().jobResults, 0);
    if (stopped()) return TVK_ESTOPPED;
    // As the library does: a receive that stored everything asks whether
    // the terminal may be told, and fails when the answer is no.
    const bool refused = name == "filerecv" && scripted >= 0 && fake().checkFn &&
                         fake().checkFn(fake().checkUser, TVK_CHECK_COMMIT, "") == 0;
    return refused ? int16_t{TVK_EFAIL} : scripted;
}

const TvkTable kTable{
    [](int32_t port, const OpenParam* param) -> int16_t {
        log("open " + std::to_string(port));
        fake().lastOpenParam = *param;
        return fake().openResult;
    },
    []() -> int16_t { return log("close"), 0; },
    [](int32_t mode, const CommInfo*) -> int16_t {
        log("disconnect " + std::to_string(mode));
        fake().disconnectModes.push_back(mode);
        return 0;
    },
    []() -> int16_t { return log("idtblclr"), fake().registeredIds.clear(), 0; },
    [](const char* id) -> int16_t {
        log(std::string("idtbladd ") + id);
        fake().registeredIds.emplace_back(id);
        return popOr<int16_t>(fake().idAddResults, 0);
    },
    [](int32_t* mode, int32_t boxCount) -> int16_t {
        log("polling " + std::to_string(boxCount) + " mode " + std::to_string(*mode));
        if (fake().onPoll) fake().onPoll();
        if (fake().stopPending.exchange(false)) return TVK_ESTOPPED;
        if (!fake().pollResults.empty()) return popOr<int16_t>(fake().pollResults, 0);
        stopped();
        return TVK_ESTOPPED;
    },
    [](CommInfo* info) { return readRecord("getcinffirst", info); },
    [](CommInfo* info) { return readRecord("getcinfnext", info); },
    [](const char* dir, CommInfo* info) { return transfer("filerecv", dir, info); },
    [](const char* pattern, CommInfo* info) { return transfer("filesend", pattern, info); },
    []() -> int16_t { return log("geterrinf"), popOr<int16_t>(fake().errWords, 0); },
    []() -> int16_t { return log("stopreq"), fake().stopPending = true, 0; },
    [](int32_t h, int32_t msg) -> int16_t { return log("sethwnd"), fake().hwnd = h, fake().hwndMsg = msg, 0; },
    [](char* buf) -> int16_t {
        const std::size_t n = std::min<std::size_t>(fake().fileName.size(), TVK_FNAME_LEN);
        std::memcpy(buf, fake().fileName.data(), n);
        if (n < TVK_FNAME_LEN) buf[n] = '\0';
        return 0;
    },
    [](tvk_notify_fn fn, void* user) -> int16_t { return fake().notify = fn, fake().notifyUser = user, 0; },
    [](tvk_pump_fn, void*) -> int16_t { return 0; },
    [](tvk_check_fn fn, void* user) -> int16_t { return fake().checkFn = fn, fake().checkUser = user, 0; },
};

}  // namespace

CommInfo makeRecord(const std::string& id, int32_t transDir, int32_t transType) {
    CommInfo info{};
    std::memcpy(info.htId, id.data(), std::min(id.size(), sizeof info.htId));
    info.transDir = transDir;
    info.transType = transType;
    return info;
}

FakeLine::FakeLine() { active = this; }
FakeLine::~FakeLine() { active = nullptr; }
const TvkTable& FakeLine::table() { return kTable; }

int FakeLine::calls(const std::string& fn) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::ranges::count_if(timeline, [&](const std::string& e) {
        return e.starts_with(fn) && (e.size() == fn.size() || e[fn.size()] == ' ');
    }));
}

void FakeLine::clearCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    timeline.clear();
    disconnectModes.clear();
    registeredIds.clear();
    transferTexts.clear();
    sentRecords.clear();
}

void FakeLine::log(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeline.push_back(entry);
}

}  // namespace quendril::test
