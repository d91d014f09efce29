// Start-up, "AUTO", Execute's window handling and the ways the program ends.
#include <QAction>
#include <QDialog>
#include <QPushButton>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "windowfixture.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

// Records whether a widget was ever shown.
class ShowSpy : public QObject {
public:
    bool shown = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) shown = true;
        return false;
    }
};

bool boxSaid(const TestHost& host, const std::string& text) {
    for (const ShownBox& b : host.shown) {
        if (b.text.find(text) != std::string::npos) return true;
    }
    return false;
}

using StartupTest = WindowTest;

TEST(AutoCommand, OnlyTheWholeWordInAnyCaseRuns) {
    const struct {
        const char* line;
        bool runs;
    } rows[] = {{"AUTO", true},       {"auto", true},   {"Auto", true},  {"aUtO", true},
                {"AUTO x", false},    {"AUTOMATIC", false}, {"", false}, {" AUTO", false},
                {"AUTO ", false},     {"x AUTO", false},    {"AUT", false}};
    for (const auto& r : rows) EXPECT_EQ(isAutoCommand(r.line), r.runs) << '"' << r.line << '"';
}

TEST_F(StartupTest, StartUpCreatesTempDirAndShowsTheWindowCentred) {
    load();
    const std::string expected = (fs::current_path() / "TEMP").string();
    EXPECT_EQ(tempDir, expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_TRUE(fs::exists("hostpc.ini"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(line.calls("sethwnd"), 1);
    EXPECT_EQ(line.hwndMsg, notifyMsg);
    EXPECT_EQ(line.hwnd, static_cast<int32_t>(window->winId()));
    EXPECT_EQ(line.calls("open"), 0);
    EXPECT_TRUE(host.shown.empty());
    const QRect area = window->screen()->geometry();
    EXPECT_NEAR(window->frameGeometry().center().x(), area.center().x(), 2);
    EXPECT_NEAR(window->frameGeometry().center().y(), area.center().y(), 2);
}

TEST_F(StartupTest, ExistingTempDirIsKept) {
    fs::create_directory("TEMP");
    std::ofstream(fs::path("TEMP") / "keep.dat") << "x";
    load();
    EXPECT_TRUE(fs::exists(fs::path("TEMP") / "keep.dat"));
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(StartupTest, DamagedSettingsFileEndsTheProgramBeforeTheWindowShows) {
    std::ofstream("hostpc.ini", std::ios::binary)
        << "HOSTPC.IN_16000308000100500300003\r\n.\r\n.\r\n.\r\nALL\r\nHOSTPCID.INF\r\n\r\n";
    ShowSpy spy;
    window->installEventFilter(&spy);
    EXPECT_THROW(load(), ProgramEnded);
    EXPECT_FALSE(spy.shown);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(boxSaid(host, "Environment settingfile error"));
    EXPECT_EQ(line.calls("sethwnd"), 0);
}

TEST_F(StartupTest, AutoInAnyCaseRunsExecuteThenExits) {
    for (const char* word : {"auto", "Auto"}) {
        SCOPED_TRACE(word);
        window = std::make_unique<frmQuendril>();
        tempDir.clear();
        host.shown.clear();
        line.counts.clear();
        load(word);
        EXPECT_EQ(line.calls("open"), 1);
        // The line could not be opened: one box, and the program still exits.
        EXPECT_TRUE(boxSaid(host, "Open error"));
        EXPECT_FALSE(window->isVisible());
    }
}

TEST_F(StartupTest, OtherArgumentsLeaveTheWindowWaiting) {
    for (const char* words : {"AUTO x", "AUTOMATIC", ""}) {
        SCOPED_TRACE(words);
        window = std::make_unique<frmQuendril>();
        tempDir.clear();
        load(words);
        EXPECT_EQ(line.calls("open"), 0);
        EXPECT_TRUE(window->isVisible());
    }
}

TEST_F(StartupTest, ExecuteDisablesMenusDuringTheRunAndRestoresThem) {
    load();
    line.fileName = "OLD.DAT";
    window->wndNotify_Message(notifyMsg, 10);
    std::string id = "HT0001";
    window->dispErrStat(id, 1);
    const std::vector<QAction*> locked = {ui().mnuTransmit, ui().mnuCommSet, ui().mnuUnyoSet,
                                          ui().mnuFileSet,  ui().mnuMinimum, ui().mnuExit};
    std::vector<bool> enabledDuring;
    bool panelsDuring = false;
    std::string fileNameDuring = "?", errorDuring = "?";
    line.onOpen = [&] {
        for (QAction* a : locked) enabledDuring.push_back(a->isEnabled());
        EXPECT_TRUE(ui().mnuSettingAction->isEnabled());
        EXPECT_TRUE(ui().mnuVersion->isEnabled());
        panelsDuring = !ui().fraStatus->isHidden() && !ui().cmdTransmitCancel->isHidden();
        fileNameDuring = shown(ui().lblFileName);
        errorDuring = shown(ui().lblErrorInfo);
        EXPECT_EQ(shown(ui().lblStatus), "Polling");
        EXPECT_EQ(window->currentIconCaption(), "POLLING");
    };
    stopRequested = true;
    window->mnuTransmit_Click();
    EXPECT_EQ(enabledDuring, std::vector<bool>(6, false));
    EXPECT_TRUE(panelsDuring);
    EXPECT_EQ(fileNameDuring, "");
    EXPECT_EQ(errorDuring, "");
    EXPECT_FALSE(stopRequested);
    for (QAction* a : locked) EXPECT_TRUE(a->isEnabled());
    EXPECT_TRUE(ui().fraStatus->isHidden());
    EXPECT_TRUE(ui().cmdTransmitCancel->isHidden());
    EXPECT_TRUE(ui().fraConnectionList->isHidden());
    EXPECT_EQ(window->currentIconCaption(), "QUENDRIL");
    EXPECT_TRUE(boxSaid(host, "Open error"));
    EXPECT_EQ(line.calls("disconnect"), 0);
    EXPECT_EQ(line.calls("close"), 0);
}

TEST_F(StartupTest, IconModeMinimisesAtTheStartAndStaysMinimised) {
    load();
    window->mnuMinimum_Click();
    bool minimisedDuring = false;
    std::string titleDuring;
    line.onOpen = [&] {
        minimisedDuring = window->isMinimized();
        titleDuring = window->windowTitle().toStdString();
    };
    window->mnuTransmit_Click();
    EXPECT_TRUE(minimisedDuring);
    EXPECT_EQ(titleDuring, "POLLING");
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(StartupTest, EscapeDuringARunPressesCancel) {
    load();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(line.calls("stopreq"), 0);
    line.onOpen = [&] { QTest::keyClick(window.get(), Qt::Key_Escape); };
    window->mnuTransmit_Click();
    EXPECT_EQ(line.calls("stopreq"), 1);
}

TEST_F(StartupTest, CloseWhileRunningStopsTheLibraryAndEndsAtOnce) {
    load();
    line.openResult = 0;
    bool cancelled = false;
    line.onPolling = [&]() -> int16_t {
        window->Form_QueryUnload(cancelled);
        return 0;
    };
    EXPECT_THROW(window->mnuTransmit_Click(), ProgramEnded);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(host.endCount, 1);
    EXPECT_EQ(line.calls("stopreq"), 1);
    EXPECT_TRUE(stopRequested);
    EXPECT_EQ(line.calls("disconnect"), 0);
    EXPECT_EQ(line.calls("close"), 0);
}

TEST_F(StartupTest, CloseWhileIdleUnloadsEveryWindowIncludingHiddenDialogs) {
    load();
    onNextModal([](QWidget* dlg) { dlg->close(); });
    window->mnuFileSet_Click();
    QPointer<QDialog> fileSet = window->loadedFileSet();
    ASSERT_TRUE(fileSet);
    EXPECT_TRUE(fileSet->isHidden());
    // The same instance comes back on the next use.
    onNextModal([](QWidget* dlg) { dlg->close(); });
    window->mnuFileSet_Click();
    EXPECT_EQ(window->loadedFileSet(), fileSet.data());

    QWidget other;
    other.show();
    bool cancel = false;
    window->Form_QueryUnload(cancel);
    EXPECT_FALSE(cancel);
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(fileSet);
    EXPECT_EQ(window->loadedFileSet(), nullptr);
    EXPECT_FALSE(other.isVisible());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(host.endCount, 0);
    EXPECT_EQ(line.calls("stopreq"), 0);
}

TEST_F(StartupTest, ExitItemClosesAndVersionLeavesNothingLoaded) {
    load();
    onNextModal([](QWidget* dlg) { dlg->close(); });
    window->mnuVersion_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int versionWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("quendril::frmVersion")) ++versionWindows;
    }
    EXPECT_EQ(versionWindows, 0);
    ui().mnuExit->trigger();
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace quendril::test
