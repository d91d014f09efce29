// One main window per test, in a fresh work directory, with a recording
// host and a fake terminal-link library that counts every call, answers from
// a script and keeps what the window registers.
#pragma once

#include <QApplication>
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "frmQuendril.h"
#include "tempdir.h"
#include "testprompt.h"
#include "tvktable.h"

namespace quendril::test {

// The run calls the line on its own thread, so every count is kept under a
// lock. The line's open fails unless a test says otherwise; with `hold`, a
// poll or receive goes on (answering nothing, or streaming) until a stop.
struct FakeLine {
    int16_t openResult = -5;
    std::atomic<bool> hold{false};
    // A terminal answers the first poll and asks to send: the receive is held.
    std::atomic<bool> terminalSends{false};
    std::atomic<bool> stopped{false};
    // Runs inside the named call (on the run's thread) once it is counted.
    std::map<std::string, std::function<void()>> during;
    std::string fileName;
    int32_t hwnd = 0, hwndMsg = 0;
    tvk_notify_fn notify = nullptr;
    void* notifyUser = nullptr;

    FakeLine() { self() = this; }
    ~FakeLine() { self() = nullptr; }
    FakeLine(const FakeLine&) = delete;
    FakeLine& operator=(const FakeLine&) = delete;

    int calls(const std::string& fn) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = counts_.find(fn);
        return it == counts_.end() ? 0 : it->second;
    }
    void clearCounts() {
        std::lock_guard<std::mutex> lock(mutex_);
        counts_.clear();
    }
    const TvkTable& table() const { return table_; }

private:
    static FakeLine*& self() {
        static FakeLine* current = nullptr;
        return current;
    }
    static int16_t count(const char* fn) {
        {
            std::lock_guard<std::mutex> lock(self()->mutex_);
            ++self()->counts_[fn];
        }
        if (auto it = self()->during.find(fn); it != self()->during.end()) it->second();
        return 0;
    }
    // A held call waits for the stop and answers as the library does.
    static int16_t heldUntilStop(const char* fn) {
        count(fn);
        while (self()->hold && !self()->stopped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return self()->stopped.exchange(false) ? int16_t{TVK_ESTOPPED} : int16_t{0};
    }
    static TvkTable makeTable() {
        return {
            [](int32_t, OpenParam*) { count("open"); return self()->openResult; },
            [] { return count("close"); },
            [](int32_t, CommInfo*) { return count("disconnect"); },
            [] { return count("idtblclr"); },
            [](char*) { return count("idtbladd"); },
            [](int32_t*, int32_t) -> int16_t {
                if (self()->terminalSends.exchange(false)) return count("polling"), int16_t{1};
                const int16_t r = heldUntilStop("polling");
                return r != 0 ? r : int16_t{TVK_ESTOPPED};
            },
            [](CommInfo* info) -> int16_t {
                count("getcinffirst");
                std::memcpy(info->htId, "HT0001", TVK_ID_LEN);
                info->transDir = TVK_DIR_TO_PC;
                return 0;
            },
            [](CommInfo*) -> int16_t { count("getcinfnext"); return TVK_ENOMORE; },
            [](char*, CommInfo*) { return heldUntilStop("filerecv"); },
            [](char*, CommInfo*) { return count("filesend"); },
            [] { return count("geterrinf"); },
            [] {
                self()->stopped = true;
                return count("stopreq");
            },
            [](int32_t h, int32_t msg) {
                self()->hwnd = h;
                self()->hwndMsg = msg;
                return count("sethwnd");
            },
            [](char* buf) {
                std::memcpy(buf, self()->fileName.data(), std::min<std::size_t>(self()->fileName.size(), TVK_FNAME_LEN));
                return count("getcomfname");
            },
            [](tvk_notify_fn fn, void* user) {
                self()->notify = fn;
                self()->notifyUser = user;
                return count("setnotify");
            },
            [](tvk_pump_fn, void*) { return count("setpump"); },
            [](tvk_check_fn, void*) { return count("setcheck"); },
        };
    }
    mutable std::mutex mutex_;
    std::map<std::string, int> counts_;
    TvkTable table_ = makeTable();
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
    }
    // A new window, as at a program start.
    void reset() {
        window.reset();
        line.stopped = false;
        window = std::make_unique<frmQuendril>(line.table(), &prompt);
    }
    bool load(const std::string& commandLine = "") { return window->Form_Load(commandLine); }
    // Waits until the run in progress has ended; its end, or -1 when it did not within a few seconds.
    int waitForRunEnd() {
        QSignalSpy ended(window.get(), &frmQuendril::runEnded);
        if (!window->running() && ended.isEmpty()) return -1;
        if (!ended.wait(5000)) return -1;
        return ended.takeFirst().at(0).toInt();
    }
    // Execute, up to the end of the run.
    int execute() {
        QSignalSpy ended(window.get(), &frmQuendril::runEnded);
        window->mnuTransmit_Click();
        if (ended.isEmpty() && !ended.wait(5000)) return -1;
        return ended.takeFirst().at(0).toInt();
    }
    const MainWindowUi& ui() const { return window->ui(); }
    std::string title() const { return window->windowTitle().toStdString(); }

    ScopedWorkDir workDir;
    TestPrompt prompt;
    FakeLine line;
    std::unique_ptr<frmQuendril> window;
};

}  // namespace quendril::test
