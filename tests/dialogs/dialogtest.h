// Fixture of the dialog tests: a fresh work directory with the default
// hostpc.ini loaded, a test host, and a stand-in for the main window.
#pragma once

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "declar.h"
#include "hostpcIni.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

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

    ScopedWorkDir dir;
    TestHost host;
    QWidget mainWindow;
};

}  // namespace quendril::test
