// A settings file that cannot be written: the file-error box is shown, and
// after Cancel the dialog stays open instead of looking as if it had stored.
// (The File setting dialog checks its directories through the same helpers
// first, so the injected fault would hit those checks instead.)
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include "dialogtest.h"
#include "filehelpers.h"
#include "frmCommSet.h"
#include "frmUnyoSet.h"

namespace quendril::test {
namespace {

using WriteFailureTest = DialogTest;

TEST_F(WriteFailureTest, ACancelledWriteKeepsTheDialogOpenAndTheFileUnchanged) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<QDialog>(QWidget*)> make;
        std::function<void(QDialog&)> store;
    };
    const Case cases[] = {
        {"Communication setting", [](QWidget* w) { return std::make_unique<frmCommSet>(w); },
         [](QDialog& d) { QTest::mouseClick(static_cast<frmCommSet&>(d).cmdTransmitSetOK, Qt::LeftButton); }},
        {"Operative setting", [](QWidget* w) { return std::make_unique<frmUnyoSet>(w); },
         [](QDialog& d) { QTest::keyClick(static_cast<frmUnyoSet&>(d).txtBoxNum, Qt::Key_Return); }},
    };
    const std::string before = iniBytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.shown.clear();
        std::unique_ptr<QDialog> dlg = c.make(&mainWindow);
        showActive(*dlg);
        // Device I/O error: the box offers Retry and Cancel; the test host cancels.
        injectFileFault(57);
        c.store(*dlg);
        clearFileFaults();
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].buttons, BoxButtons::RetryCancel);
        EXPECT_NE(host.shown[0].text.find(kIniFileName), std::string::npos);
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(iniBytes(), before);
    }
}

TEST_F(WriteFailureTest, RetryAfterAFailedWriteStoresAndCloses) {
    frmUnyoSet dlg(&mainWindow);
    showActive(dlg);
    QTest::keyClicks(dlg.txtBoxNum, "9");
    injectFileFault(57);
    host.answers.push_back(kAnswerRetry);
    QTest::keyClick(dlg.txtBoxNum, Qt::Key_Return);
    EXPECT_EQ(host.shown.size(), 1u);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniLine(1).substr(10, 2), "09");
}

}  // namespace
}  // namespace quendril::test
