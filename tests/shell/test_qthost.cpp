// The program's host: its warning boxes and the end of the program, which
// runs the main window's unload handling and ends the process at once.
#include <QAbstractButton>
#include <QCloseEvent>
#include <QMessageBox>
#include <cstdio>

#include "qthost.h"
#include "windowfixture.h"

namespace quendril::test {
namespace {

class QtHostTest : public ::testing::Test {
protected:
    QtHost qtHost;
};

TEST_F(QtHostTest, BoxesAreTitledWarningsAndGiveTheAnswer) {
    const struct {
        BoxButtons buttons;
        QMessageBox::StandardButton press;
        int16_t answer;
        QMessageBox::StandardButtons offered;
    } rows[] = {
        {BoxButtons::Ok, QMessageBox::Ok, kAnswerOk, QMessageBox::Ok},
        {BoxButtons::Ok, QMessageBox::NoButton, kAnswerOk, QMessageBox::Ok},
        {BoxButtons::RetryCancel, QMessageBox::Retry, kAnswerRetry, QMessageBox::Retry | QMessageBox::Cancel},
        {BoxButtons::RetryCancel, QMessageBox::Cancel, kAnswerCancel, QMessageBox::Retry | QMessageBox::Cancel},
        {BoxButtons::RetryCancel, QMessageBox::NoButton, kAnswerCancel, QMessageBox::Retry | QMessageBox::Cancel},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.press));
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons offered;
        onNextModal([&, r](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            offered = box->standardButtons();
            if (r.press == QMessageBox::NoButton) {
                box->close();
            } else {
                box->button(r.press)->click();
            }
        });
        EXPECT_EQ(qtHost.messageBox("Open error\rCOM1 \xC4", r.buttons), r.answer);
        EXPECT_EQ(title, "QUENDRIL");
        EXPECT_EQ(text, QString::fromLatin1("Open error\rCOM1 \xC4"));
        EXPECT_EQ(icon, QMessageBox::Warning);
        EXPECT_EQ(offered, r.offered);
    }
}

// A main window that says on stderr when its unload handling runs.
class ReportingWindow : public QWidget {
public:
    QtHost* host = nullptr;
    bool running = false;

protected:
    void closeEvent(QCloseEvent* e) override {
        std::fprintf(stderr, running ? "stop during run\n" : "unloaded\n");
        if (running) host->endProgram(7);
        e->accept();
    }
};

TEST(QtHostDeathTest, EndProgramUnloadsTheMainWindowAndExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QtHost h;
            ReportingWindow w;
            w.show();
            h.setMainWindow(&w);
            h.endProgram(3);
        },
        ::testing::ExitedWithCode(3), "unloaded");
    // During a run the window's own handling ends the program at once.
    EXPECT_EXIT(
        {
            QtHost h;
            ReportingWindow w;
            w.host = &h;
            w.running = true;
            w.show();
            h.setMainWindow(&w);
            h.endProgram(3);
        },
        ::testing::ExitedWithCode(7), "stop during run");
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
            line.onCall = [](const char* fn) { std::fprintf(stderr, "%s;", fn); };
            line.onPolling = [this]() -> int16_t {
                window->close();
                std::fprintf(stderr, "close returned\n");
                return 0;
            };
            window->mnuTransmit_Click();
        },
        ::testing::ExitedWithCode(0), "polling;stopreq;$");
}

}  // namespace
}  // namespace quendril::test
