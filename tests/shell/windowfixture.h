// One main window per test, in a fresh work directory, with a recording
// host and a fake terminal-link library that counts every call, answers from
// a script and keeps what the window registers.
#pragma once

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "tvktable.h"
#include "declar.h"
#include "frmQuendril.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

struct FakeLine {
    std::map<std::string, int> counts;
    int16_t openResult = -5;
    // Run inside the named call once it is counted, before it answers.
    std::map<std::string, std::function<void()>> during;
    bool trace = false;  // writes "name;" to stderr for each call
    std::string fileName;
    int32_t hwnd = 0, hwndMsg = 0;
    tvk_notify_fn notify = nullptr;
    void* notifyUser = nullptr;
    tvk_pump_fn pump = nullptr;
    void* pumpUser = nullptr;

    FakeLine() : saved_(tvk()) { self() = this; tvk() = table(); }
    ~FakeLine() { tvk() = saved_; self() = nullptr; }
    FakeLine(const FakeLine&) = delete;
    FakeLine& operator=(const FakeLine&) = delete;

    int calls(const std::string& fn) const {
        auto it = counts.find(fn);
        return it == counts.end() ? 0 : it->second;
    }

private:
    static FakeLine*& self() {
        static FakeLine* current = nullptr;
        return current;
    }
    static int16_t count(const char* fn) {
        ++self()->counts[fn];
        if (self()->trace) std::fprintf(stderr, "%s;", fn);
        if (auto it = self()->during.find(fn); it != self()->during.end()) it->second();
        return 0;
    }
    static TvkTable table() {
        return {
            [](int32_t, OpenParam*) { count("open"); return self()->openResult; },
            [] { return count("close"); },
            [](int32_t, CommInfo*) { return count("disconnect"); },
            [] { return count("idtblclr"); },
            [](char*) { return count("idtbladd"); },
            [](int32_t*, int32_t) { return count("polling"); },
            [](CommInfo*) -> int16_t { count("getcinffirst"); return TVK_ENOMORE; },
            [](CommInfo*) -> int16_t { count("getcinfnext"); return TVK_ENOMORE; },
            [](char*, CommInfo*) { return count("filerecv"); },
            [](char*, CommInfo*) { return count("filesend"); },
            [] { return count("geterrinf"); },
            [] { return count("stopreq"); },
            [](int32_t h, int32_t msg) {
                self()->hwnd = h;
                self()->hwndMsg = msg;
                return count("sethwnd");
            },
            [](char* buf) {
                std::memcpy(buf, self()->fileName.data(), self()->fileName.size());
                return count("getcomfname");
            },
            [](tvk_notify_fn fn, void* user) {
                self()->notify = fn;
                self()->notifyUser = user;
                return count("setnotify");
            },
            [](tvk_pump_fn fn, void* user) {
                self()->pump = fn;
                self()->pumpUser = user;
                return count("setpump");
            },
            [](tvk_check_fn, void*) { return count("setcheck"); },
        };
    }
    TvkTable saved_;
};


inline std::string shown(const QLabel* l) { return l->text().toLatin1().toStdString(); }

// Runs act on the next modal window as soon as it is open.
inline void onNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->deleteLater();
            timer->stop();
            act(w);
        }
    });
    timer->start();
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tempDir.clear();
    }
    // A new window, as at a program start.
    void reset() {
        tempDir.clear();
        stopRequested = false;
        window = std::make_unique<frmQuendril>();
    }
    void load(const std::string& commandLine = "") { window->Form_Load(commandLine); }
    const MainWindowUi& ui() const { return window->ui(); }
    std::string title() const { return window->windowTitle().toStdString(); }

    ScopedWorkDir workDir;
    TestHost host;
    FakeLine line;
    std::unique_ptr<frmQuendril> window;
};

}  // namespace quendril::test
