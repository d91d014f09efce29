// Start-up, "AUTO", Execute's window handling, the program's host and the
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

#include "qthost.h"
#include "windowfixture.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

bool boxSaid(const TestHost& host, const std::string& text) {
    for (const ShownBox& b : host.shown) {
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
// it runs Execute (the line cannot be opened: one box) and exits.
TEST_F(StartupTest, StartUpShowsTheWindowOrRunsAndExits) {
    const std::pair<const char*, bool> starts[] = {
        {"", false}, {"auto", true}, {"Auto", true}, {"AUTO x", false}, {"AUTOMATIC", false}};
    const std::string temp = (fs::current_path() / "TEMP").string();
    for (const auto& [words, runs] : starts) {
        SCOPED_TRACE(words);
        reset();
        host.shown.clear();
        line.counts.clear();
        load(words);
        EXPECT_EQ(tempDir, temp);
        EXPECT_TRUE(fs::is_directory(temp));
        EXPECT_TRUE(fs::exists("hostpc.ini"));
        EXPECT_EQ(line.calls("sethwnd"), 1);
        EXPECT_EQ(line.hwndMsg, notifyMsg);
        EXPECT_EQ(line.calls("open"), runs ? 1 : 0);
        EXPECT_EQ(boxSaid(host, "Open error"), runs);
        EXPECT_EQ(host.shown.size(), runs ? 1u : 0u);
        EXPECT_EQ(window->isVisible(), !runs);
        if (!runs) {
            EXPECT_EQ(line.hwnd, static_cast<int32_t>(window->winId()));
        }
        if (fs::exists(fs::path(temp) / "keep.dat")) continue;
        const QRect area = window->screen()->geometry();
        EXPECT_NEAR(window->frameGeometry().center().x(), area.center().x(), 2);
        EXPECT_NEAR(window->frameGeometry().center().y(), area.center().y(), 2);
        std::ofstream(fs::path(temp) / "keep.dat") << "x";
    }
    EXPECT_TRUE(fs::exists(fs::path(temp) / "keep.dat"));
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
    EXPECT_THROW(load(), ProgramEnded);
    EXPECT_FALSE(spy.shown);
    EXPECT_TRUE(boxSaid(host, "Environment settingfile error"));
    EXPECT_EQ(line.calls("sethwnd"), 0);
}

TEST_F(StartupTest, ExecuteLocksTheMenusDuringTheRunAndRestoresTheWindow) {
    load();
    line.fileName = "OLD.DAT";
    window->wndNotify_Message(notifyMsg, 10);
    std::string id = "HT0001";
    window->dispErrStat(id, 1);
    const std::vector<QAction*> locked = {ui().mnuTransmit, ui().mnuCommSet, ui().mnuBoxCountSet,
                                          ui().mnuFileSet,  ui().mnuMinimum, ui().mnuExit};
    std::vector<bool> enabledDuring;
    line.during["open"] = [&] {
        for (QAction* a : locked) enabledDuring.push_back(a->isEnabled());
        EXPECT_TRUE(ui().mnuSettingAction->isEnabled());
        EXPECT_TRUE(ui().mnuVersion->isEnabled());
        EXPECT_FALSE(ui().fraStatus->isHidden());
        EXPECT_FALSE(ui().cmdTransmitCancel->isHidden());
        EXPECT_EQ(shown(ui().lblFileName), "");
        EXPECT_EQ(shown(ui().lblErrorInfo), "");
        EXPECT_EQ(shown(ui().lblStatus), "Polling");
        EXPECT_EQ(window->currentIconCaption(), "POLLING");
    };
    stopRequested = true;
    window->mnuTransmit_Click();
    EXPECT_EQ(enabledDuring, std::vector<bool>(6, false));
    EXPECT_FALSE(stopRequested);
    for (QAction* a : locked) EXPECT_TRUE(a->isEnabled());
    for (QWidget* p : {static_cast<QWidget*>(ui().fraStatus), static_cast<QWidget*>(ui().cmdTransmitCancel),
                       static_cast<QWidget*>(ui().fraConnectionList)})
        EXPECT_TRUE(p->isHidden());
    EXPECT_EQ(window->currentIconCaption(), "QUENDRIL");
    EXPECT_TRUE(boxSaid(host, "Open error"));
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
    bool minimisedDuring = false;
    std::string titleDuring;
    line.during["open"] = [&] {
        minimisedDuring = window->isMinimized();
        titleDuring = title();
    };
    window->mnuTransmit_Click();
    EXPECT_TRUE(minimisedDuring);
    EXPECT_EQ(titleDuring, "POLLING");
    EXPECT_TRUE(window->isMinimized());
}

// Cancel asks the library to stop; Escape presses it, but only during a run.
TEST_F(StartupTest, CancelAndEscapeDuringARunAskTheLibraryToStop) {
    load();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(line.calls("stopreq"), 0);
    const std::function<void()> presses[] = {[this] { window->cmdTransmitCancel_Click(); },
                                             [this] { ui().cmdTransmitCancel->click(); },
                                             [this] { QTest::keyClick(window.get(), Qt::Key_Escape); }};
    for (const auto& press : presses) {
        bool stopSeen = false;
        line.during["open"] = [&] {
            press();
            stopSeen = stopRequested;
        };
        window->mnuTransmit_Click();
        EXPECT_TRUE(stopSeen);
    }
    EXPECT_EQ(line.calls("stopreq"), 3);
}

TEST_F(StartupTest, CloseWhileRunningStopsTheLibraryAndEndsAtOnce) {
    load();
    line.openResult = 0;
    bool cancelled = false;
    line.during["polling"] = [&] { window->Form_QueryUnload(cancelled); };
    EXPECT_THROW(window->mnuTransmit_Click(), ProgramEnded);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(host.endCount, 1);
    EXPECT_EQ(line.calls("stopreq"), 1);
    EXPECT_TRUE(stopRequested);
    EXPECT_EQ(line.calls("disconnect") + line.calls("close"), 0);
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
    EXPECT_EQ(host.endCount, 0);
    EXPECT_EQ(line.calls("stopreq"), 0);
}

TEST(QtHostTest, BoxesAreTitledWarningsAndGiveTheAnswer) {
    using B = QMessageBox;
    const struct {
        BoxButtons buttons;
        B::StandardButton press;  // NoButton: the close box
        int16_t answer;
    } rows[] = {{BoxButtons::Ok, B::Ok, kAnswerOk},           {BoxButtons::Ok, B::NoButton, kAnswerOk},
                {BoxButtons::RetryCancel, B::Retry, kAnswerRetry}, {BoxButtons::RetryCancel, B::Cancel, kAnswerCancel},
                {BoxButtons::RetryCancel, B::NoButton, kAnswerCancel}};
    QtHost qtHost;
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.press));
        onNextModal([r](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "QUENDRIL");
            EXPECT_EQ(box->text(), QString::fromLatin1("Open error\rCOM1 \xC4"));
            EXPECT_EQ(box->icon(), B::Warning);
            EXPECT_EQ(box->standardButtons(), r.buttons == BoxButtons::Ok ? B::Ok : B::Retry | B::Cancel);
            if (r.press == B::NoButton) box->close();
            else box->button(r.press)->click();
        });
        EXPECT_EQ(qtHost.messageBox("Open error\rCOM1 \xC4", r.buttons), r.answer);
    }
}

