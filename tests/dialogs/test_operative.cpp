#include <QLabel>
#include <QLineEdit>

#include "dialogtest.h"
#include "frmBoxCountSet.h"

namespace quendril::test {
namespace {

class BoxCountSetTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        showWith(dlg, stored);
    }
    void type(const char* text, Qt::Key end = Qt::Key_unknown) {
        dlg.txtBoxNum->clear();
        QTest::keyClicks(dlg.txtBoxNum, text);
        if (end != Qt::Key_unknown) QTest::keyClick(dlg.txtBoxNum, end);
    }
    frmBoxCountSet dlg{&mainWindow, prompt};
};

TEST_F(BoxCountSetTest, ShowsTheStoredCountSelectedWithoutLeadingZeros) {
    EXPECT_EQ(dlg.windowTitle(), "Configuration");
    EXPECT_EQ(dlg.lblBoxCount[0]->text(), "Number of current settings");
    EXPECT_EQ(dlg.lblBoxCount[1]->text(), "No. of connecting I/O Boxes");
    EXPECT_EQ(dlg.lblNowBoxNum->text(), "16");
    EXPECT_EQ(dlg.txtBoxNum->selectedText(), "16");
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtBoxNum);
    // The labels size to their captions; what stands right of them moves along.
    EXPECT_LE(dlg.lblBoxCount[0]->geometry().right(), dlg.lblNowBoxNum->x());
    EXPECT_LE(dlg.lblBoxCount[1]->geometry().right(), dlg.txtBoxNum->x());
    EXPECT_LE(dlg.txtBoxNum->geometry().right(), dlg.width());
    dlg.reject();
    Settings one = stored;
    one.ioBoxCount = "01";
    showWith(dlg, one);
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

// Enter stores 1 to 16 as two digits; anything else empties the box and
// stores nothing.
TEST_F(BoxCountSetTest, EnterStoresOneToSixteenAsTwoDigits) {
    const std::pair<const char*, const char*> cases[] = {  // typed, stored (nullptr: refused)
        {"0", nullptr}, {"17", nullptr}, {"123", nullptr}, {"", nullptr}, {"99999999999999999999", nullptr},
        {"5", "05"},    {"1", "01"},     {"16", "16"},     {"007", "07"}};
    std::string count = "16";
    for (const auto& [typed, storedAs] : cases) {
        SCOPED_TRACE(typed);
        showWith(dlg, dlg.settings());
        type(typed, Qt::Key_Enter);
        EXPECT_EQ(dlg.isVisible(), !storedAs);
        if (storedAs) count = storedAs;
        EXPECT_EQ(iniSettings().ioBoxCount, count);
        EXPECT_EQ(dlg.settings().ioBoxCount, count);
        if (!storedAs) {
            EXPECT_EQ(dlg.txtBoxNum->text(), "");
        }
    }
}

}  // namespace
}  // namespace quendril::test
