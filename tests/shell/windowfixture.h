// One main window per test, in a fresh work directory, with a recording
// host and a fake terminal-link library.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "declar.h"
#include "fakeline.h"
#include "frmQuendril.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

inline std::string shown(const QLabel* l) { return l->text().toLatin1().toStdString(); }

// Runs act on the next modal window as soon as it is open.
inline void onNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start();
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        tempDir.clear();
        stopRequested = false;
        window = std::make_unique<frmQuendril>();
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tempDir.clear();
    }
    void load(const std::string& commandLine = "") { window->Form_Load(commandLine); }
    const MainWindowUi& ui() const { return window->ui(); }

    ScopedWorkDir workDir;
    TestHost host;
    FakeLine line;
    std::unique_ptr<frmQuendril> window;
};

}  // namespace quendril::test
