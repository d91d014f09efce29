#include <QLabel>
#include <QLineEdit>

#include "dialogtest.h"
#include "frmUnyoSet.h"
#include "uilayout.h"

namespace quendril::test {
namespace {

using UnyoSetTest = DialogTest;

TEST_F(UnyoSetTest, ShowsTheStoredCountSelectedInTheBox) {
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Configuration");
    EXPECT_EQ(dlg.lblUnyoSet[0]->text(), "Number of current settings");
    EXPECT_EQ(dlg.lblUnyoSet[1]->text(), "No. of connecting I/O Boxes");
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "16");
    EXPECT_EQ(dlg.txtBoxNum->text(), "16");
    EXPECT_EQ(dlg.txtBoxNum->selectedText(), "16");
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtBoxNum);
}

TEST_F(UnyoSetTest, TheCountIsShownWithoutLeadingZeros) {
    EnvSettings.ioBoxCount = "01";
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "1");
    EXPECT_EQ(dlg.txtBoxNum->text(), "1");
}

TEST_F(UnyoSetTest, OnlyDigitsReachTheBox) {
    struct Case {
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"1a2", "12"}, {" 3 ", "3"}, {"-4", "4"}, {"+5", "5"},
                          {"6.7", "67"}, {"x,y", ""},  {"0123456789", "0123456789"}};
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dlg.txtBoxNum->clear();
        QTest::keyClicks(dlg.txtBoxNum, c.typed);
        EXPECT_EQ(dlg.txtBoxNum->text(), c.shown);
    }
    QTest::keyClick(dlg.txtBoxNum, Qt::Key_Backspace);
    EXPECT_EQ(dlg.txtBoxNum->text(), "012345678");
    // Paste and insert go through the box's validator and cannot bring letters in.
    dlg.txtBoxNum->clear();
    dlg.txtBoxNum->insert("ab1");
    EXPECT_EQ(dlg.txtBoxNum->text(), "");
    QTest::keyClick(dlg.txtBoxNum, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(dlg.txtBoxNum->text(), "");
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(UnyoSetTest, EnterStoresOneToSixteenAsTwoDigits) {
    struct Case {
        const char* typed;
        const char* stored;
    };
    for (const Case& c : {Case{"5", "05"}, Case{"1", "01"}, Case{"16", "16"}, Case{"007", "07"}}) {
        SCOPED_TRACE(c.typed);
        frmUnyoSet dlg(&mainWindow);
        showActive(dlg);
        QTest::keyClick(dlg.txtBoxNum, Qt::Key_Backspace);
        QTest::keyClicks(dlg.txtBoxNum, c.typed);
        QTest::keyClick(dlg.txtBoxNum, Qt::Key_Return);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniLine(1).substr(10, 2), c.stored);
        EXPECT_EQ(EnvSettings.ioBoxCount, c.stored);
    }
}

TEST_F(UnyoSetTest, TheNextShowingDisplaysTheStoredCount) {
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    QTest::keyClicks(dlg.txtBoxNum, "5");
    QTest::keyClick(dlg.txtBoxNum, Qt::Key_Enter);
    ASSERT_FALSE(dlg.isVisible());
    showActive(dlg);
    EXPECT_EQ(dlg.txtBoxNum->text(), "5");
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "5");
}

TEST_F(UnyoSetTest, EnterOutsideOneToSixteenEmptiesTheBoxAndStays) {
    const std::string before = iniBytes();
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    for (const char* typed : {"0", "17", "123", "", "99999999999999999999"}) {
        SCOPED_TRACE(typed);
        dlg.txtBoxNum->clear();
        QTest::keyClicks(dlg.txtBoxNum, typed);
        QTest::keyClick(dlg.txtBoxNum, Qt::Key_Return);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.txtBoxNum->text(), "");
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.ioBoxCount, "16");
    }
}

TEST_F(UnyoSetTest, EscAndCloseBoxStoreNothing) {
    const std::string before = iniBytes();
    frmUnyoSet dlg(&mainWindow);
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox);
        showActive(dlg);
        QTest::keyClicks(dlg.txtBoxNum, "3");
        if (closeBox)
            dlg.close();
        else
            QTest::keyClick(dlg.txtBoxNum, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.ioBoxCount, "16");
    }
}

// The labels size to their captions; what stands right of them moves along
// and the window grows by the larger of the two widenings.
TEST_F(UnyoSetTest, TheWindowWidensToFitItsCaptions) {
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    const int d0 = dlg.lblUnyoSet[0]->width() - ui::twips(2205, &dlg);
    const int d1 = dlg.lblUnyoSet[1]->width() - ui::twips(2460, &dlg);
    EXPECT_EQ(dlg.lblUnyoSet[0]->width(), dlg.lblUnyoSet[0]->sizeHint().width());
    EXPECT_EQ(dlg.lblNowBoxNum->x(), ui::twips(2640, &dlg) + d0);
    EXPECT_EQ(dlg.txtBoxNum->x(), ui::twips(2880, &dlg) + d1);
    EXPECT_EQ(dlg.width(), ui::twips(3615, &dlg) + std::max(d0, d1));
    EXPECT_LE(dlg.lblUnyoSet[1]->geometry().right(), dlg.txtBoxNum->x());
    EXPECT_LE(dlg.txtBoxNum->geometry().right(), dlg.width());
}

}  // namespace
}  // namespace quendril::test