// A main window that says on stderr when its unload handling runs; during a
// run that handling ends the program at once.
struct ReportingWindow : QWidget {
    QtHost* host = nullptr;
    void closeEvent(QCloseEvent* e) override {
        std::fprintf(stderr, host ? "stop during run\n" : "unloaded\n");
        if (host) host->endProgram(7);
        e->accept();
    }
};

void endWith(bool running) {
    QtHost h;
    ReportingWindow w;
    if (running) w.host = &h;
    w.show();
    h.setMainWindow(&w);
    h.endProgram(3);
}

TEST(QtHostDeathTest, EndProgramUnloadsTheMainWindowAndExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endWith(false), ::testing::ExitedWithCode(3), "unloaded");
    EXPECT_EXIT(endWith(true), ::testing::ExitedWithCode(7), "stop during run");
}

using CloseDuringRunDeathTest = WindowTest;

TEST_F(CloseDuringRunDeathTest, CloseBoxDuringARunStopsTheLibraryAndExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QtHost qtHost;
            setHost(&qtHost);
            qtHost.setMainWindow(window.get());
            load();
            line.openResult = 0;
            line.trace = true;
            line.during["polling"] = [this] {
                window->close();
                std::fprintf(stderr, "close returned\n");
            };
            window->mnuTransmit_Click();
        },
        ::testing::ExitedWithCode(0), "polling;stopreq;$");
}

}  // namespace
}  // namespace quendril::test
