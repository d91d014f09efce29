// The main window over the scripted line (whose open fails unless a test
// says otherwise) and a recording prompt: start-up, "AUTO", Execute's window
// handling, the boxes, the ways the program ends, the library's notifications
// and how every window looks.
//
// The pictures are drawn offscreen and compared with tests/shell/shots/; a
// picture that differs is written beside its reference as <name>.actual.png.
// After a deliberate change of a window, look at those and re-bless: run
// `QUENDRIL_BLESS=1 <build>/bin/shell_tests --gtest_filter='*Picture*'`, which
// writes the references instead, and commit them.
#include <QAction>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "fakeline.h"
#include "frmQuendril.h"
#include "screenshot.h"
#include "tempdir.h"
#include "testprompt.h"
#include "windowprompt.h"

namespace quendril::test {
namespace {

std::string shown(const QLabel* l) { return l->text().toLatin1().toStdString(); }

// Acts on the next modal window as soon as it is open.
void onNextModal(std::function<void(QWidget*)> act) {
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
    // A new window, as at a program start, over an idle line.
    void reset() {
        window.reset();
        line.stopPending = line.hold = false;
        line.openResult = TVK_ENODEV;
        line.clearCounts();
        window = std::make_unique<frmQuendril>(FakeLine::table(), &prompt);
    }
    bool load(const std::string& commandLine = "") { return window->Form_Load(commandLine); }
    // How the run in progress (or started by start) ended; -1 when it did not within a few seconds.
    int runEnd(const std::function<void()>& start = {}) {
        QSignalSpy ended(window.get(), &frmQuendril::runEnded);
        if (start) start();
        if (ended.isEmpty() && !ended.wait(5000)) return -1;
        return ended.takeFirst().at(0).toInt();
    }
    const MainWindowUi& ui() const { return window->ui(); }

    ScopedWorkDir workDir;
    TestPrompt prompt;
    FakeLine line;
    std::unique_ptr<frmQuendril> window;
};

namespace fs = std::filesystem;

// Each start creates TEMP (or keeps the one there with its files) and a
// missing hostpc.ini, and registers the window with the library; only the
// whole word "AUTO", in any case, runs Execute (tests/e2e runs it so).
TEST_F(WindowTest, StartUpShowsTheWindowAndKeepsTemp) {
    for (const char* other : {"AUTO x", "AUTOMATIC", " AUTO", "AUTO ", "AUT"}) EXPECT_FALSE(isAutoCommand(other)) << other;
    EXPECT_TRUE(isAutoCommand("aUtO"));
    for (const bool again : {false, true}) {
        if (again) std::ofstream("TEMP/keep.dat") << "x", reset();
        ASSERT_TRUE(load());
        EXPECT_EQ(std::tuple(fs::exists("hostpc.ini"), fs::is_directory("TEMP"), line.calls("sethwnd"), line.hwndMsg,
                             line.hwnd, line.calls("open"), prompt.shown.size(), window->isVisible(), window->exitStatus()),
                  std::tuple(true, true, 1, notifyMsg, static_cast<int32_t>(window->winId()), 0, 0u, true, 0));
    }
    EXPECT_TRUE(fs::exists("TEMP/keep.dat"));
}

TEST_F(WindowTest, DamagedSettingsFileEndsTheProgramBeforeTheWindowShows) {
    std::ofstream("hostpc.ini", std::ios::binary)
        << "HOSTPC.IN_16000308000100500300003\r\n.\r\n.\r\n.\r\nALL\r\nHOSTPCID.INF\r\n\r\n";
    struct ShowSpy : QObject {
        bool shown = false;
        bool eventFilter(QObject*, QEvent* e) override { return (shown = shown || e->type() == QEvent::Show), false; }
    } spy;
    window->installEventFilter(&spy);
    EXPECT_FALSE(load());
    EXPECT_NE(prompt.shown.at(0).text.find("Environment settingfile error"), std::string::npos);
    EXPECT_EQ(std::tuple(spy.shown, window->exitStatus(), line.calls("sethwnd")), std::tuple(false, 2, 0));
}

// The run works on its own thread: while it polls, the window shows it and
// keeps its menus locked; the Version dialog may open without holding the
// line. Afterwards the status bar tells what the run did.
TEST_F(WindowTest, ExecuteLocksTheMenusDuringTheRunAndRestoresTheWindow) {
    load();
    window->wndNotify_Message(notifyMsg, 10, "OLD.DAT");
    window->dispErrStat("HT0001", 1);
    const std::vector<QAction*> locked = {ui().mnuTransmit, ui().mnuCommSet, ui().mnuBoxCountSet,
                                          ui().mnuFileSet,  ui().mnuMinimum, ui().mnuExit};
    line.openResult = 0;
    line.hold = true;
    window->mnuTransmit_Click();
    for (QAction* a : locked) EXPECT_FALSE(a->isEnabled());
    EXPECT_EQ(std::tuple(ui().mnuSettingAction->isEnabled(), ui().mnuVersion->isEnabled(), ui().fraStatus->isHidden(),
                         ui().cmdTransmitCancel->isHidden(), shown(ui().lblFileName) + shown(ui().lblErrorInfo)),
              std::tuple(true, true, false, false, ""));
    QTRY_COMPARE(shown(ui().lblStatus), std::string("Polling"));
    EXPECT_EQ(window->currentIconCaption(), "POLLING");
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
    EXPECT_EQ(runEnd([this] { window->cmdTransmitCancel_Click(); }), 0);
    for (QAction* a : locked) EXPECT_TRUE(a->isEnabled());
    for (QWidget* p : std::initializer_list<QWidget*>{ui().fraStatus, ui().cmdTransmitCancel, ui().fraConnectionList})
        EXPECT_TRUE(p->isHidden());
    EXPECT_EQ(std::pair(window->currentIconCaption(), line.calls("close")), std::pair(std::string("QUENDRIL"), 1));
    EXPECT_TRUE(window->statusBar()->currentMessage().endsWith("no terminal served - see quendril-log.csv"));
}

// Escape (the Cancel button's key) stops a running receive and does nothing
// while idle. Closing the window stops it too and then ends the program (as a
// signal does: tests/e2e): in every case the line is released first.
TEST_F(WindowTest, EveryStopAbortsTheRunningTransferAndReleasesTheLine) {
    const struct {
        const char* name;
        std::function<void()> stop;
        bool ends;
        int status;
    } stops[] = {{"Escape", [this] { QTest::keyClick(window.get(), Qt::Key_Escape); }, false, 0},
                 {"close box", [this] { window->close(); }, true, 0}};
    for (const auto& s : stops) {
        SCOPED_TRACE(s.name);
        reset();
        ASSERT_TRUE(load());
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(line.calls("stopreq"), 0);
        line.openResult = 0;
        line.hold = true;
        line.pollResults = {1};
        line.records = {{makeRecord("HT0001", TVK_DIR_TO_PC), 0}};
        window->mnuTransmit_Click();
        QTRY_VERIFY(line.calls("filerecv") > 0);
        EXPECT_GE(runEnd(s.stop), 0);
        EXPECT_EQ(std::tuple(line.calls("stopreq"), line.calls("close"), window->running(), window->isVisible(),
                             window->exitStatus()),
                  std::tuple(1, 1, false, !s.ends, s.status));
    }
}

// The same titled warning boxes whether asked by a run on its own thread or
// on the window's; the close box answers OK or Cancel.
TEST(WindowPromptTest, BoxesAreTitledWarningsAndGiveTheAnswer) {
    using B = QMessageBox;
    const Failure open{FailureKind::App, kAppErrOpen, "COM1 \xC4", "", FailureArea::Line};
    const Failure deviceIo{FailureKind::File, kFileErrDeviceIo, "X", "", FailureArea::Files};
    WindowPrompt windowPrompt;
    for (const auto& [failure, press, expected, fromRun] :
         {std::tuple{&open, B::NoButton, kAnswerOk, true}, {&deviceIo, B::Retry, kAnswerRetry, true},
          {&deviceIo, B::NoButton, kAnswerCancel, true}, {&deviceIo, B::Retry, kAnswerRetry, false}}) {
        onNextModal([failure = failure, press = press](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            const MessageRule rule = messageRule(*failure);
            EXPECT_EQ(std::tuple(box->windowTitle(), box->text(), box->icon(), box->standardButtons()),
                      std::tuple("QUENDRIL", QString::fromLatin1(rule.text), B::Warning,
                                 rule.buttons == BoxButtons::Ok ? B::Ok : B::Retry | B::Cancel));
            press == B::NoButton ? void(box->close()) : box->button(press)->click();
        });
        std::atomic<int> answer = -1;
        std::thread worker([&, failure = failure, fromRun = fromRun] { if (fromRun) answer = windowPrompt.show(*failure); });
        if (!fromRun) answer = windowPrompt.show(*failure);
        QTRY_VERIFY_WITH_TIMEOUT(answer != -1, 5000);
        worker.join();
        EXPECT_EQ(answer, expected);
    }
}

// Whether got looks as want: antialiasing may differ a little between font
// builds, so up to 3 % of the pixels may be off by a small amount, but hardly
// any by more (a label in another colour is a few hundred pixels).
bool looksAs(const QImage& got, const QImage& want) {
    if (got.size() != want.size()) return false;
    int slightly = 0, clearly = 0;
    for (int y = 0; y < got.height(); ++y) {
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
            slightly += d > 16, clearly += d > 64;
        }
    }
    const int pixels = got.width() * got.height();
    return slightly <= pixels * 3 / 100 && clearly <= pixels / 5000;
}

TEST_F(WindowTest, EveryWindowLooksAsItsReferencePicture) {
    ASSERT_TRUE(load());
    const bool bless = qEnvironmentVariableIsSet("QUENDRIL_BLESS");
    for (const auto& [name, picture] : takeScreenshots(*window)) {
        SCOPED_TRACE(name);
        const QString reference = QStringLiteral(QUENDRIL_SHOTS_DIR "/") + QString::fromStdString(name);
        if (bless && picture.save(reference)) continue;
        const bool same = looksAs(picture.convertToFormat(QImage::Format_RGB32),
                                  QImage(reference).convertToFormat(QImage::Format_RGB32));
        EXPECT_TRUE(same) << "differs from (or there is no) " << reference.toStdString();
        if (!same) picture.save(QString(reference).replace(".png", ".actual.png"));
    }
}

TEST_F(WindowTest, LibraryNotificationsReachTheWindowDuringAndBetweenCalls) {
    load();
    ASSERT_NE(line.notify, nullptr);
    // On the window's thread (the library calling back during a call): at once.
    line.notify(line.notifyUser, line.hwnd, notifyMsg, 20);
    EXPECT_EQ(window->scalePercent(), 20);
    // Another handle or message number is not this window's.
    line.notify(line.notifyUser, line.hwnd + 1, notifyMsg, 60);
    line.notify(line.notifyUser, line.hwnd, notifyMsg + 1, 60);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->scalePercent(), 20);
    // From the run's thread: queued until the window processes its events,
    // with the file name read there; a name filling the buffer is cut at its end.
    line.fileName = std::string(70, 'N');
    std::thread([this] { line.notify(line.notifyUser, line.hwnd, notifyMsg, 70); }).join();
    EXPECT_EQ(window->scalePercent(), 20);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->scalePercent(), 70);
    EXPECT_EQ(shown(ui().lblFileName), std::string(64, 'N'));
}

}  // namespace
}  // namespace quendril::test
