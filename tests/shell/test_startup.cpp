// Start-up, "AUTO", Execute's window handling, the window's boxes and the
// ways the program ends.
#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "messages.h"
#include "windowprompt.h"
#include "windowfixture.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

bool boxSaid(const TestPrompt& prompt, const std::string& text) {
    for (const ShownBox& b : prompt.shown) {
        if (b.text.find(text) != std::string::npos) return true;
    }
    return false;
}

using StartupTest = WindowTest;

TEST(AutoCommand, OnlyTheWholeWordInAnyCaseRuns) {
    const std::pair<const char*, bool> rows[] = {
        {"AUTO", true},  {"auto", true}, {"Auto", true},  {"aUtO", true},   {"AUTO x", false}, {"AUTOMATIC", false},
        {"", false},     {" AUTO", false}, {"AUTO ", false}, {"x AUTO", false}, {"AUT", false}};
    for (const auto& [text, runs] : rows) EXPECT_EQ(isAutoCommand(text), runs) << '"' << text << '"';
}

// Each start creates TEMP (or keeps the one there with its files), registers
// the window with the library and shows it centred; with "AUTO" in any case
// it runs Execute without a box (the line cannot be opened: its text goes to
// standard error) and ends with status 3.
TEST_F(StartupTest, StartUpShowsTheWindowOrRunsAndExits) {
    const std::pair<const char*, bool> starts[] = {
        {"", false}, {"auto", true}, {"Auto", true}, {"AUTO x", false}, {"AUTOMATIC", false}};
    const fs::path temp = fs::current_path() / "TEMP";
    for (const auto& [words, runs] : starts) {
        SCOPED_TRACE(words);
        reset();
        prompt.shown.clear();
        line.clearCounts();
        testing::internal::CaptureStderr();
        ASSERT_TRUE(load(words));
        if (runs) {
            EXPECT_EQ(waitForRunEnd(), 3);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(fs::is_directory(temp));
        EXPECT_TRUE(fs::exists("hostpc.ini"));
        EXPECT_EQ(line.calls("sethwnd"), 1);
        EXPECT_EQ(line.hwndMsg, notifyMsg);
        EXPECT_EQ(line.calls("open"), runs ? 1 : 0);
        EXPECT_EQ(err.find("QUENDRIL: Open error COM0") != std::string::npos, runs) << err;
        EXPECT_TRUE(prompt.shown.empty());
        EXPECT_EQ(window->isVisible(), !runs);
        EXPECT_EQ(window->exitStatus(), runs ? 3 : 0);
        if (!runs) {
            EXPECT_EQ(line.hwnd, static_cast<int32_t>(window->winId()));
        }
        if (fs::exists(temp / "keep.dat")) continue;
        const QRect area = window->screen()->geometry();
        EXPECT_NEAR(window->frameGeometry().center().x(), area.center().x(), 2);
        EXPECT_NEAR(window->frameGeometry().center().y(), area.center().y(), 2);
        std::ofstream(temp / "keep.dat") << "x";
    }
    EXPECT_TRUE(fs::exists(temp / "keep.dat"));
}

// Records whether a widget was ever shown.
struct ShowSpy : QObject {
    bool shown = false;
    bool eventFilter(QObject*, QEvent* e) override {
        shown = shown || e->type() == QEvent::Show;
        return false;
    }
};

TEST_F(StartupTest, DamagedSettingsFileEndsTheProgramBeforeTheWindowShows) {
    std::ofstream("hostpc.ini", std::ios::binary)
        << "HOSTPC.IN_16000308000100500300003\r\n.\r\n.\r\n.\r\nALL\r\nHOSTPCID.INF\r\n\r\n";
    ShowSpy spy;
    window->installEventFilter(&spy);
    EXPECT_FALSE(load());
    EXPECT_FALSE(spy.shown);
    EXPECT_TRUE(boxSaid(prompt, "Environment settingfile error"));
    EXPECT_EQ(window->exitStatus(), 2);
    EXPECT_EQ(line.calls("sethwnd"), 0);
}

// The run works on its own thread: while it polls, the window shows it and
// keeps its menus locked; the Version dialog may open without holding the line.
TEST_F(StartupTest, ExecuteLocksTheMenusDuringTheRunAndRestoresTheWindow) {
    load();
    window->wndNotify_Message(notifyMsg, 10, "OLD.DAT");
    window->dispErrStat("HT0001", 1);
    const std::vector<QAction*> locked = {ui().mnuTransmit, ui().mnuCommSet, ui().mnuBoxCountSet,
                                          ui().mnuFileSet,  ui().mnuMinimum, ui().mnuExit};
    line.openResult = 0;
    line.hold = true;
    window->mnuTransmit_Click();
    for (QAction* a : locked) EXPECT_FALSE(a->isEnabled());
    EXPECT_TRUE(ui().mnuSettingAction->isEnabled());
    EXPECT_TRUE(ui().mnuVersion->isEnabled());
    EXPECT_FALSE(ui().fraStatus->isHidden());
    EXPECT_FALSE(ui().cmdTransmitCancel->isHidden());
    EXPECT_EQ(shown(ui().lblFileName), "");
    EXPECT_EQ(shown(ui().lblErrorInfo), "");
    QTRY_COMPARE(shown(ui().lblStatus), std::string("Polling"));
    EXPECT_EQ(window->currentIconCaption(), "POLLING");
    // The Version dialog's own loop leaves the line to the run.
    int pollsWhileOpen = -1;
    onNextModal([&](QWidget* dlg) {
        const int before = line.calls("polling");
        QTest::qWait(50);
        pollsWhileOpen = line.calls("polling") - before;
        dlg->close();
    });
    window->mnuVersion_Click();
    EXPECT_EQ(pollsWhileOpen, 0) << "one poll call is held open: it must still be running, not restarted";
    EXPECT_TRUE(window->running());
    window->cmdTransmitCancel_Click();
    EXPECT_EQ(waitForRunEnd(), 0);
    for (QAction* a : locked) EXPECT_TRUE(a->isEnabled());
    for (QWidget* p : {static_cast<QWidget*>(ui().fraStatus), static_cast<QWidget*>(ui().cmdTransmitCancel),
                       static_cast<QWidget*>(ui().fraConnectionList)})
        EXPECT_TRUE(p->isHidden());
    EXPECT_EQ(window->currentIconCaption(), "QUENDRIL");
    EXPECT_EQ(line.calls("close"), 1);
    // A line that cannot be opened: its box, and nothing to close.
    line.openResult = -5;
    line.clearCounts();
    EXPECT_EQ(execute(), 3);
    EXPECT_TRUE(boxSaid(prompt, "Open error"));
    EXPECT_EQ(line.calls("disconnect") + line.calls("close"), 0);
}

// The item turns its mark over; when marked, the run starts minimised.
TEST_F(StartupTest, IconModeMinimisesAtTheStartAndStaysMinimised) {
    load();
    EXPECT_TRUE(ui().mnuMinimum->isCheckable());
    for (bool mark : {true, false, true}) {
        window->mnuMinimum_Click();
        EXPECT_EQ(ui().mnuMinimum->isChecked(), mark);
    }
    ui().mnuMinimum->trigger();
    EXPECT_FALSE(ui().mnuMinimum->isChecked());
    window->mnuMinimum_Click();
    window->mnuTransmit_Click();
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(title(), "POLLING");
    waitForRunEnd();
    EXPECT_TRUE(window->isMinimized());
}

// Cancel, its button and Escape stop a running receive; Escape does nothing
// while idle. Closing the window, SIGINT and SIGTERM stop it too and then end
// the program: in every case the line is released first.
TEST_F(StartupTest, EveryStopAbortsTheRunningTransferAndReleasesTheLine) {
    load();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(line.calls("stopreq"), 0);
    const struct {
        const char* name;
        std::function<void()> stop;
        bool ends;
        int status;
    } stops[] = {
        {"Cancel", [this] { window->cmdTransmitCancel_Click(); }, false, 0},
        {"button", [this] { ui().cmdTransmitCancel->click(); }, false, 0},
        {"Escape", [this] { QTest::keyClick(window.get(), Qt::Key_Escape); }, false, 0},
        {"close box", [this] { window->close(); }, true, 0},
        {"SIGINT", [this] { window->stopAndEnd(130); }, true, 130},
        {"SIGTERM", [this] { window->stopAndEnd(143); }, true, 143},
    };
    for (const auto& s : stops) {
        SCOPED_TRACE(s.name);
        reset();
        ASSERT_TRUE(load());
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        line.clearCounts();
        line.openResult = 0;
        line.hold = true;
        line.terminalSends = true;
        window->mnuTransmit_Click();
        QTRY_VERIFY(line.calls("filerecv") > 0);
        s.stop();
        EXPECT_TRUE(window->isVisible() || s.ends);
        EXPECT_GE(waitForRunEnd(), 0);
        EXPECT_EQ(line.calls("stopreq"), 1);
        EXPECT_EQ(line.calls("close"), 1);
        EXPECT_FALSE(window->running());
        EXPECT_EQ(window->isVisible(), !s.ends);
        EXPECT_EQ(window->exitStatus(), s.status);
    }
}

// Settings dialogs stay loaded (hidden) between uses, the Version dialog does
// not; Exit while idle unloads every window, the hidden dialog too.
TEST_F(StartupTest, ExitWhileIdleUnloadsEveryWindowIncludingHiddenDialogs) {
    load();
    QPointer<QDialog> fileSet;
    for (int use = 0; use < 2; ++use) {
        onNextModal([](QWidget* dlg) { dlg->close(); });
        window->mnuFileSet_Click();
        if (use == 1) {
            EXPECT_EQ(window->loadedFileSet(), fileSet.data());
        }
        fileSet = window->loadedFileSet();
        ASSERT_TRUE(fileSet);
        EXPECT_TRUE(fileSet->isHidden());
    }
    onNextModal([](QWidget* dlg) { dlg->close(); });
    window->mnuVersion_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->inherits("quendril::frmVersion"));
    QWidget other;
    other.show();
    bool cancel = false;
    window->Form_QueryUnload(cancel);
    EXPECT_FALSE(cancel);
    ui().mnuExit->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(fileSet);
    EXPECT_EQ(window->loadedFileSet(), nullptr);
    EXPECT_FALSE(other.isVisible());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(line.calls("stopreq"), 0);
}

