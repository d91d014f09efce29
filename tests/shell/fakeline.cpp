#include "fakeline.h"

#include <cstring>

namespace quendril::test {

namespace {
FakeLine* current = nullptr;

int16_t count(const char* fn) {
    ++current->counts[fn];
    if (current->onCall) current->onCall(fn);
    return 0;
}

const TvkTable kFakeTable = {
    [](int32_t, OpenParam*) -> int16_t {
        count("open");
        if (current->onOpen) current->onOpen();
        return current->openResult;
    },
    [] { return count("close"); },
    [](int32_t, CommInfo*) { return count("disconnect"); },
    [] { return count("idtblclr"); },
    [](char*) { return count("idtbladd"); },
    [](int32_t*, int32_t) -> int16_t {
        count("polling");
        return current->onPolling ? current->onPolling() : int16_t{0};
    },
    [](CommInfo*) -> int16_t {
        count("getcinffirst");
        return TVK_ENOMORE;
    },
    [](CommInfo*) -> int16_t {
        count("getcinfnext");
        return TVK_ENOMORE;
    },
    [](char*, CommInfo*) { return count("filerecv"); },
    [](char*, CommInfo*) { return count("filesend"); },
    [] { return count("geterrinf"); },
    [] { return count("stopreq"); },
    [](int32_t hwnd, int32_t msg) {
        current->hwnd = hwnd;
        current->hwndMsg = msg;
        return count("sethwnd");
    },
    [](char* buf) {
        std::memcpy(buf, current->fileName.data(), current->fileName.size());
        return count("getcomfname");
    },
    [](tvk_notify_fn fn, void* user) {
        current->notify = fn;
        current->notifyUser = user;
        return count("setnotify");
    },
    [](tvk_pump_fn fn, void* user) {
        current->pump = fn;
        current->pumpUser = user;
        return count("setpump");
    },
};
}  // namespace

FakeLine::FakeLine() : saved_(tvk()) {
    current = this;
    tvk() = kFakeTable;
}

FakeLine::~FakeLine() {
    tvk() = saved_;
    current = nullptr;
}

int FakeLine::calls(const std::string& fn) const {
    auto it = counts.find(fn);
    return it == counts.end() ? 0 : it->second;
}

}  // namespace quendril::test
