// Fixture of the dialog tests: a fresh work directory with the default
// hostpc.ini loaded, a test host, and a stand-in for the main window.
#pragma once

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <utility>

#include "declar.h"
#include "hostpcIni.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

// A named way of acting on a dialog (a button, a key, the close box).
template <class Dialog>
using Way = std::pair<const char*, std::function<void(Dialog&)>>;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        readIni();
        QPixmap icon(32, 32);
        icon.fill(Qt::darkCyan);
        mainWindow.setWindowIcon(QIcon(icon));
        mainWindow.setGeometry(100, 100, 640, 480);
        mainWindow.show();
    }

    static std::string iniBytes() {
        std::ifstream in(kIniFileName, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Line n (1-based) of hostpc.ini without its CR LF.
    static std::string iniLine(int n) {
        const std::string bytes = iniBytes();
        std::size_t start = 0;
        for (int i = 1; i < n; ++i) start = bytes.find("\r\n", start) + 2;
        return bytes.substr(start, bytes.find("\r\n", start) - start);
    }

    // Shows dlg as the main window does (modal, over it) without blocking.
    static void showActive(QWidget& dlg) {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }

    // Tab from the focused widget visits order, in order.
    static void expectTabOrder(std::initializer_list<const QWidget*> order) {
        for (const QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), next);
        }
    }

    ScopedWorkDir dir;
    TestHost host;
    QWidget mainWindow;
};

}  // namespace quendril::test
