// Fixture of the dialog tests: a fresh work directory with the default
// hostpc.ini read, a test prompt, and a stand-in for the main window.
#pragma once

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>

#include "settings.h"
#include "settingsdialog.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril {

// A failed comparison shows the fields, not the object's bytes.
inline void PrintTo(const Settings& s, std::ostream* os) {
    *os << s.fileTag << s.ioBoxCount << s.comPort << s.baudCode << s.dataLength << s.parityCode << s.stopBits
        << s.lineParamA << s.lineParamB << s.lineParamC << " | " << s.apDir << " | " << s.recvDir << " | " << s.sendDir
        << " | " << s.fileKind << " | " << s.htIdFile << " | " << s.appendWord << " | " << s.appendMode;
}

namespace test {

// A named way of acting on a dialog (a button, a key, the close box).
template <class Dialog>
using Way = std::pair<const char*, std::function<void(Dialog&)>>;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Files files(prompt);
        ASSERT_TRUE(readSettings(files, stored));
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

    // hostpc.ini as the program reads it.
    Settings iniSettings() {
        Files files(prompt);
        Settings read;
        EXPECT_TRUE(readSettings(files, read));
        return read;
    }

    // Shows dlg as the main window does (modal, over it) without blocking.
    static void showActive(QWidget& dlg) {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }

    // Shows a settings dialog as the main window does: given the settings first.
    static void showWith(SettingsDialog& dlg, const Settings& current) {
        dlg.edit(current);
        showActive(dlg);
    }

    // Tab from the focused widget visits order, in order.
    static void expectTabOrder(std::initializer_list<const QWidget*> order) {
        for (const QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), next);
        }
    }

    ScopedWorkDir dir;
    TestPrompt prompt;
    Settings stored;  // as read from the default hostpc.ini
    QWidget mainWindow;
};

}  // namespace test
}  // namespace quendril