// The same boxes whether asked on the window's thread or by a run on its own.
TEST(WindowPromptTest, BoxesAreTitledWarningsAndGiveTheAnswer) {
    using B = QMessageBox;
    const Failure open{FailureKind::App, kAppErrOpen, "COM1 \xC4", "", FailureArea::Line};
    const Failure deviceIo{FailureKind::File, kFileErrDeviceIo, "X", "", FailureArea::Files};
    const struct {
        const Failure* failure;
        B::StandardButton press;  // NoButton: the close box
        BoxAnswer answer;
    } rows[] = {{&open, B::Ok, kAnswerOk},
                {&open, B::NoButton, kAnswerOk},
                {&deviceIo, B::Retry, kAnswerRetry},
                {&deviceIo, B::Cancel, kAnswerCancel},
                {&deviceIo, B::NoButton, kAnswerCancel}};
    WindowPrompt windowPrompt;
    for (bool fromRun : {false, true}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(static_cast<int>(r.press));
            const MessageRule rule = messageRule(*r.failure);
            onNextModal([r, rule](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle(), "QUENDRIL");
                EXPECT_EQ(box->text(), QString::fromLatin1(rule.text));
                EXPECT_EQ(box->icon(), B::Warning);
                EXPECT_EQ(box->standardButtons(), rule.buttons == BoxButtons::Ok ? B::Ok : B::Retry | B::Cancel);
                if (r.press == B::NoButton) box->close();
                else box->button(r.press)->click();
            });
            BoxAnswer answer = kAnswerRetry;
            if (fromRun) {
                std::atomic<bool> done{false};
                std::thread worker([&] {
                    answer = windowPrompt.show(*r.failure);
                    done = true;
                });
                QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
                worker.join();
            } else {
                answer = windowPrompt.show(*r.failure);
            }
            EXPECT_EQ(answer, r.answer);
        }
    }
    EXPECT_EQ(messageRule(open).text, "Open error\rCOM1 \xC4");
}

}  // namespace
}  // namespace quendril::test
