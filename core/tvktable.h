// Declarations of the terminal-link library as the program calls it.
// Every call goes through a table: the program's points at the linked
// library; tests pass a scripted fake.
#pragma once

#include <cstdint>

#include "tervolk.h"

namespace quendril {

using CommInfo = tvk_comminfo;
using OpenParam = tvk_openparam;

inline constexpr int32_t notifyMsg = TVK_NOTIFY_MSG;

struct TvkTable {
    int16_t (*open)(int32_t port, const OpenParam* param);
    int16_t (*close)();
    int16_t (*disconnect)(int32_t mode, const CommInfo* info);
    int16_t (*idtblclr)();
    int16_t (*idtbladd)(const char* id);
    int16_t (*polling)(int32_t* mode, int32_t boxCount);
    int16_t (*getcinffirst)(CommInfo* info);
    int16_t (*getcinfnext)(CommInfo* info);
    int16_t (*filerecv)(const char* dir, CommInfo* info);
    int16_t (*filesend)(const char* pattern, CommInfo* info);
    int16_t (*geterrinf)();
    int16_t (*stopreq)();
    int16_t (*sethwnd)(int32_t hwnd, int32_t msg);
    int16_t (*getcomfname)(char* buf);
    int16_t (*setnotify)(tvk_notify_fn fn, void* user);
    int16_t (*setpump)(tvk_pump_fn fn, void* user);
    int16_t (*setcheck)(tvk_check_fn fn, void* user);
};

// The linked library's functions.
const TvkTable& tvkLibrary();

}  // namespace quendril
