#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

#include "dialogtest.h"
#include "filehelpers.h"
#include "frmCommSet.h"
#include "frmBoxCountSet.h"
#include "uilayout.h"

namespace quendril::test {
namespace {

class BoxCountSetTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        showActive(dlg);
    }
    void type(const char* text, Qt::Key end = Qt::Key_unknown) {
        dlg.txtBoxNum->clear();
        QTest::keyClicks(dlg.txtBoxNum, text);
        if (end != Qt::Key_unknown) QTest::keyClick(dlg.txtBoxNum, end);
    }
    frmBoxCountSet dlg{&mainWindow};
};

TEST_F(BoxCountSetTest, ShowsTheStoredCountSelectedWithoutLeadingZeros) {
    EXPECT_EQ(dlg.windowTitle(), "Configuration");
    EXPECT_EQ(dlg.lblBoxCount[0]->text(), "Number of current settings");
    EXPECT_EQ(dlg.lblBoxCount[1]->text(), "No. of connecting I/O Boxes");
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "16");
    EXPECT_EQ(dlg.txtBoxNum->selectedText(), "16");
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtBoxNum);
    dlg.reject();
    EnvSettings.ioBoxCount = "01";
    showActive(dlg);
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "1");
    EXPECT_EQ(dlg.txtBoxNum->text(), "1");
}

TEST_F(BoxCountSetTest, OnlyDigitsAndBackspaceReachTheBox) {
    const std::pair<const char*, const char*> cases[] = {{"1a2", "12"}, {" 3 ", "3"}, {"-4", "4"},
                                                         {"+5", "5"},   {"6.7", "67"}, {"x,y", ""},
                                                         {"0123456789", "0123456789"}};
    for (const auto& [typed, shown] : cases) {
        type(typed);
        EXPECT_EQ(dlg.txtBoxNum->text(), shown) << typed;
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

// Enter stores 1 to 16 as two digits and the next showing displays it;
// anything else empties the box and stores nothing.
TEST_F(BoxCountSetTest, EnterStoresOneToSixteenAsTwoDigits) {
    const struct {
        const char* typed;
        const char* stored;  // nullptr: refused
        Qt::Key key;
    } cases[] = {{"0", nullptr, Qt::Key_Return},  {"17", nullptr, Qt::Key_Return}, {"123", nullptr, Qt::Key_Return},
                 {"", nullptr, Qt::Key_Return},   {"99999999999999999999", nullptr, Qt::Key_Return},
                 {"5", "05", Qt::Key_Enter},      {"1", "01", Qt::Key_Return},    {"16", "16", Qt::Key_Return},
                 {"007", "07", Qt::Key_Return}};
    std::string stored = "16";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const std::string before = iniBytes();
        showActive(dlg);
        type(c.typed, c.key);
        EXPECT_EQ(dlg.isVisible(), !c.stored);
        if (c.stored) stored = c.stored;
        EXPECT_EQ(iniLine(1).substr(10, 2), stored);
        EXPECT_EQ(EnvSettings.ioBoxCount, stored);
        if (!c.stored) {
            EXPECT_EQ(dlg.txtBoxNum->text(), "");
            EXPECT_EQ(iniBytes(), before);
            continue;
        }
        showActive(dlg);
        EXPECT_EQ(dlg.lblNowBoxNum->text(), QString::number(std::stoi(stored)));
        EXPECT_EQ(dlg.txtBoxNum->text(), dlg.lblNowBoxNum->text());
        dlg.reject();
    }
}

TEST_F(BoxCountSetTest, EscAndCloseBoxStoreNothing) {
    const std::string before = iniBytes();
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox);
        showActive(dlg);
        type("3", closeBox ? Qt::Key_unknown : Qt::Key_Escape);
        if (closeBox) dlg.close();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.ioBoxCount, "16");
    }
}

// The labels size to their captions; what stands right of them moves along
// and the window grows by the larger of the two widenings.
TEST_F(BoxCountSetTest, TheWindowWidensToFitItsCaptions) {
    const int d0 = dlg.lblBoxCount[0]->width() - ui::twips(2205, &dlg);
    const int d1 = dlg.lblBoxCount[1]->width() - ui::twips(2460, &dlg);
    EXPECT_EQ(dlg.lblBoxCount[0]->width(), dlg.lblBoxCount[0]->sizeHint().width());
    EXPECT_EQ(dlg.lblNowBoxNum->x(), ui::twips(2640, &dlg) + d0);
    EXPECT_EQ(dlg.txtBoxNum->x(), ui::twips(2880, &dlg) + d1);
    EXPECT_EQ(dlg.width(), ui::twips(3615, &dlg) + std::max(d0, d1));
    EXPECT_LE(dlg.lblBoxCount[1]->geometry().right(), dlg.txtBoxNum->x());
    EXPECT_LE(dlg.txtBoxNum->geometry().right(), dlg.width());
}

using WriteFailureTest = DialogTest;

// A settings file that cannot be written: the file-error box offers Retry and
// Cancel; after Cancel the dialog stays open instead of looking as if it had
// stored, after Retry it stores and closes. (The File setting dialog checks
// its directories through the same helpers first, so an injected fault would
// hit those checks instead.)
TEST_F(WriteFailureTest, CancelKeepsTheDialogOpenAndRetryStores) {
    const struct {
        const char* name;
        std::function<std::unique_ptr<QDialog>(QWidget*)> make;
        std::function<void(QDialog&)> store;
        int16_t answer;
    } cases[] = {
        {"Communication setting", [](QWidget* w) { return std::make_unique<frmCommSet>(w); },
         [](QDialog& d) { QTest::mouseClick(static_cast<frmCommSet&>(d).cmdTransmitSetOK, Qt::LeftButton); },
         kAnswerCancel},
        {"Operative setting", [](QWidget* w) { return std::make_unique<frmBoxCountSet>(w); },
         [](QDialog& d) { QTest::keyClick(static_cast<frmBoxCountSet&>(d).txtBoxNum, Qt::Key_Return); }, kAnswerCancel},
        {"Operative setting, Retry", [](QWidget* w) { return std::make_unique<frmBoxCountSet>(w); },
         [](QDialog& d) {
             auto& unyo = static_cast<frmBoxCountSet&>(d);
             QTest::keyClicks(unyo.txtBoxNum, "9");
             QTest::keyClick(unyo.txtBoxNum, Qt::Key_Return);
         },
         kAnswerRetry},
    };
    const std::string before = iniBytes();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.shown.clear();
        host.answers = {c.answer};
        std::unique_ptr<QDialog> dlg = c.make(&mainWindow);
        showActive(*dlg);
        // Device I/O error.
        injectFileFault(57);
        c.store(*dlg);
        clearFileFaults();
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].buttons, BoxButtons::RetryCancel);
        EXPECT_NE(host.shown[0].text.find(kIniFileName), std::string::npos);
        const bool retried = c.answer == kAnswerRetry;
        EXPECT_EQ(dlg->isVisible(), !retried);
        EXPECT_EQ(iniLine(1).substr(10, 2), retried ? "09" : "16");
        if (!retried) {
            EXPECT_EQ(iniBytes(), before);
        }
    }
}

}  // namespace
}  // namespace quendril::test
