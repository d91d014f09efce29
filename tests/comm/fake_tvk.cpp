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

int16_t fakeOpen(int32_t port, OpenParam* param) {
    log("open " + std::to_string(port));
    fake().lastOpenParam = *param;
    return fake().openResult;
}
int16_t fakeClose() {
    log("close");
    return 0;
}
int16_t fakeDisconnect(int32_t mode, CommInfo* info) {
    log("disconnect " + std::to_string(mode));
    fake().disconnectModes.push_back(mode);
    fake().disconnectSeen.push_back(*info);
    fake().disconnectRecords.push_back(info);
    std::memset(info->aux1, 'x', sizeof info->aux1);  // the library may write into the record
    return 0;
}
int16_t fakeIdtblclr() {
    log("idtblclr");
    fake().registeredIds.clear();
    return 0;
}
int16_t fakeIdtbladd(char* id) {
    log(std::string("idtbladd ") + id);
    fake().registeredIds.emplace_back(id);
    return popOr<int16_t>(fake().idAddResults, 0);
}
int16_t fakePolling(int32_t* mode, int32_t boxCount) {
    log("polling " + std::to_string(boxCount) + " mode " + std::to_string(*mode));
    if (fake().onPoll) fake().onPoll();
    if (fake().takeStop()) return TVK_ESTOPPED;
    return popOr<int16_t>(fake().pollResults, TVK_ESTOPPED);
}
int16_t readRecord(const char* name, CommInfo* info) {
    log(name);
    if (fake().records.empty()) return TVK_ENOMORE;
    const RecordAnswer a = popOr(fake().records, RecordAnswer{});
    *info = a.info;
    return a.result;
}
int16_t fakeFirst(CommInfo* info) { return readRecord("getcinffirst", info); }
int16_t fakeNext(CommInfo* info) { return readRecord("getcinfnext", info); }
int16_t transfer(const std::string& name, char* text, CommInfo* info) {
    log(name + " " + text);
    fake().transferTexts.emplace_back(text);
    if (name == "filesend") fake().sentRecords.push_back(*info);
    if (fake().onTransfer) fake().onTransfer(text, *info);
    const int16_t scripted = popOr<int16_t>(fake().jobResults, 0);
    return fake().takeStop() ? int16_t{TVK_ESTOPPED} : scripted;
}
int16_t fakeFilerecv(char* dir, CommInfo* info) { return transfer("filerecv", dir, info); }
int16_t fakeFilesend(char* pattern, CommInfo* info) { return transfer("filesend", pattern, info); }
int16_t fakeGeterrinf() {
    log("geterrinf");
    return popOr<int16_t>(fake().errWords, 0);
}
int16_t fakeStopreq() {
    log("stopreq");
    fake().requestStop();
    return 0;
}
int16_t fakeSethwnd(int32_t, int32_t) { return 0; }
int16_t fakeGetcomfname(char* buf) {
    buf[0] = '\0';
    return 0;
}
int16_t fakeSetnotify(tvk_notify_fn, void*) { return 0; }
int16_t fakeSetpump(tvk_pump_fn, void*) { return 0; }

const TvkTable kFakeTable{
    fakeOpen,    fakeClose,       fakeDisconnect, fakeIdtblclr, fakeIdtbladd,  fakePolling,
    fakeFirst,   fakeNext,        fakeFilerecv,   fakeFilesend, fakeGeterrinf, fakeStopreq,
    fakeSethwnd, fakeGetcomfname, fakeSetnotify,  fakeSetpump,
};

}  // namespace

CommInfo makeRecord(const std::string& id, int32_t transDir, int32_t transType) {
    CommInfo info{};
    std::memcpy(info.htId, id.data(), std::min(id.size(), sizeof info.htId));
    info.transDir = transDir;
    info.transType = transType;
    return info;
}

FakeTvk::FakeTvk(std::vector<std::string>& log) : timeline(log), saved_(tvk()) {
    active = this;
    tvk() = kFakeTable;
}

FakeTvk::~FakeTvk() {
    tvk() = saved_;
    active = nullptr;
}

int FakeTvk::calls(const std::string& name) const {
    return static_cast<int>(std::count_if(timeline.begin(), timeline.end(), [&](const std::string& e) {
        return e == name || e.rfind(name + " ", 0) == 0;
    }));
}

void pressCancel() {
    tvk().stopreq();
    stopRequested = true;
}

void RecordingView::dispStatus(int16_t stat, int16_t kind, const std::string& htid) {
    timeline_.push_back("status " + std::to_string(stat) + " " + std::to_string(kind) + " " + htid);
}
void RecordingView::dispHTID(int16_t winNum, const std::string& htid, int16_t stat) {
    if (!htid.empty()) highestCell = std::max<int>(highestCell, winNum);
    timeline_.push_back("cell " + std::to_string(winNum) + " " + (htid.empty() ? "clear" : htid) + " " +
                        std::to_string(stat));
}
void RecordingView::dispErrStat(std::string& htid, int16_t errCode) {
    timeline_.push_back("err " + htid + " " + std::to_string(errCode));
}

std::vector<std::string> entriesWith(const std::vector<std::string>& timeline, const std::string& prefix) {
    std::vector<std::string> out;
    std::copy_if(timeline.begin(), timeline.end(), std::back_inserter(out),
                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return out;
}

}  // namespace quendril::test
