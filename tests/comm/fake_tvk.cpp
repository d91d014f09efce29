#include <cstring>

#include "commfixture.h"

namespace quendril::test {

FakeTvk* FakeTvk::active = nullptr;

namespace {

FakeTvk& fake() { return *FakeTvk::active; }
void log(const std::string& entry) { fake().timeline.push_back(entry); }

template <typename T>
T popOr(std::deque<T>& q, T otherwise) {
    if (q.empty()) return otherwise;
    T v = q.front();
    q.pop_front();
    return v;
}

int16_t readRecord(const char* name, CommInfo* info) {
    log(name);
    if (fake().records.empty()) return TVK_ENOMORE;
    const RecordAnswer a = popOr(fake().records, RecordAnswer{});
    *info = a.info;
    return a.result;
}

int16_t transfer(const std::string& name, char* text, CommInfo* info) {
    log(name + " " + text);
    fake().transferTexts.emplace_back(text);
    if (name == "filesend") fake().sentRecords.push_back(*info);
    if (fake().onTransfer) fake().onTransfer(text, *info);
    const int16_t scripted = popOr<int16_t>(fake().jobResults, 0);
    if (fake().stopPending.exchange(false)) return TVK_ESTOPPED;
    // As the library does: a receive that stored everything asks whether
    // the terminal may be told, and fails when the answer is no.
    if (name == "filerecv" && scripted >= 0 && fake().checkFn &&
        fake().checkFn(fake().checkUser, TVK_CHECK_COMMIT, "") == 0) {
        return TVK_EFAIL;
    }
    return scripted;
}

const TvkTable kFakeTable{
    [](int32_t port, OpenParam* param) -> int16_t {
        log("open " + std::to_string(port));
        fake().lastOpenParam = *param;
        return fake().openResult;
    },
    []() -> int16_t { return log("close"), 0; },
    [](int32_t mode, CommInfo*) -> int16_t {
        log("disconnect " + std::to_string(mode));
        fake().disconnectModes.push_back(mode);
        return 0;
    },
    []() -> int16_t {
        log("idtblclr");
        fake().registeredIds.clear();
        return 0;
    },
    [](char* id) -> int16_t {
        log(std::string("idtbladd ") + id);
        fake().registeredIds.emplace_back(id);
        return popOr<int16_t>(fake().idAddResults, 0);
    },
    [](int32_t* mode, int32_t boxCount) -> int16_t {
        log("polling " + std::to_string(boxCount) + " mode " + std::to_string(*mode));
        if (fake().onPoll) fake().onPoll();
        return fake().stopPending.exchange(false) ? int16_t{TVK_ESTOPPED}
                                                  : popOr<int16_t>(fake().pollResults, TVK_ESTOPPED);
    },
    [](CommInfo* info) { return readRecord("getcinffirst", info); },
    [](CommInfo* info) { return readRecord("getcinfnext", info); },
    [](char* dir, CommInfo* info) { return transfer("filerecv", dir, info); },
    [](char* pattern, CommInfo* info) { return transfer("filesend", pattern, info); },
    []() -> int16_t { return log("geterrinf"), popOr<int16_t>(fake().errWords, 0); },
    // Not logged: a stop may come from another thread.
    []() -> int16_t { return fake().stopPending = true, 0; },
    [](int32_t, int32_t) -> int16_t { return 0; },
    [](char* buf) -> int16_t { return buf[0] = '\0', 0; },
    [](tvk_notify_fn, void*) -> int16_t { return 0; },
    [](tvk_pump_fn, void*) -> int16_t { return 0; },
    [](tvk_check_fn fn, void* user) -> int16_t {
        fake().checkFn = fn;
        fake().checkUser = user;
        return 0;
    },
};

}  // namespace

CommInfo makeRecord(const std::string& id, int32_t transDir, int32_t transType) {
    CommInfo info{};
    std::memcpy(info.htId, id.data(), std::min(id.size(), sizeof info.htId));
    info.transDir = transDir;
    info.transType = transType;
    return info;
}

FakeTvk::FakeTvk(std::vector<std::string>& log) : timeline(log) { active = this; }

FakeTvk::~FakeTvk() { active = nullptr; }

const TvkTable& FakeTvk::table() { return kFakeTable; }

int FakeTvk::calls(const std::string& name) const {
    return static_cast<int>(std::count_if(timeline.begin(), timeline.end(), [&](const std::string& e) {
        return e == name || e.rfind(name + " ", 0) == 0;
    }));
}

std::vector<std::string> entriesWith(const std::vector<std::string>& timeline, const std::string& prefix) {
    std::vector<std::string> out;
    std::copy_if(timeline.begin(), timeline.end(), std::back_inserter(out),
                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return out;
}

}  // namespace quendril::test
