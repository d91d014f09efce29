// A terminal-link library for the window tests: records every call and
// answers from a script; installed as the program's tvk() table.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "Module1.h"

namespace quendril::test {

struct FakeLine {
    FakeLine();
    ~FakeLine();
    FakeLine(const FakeLine&) = delete;
    FakeLine& operator=(const FakeLine&) = delete;

    int calls(const std::string& fn) const;

    std::map<std::string, int> counts;
    int16_t openResult = -5;
    // Runs inside tvk_polling; the default reports no terminal.
    std::function<int16_t()> onPolling;
    // Runs inside tvk_open, before it answers.
    std::function<void()> onOpen;
    // Runs inside every library call after it is counted.
    std::function<void(const char* fn)> onCall;
    std::string fileName;
    int32_t hwnd = 0;
    int32_t hwndMsg = 0;
    tvk_notify_fn notify = nullptr;
    void* notifyUser = nullptr;
    tvk_pump_fn pump = nullptr;
    void* pumpUser = nullptr;

private:
    TvkTable saved_;
};

}  // namespace quendril::test
