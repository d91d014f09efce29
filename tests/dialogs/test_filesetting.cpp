#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>

#include "dialogtest.h"
#include "filehelpers.h"
#include "frmFileSet.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

class FileSetTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (const char* d : {"ap", "recv", "send"}) fs::create_directory(d);
        ap = (dir.path() / "ap").string();
        recv = (dir.path() / "recv").string();
        send = (dir.path() / "send").string();
    }

    static void typeInto(QLineEdit* box, const std::string& text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(text));
    }

    void fillAll(frmFileSet& dlg, int kindIndex, bool append) {
        typeInto(dlg.txtDir[0], ap);
        typeInto(dlg.txtDir[1], recv);
        typeInto(dlg.txtDir[2], send);
        dlg.dblFileKind->setCurrentIndex(kindIndex);
        dlg.chkAppend->setChecked(append);
    }

    std::string ap, recv, send;
};

TEST_F(FileSetTest, ShowsTheStoredSettingsWithTheirCaptions) {
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.windowTitle(), "File setting");
    const char* labels[] = {"Application storage directory", "Receiving data storage directory",
                            "Transmitting data storage directory", "Transmitting file type"};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(dlg.lblFileSet[k]->text(), labels[k]);
    EXPECT_EQ(dlg.cmdFileSetOK->text(), "OK");
    EXPECT_EQ(dlg.cmdFileSetCancel->text(), "Cancel");
    EXPECT_EQ(dlg.chkAppend->text(), "Append Mode");
    ASSERT_EQ(dlg.dblFileKind->count(), 3);
    EXPECT_EQ(dlg.dblFileKind->itemText(0), "Only AP appointment file");
    EXPECT_EQ(dlg.dblFileKind->itemText(1), "Others");
    EXPECT_EQ(dlg.dblFileKind->itemText(2), "All");
    EXPECT_FALSE(dlg.dblFileKind->isEditable());

    const QString cwd = QString::fromLatin1(dir.str());
    for (QLineEdit* box : dlg.txtDir) {
        EXPECT_EQ(box->text(), cwd);
        EXPECT_EQ(box->selectedText(), cwd);
    }
    EXPECT_EQ(dlg.dblFileKind->currentText(), "All");
    EXPECT_FALSE(dlg.chkAppend->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtDir[0]);
    EXPECT_EQ(dlg.windowIcon().cacheKey(), mainWindow.windowIcon().cacheKey());
}

TEST_F(FileSetTest, OkStoresWhatTheUserChose) {
    struct Case {
        int kindIndex;
        bool append;
        const char* kind;
        const char* word;
    };
    for (const Case& c : {Case{1, true, "OTR", "APPEND"}, Case{0, false, "LOD", ""},
                          Case{2, true, "ALL", "APPEND"}}) {
        SCOPED_TRACE(c.kind);
        frmFileSet dlg(&mainWindow);
        showActive(dlg);
        fillAll(dlg, c.kindIndex, c.append);
        QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniLine(2), ap);
        EXPECT_EQ(iniLine(3), recv);
        EXPECT_EQ(iniLine(4), send);
        EXPECT_EQ(iniLine(5), c.kind);
        EXPECT_EQ(iniLine(7), c.word);
        EXPECT_EQ(EnvSettings.appendMode, c.append);
        EXPECT_EQ(EnvSettings.fileKind, c.kind);
    }
}

TEST_F(FileSetTest, LowerCaseLodSelectsTheFirstEntryAndIsStoredUpperCase) {
    EnvSettings.fileKind = "lod";
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.dblFileKind->currentIndex(), 0);
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
    EXPECT_EQ(iniLine(5), "LOD");
}

TEST_F(FileSetTest, AppendModeIsShownFromTheSettings) {
    EnvSettings.appendMode = true;
    EnvSettings.appendWord = "APPEND";
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_TRUE(dlg.chkAppend->isChecked());
    dlg.chkAppend->setChecked(false);
    QTest::keyClick(dlg.txtDir[0], Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniLine(7), "");
    EXPECT_FALSE(EnvSettings.appendMode);
}

TEST_F(FileSetTest, AFilePathPassesTheDirectoryCheck) {
    std::ofstream("plain.txt") << "x";
    const std::string file = (dir.path() / "plain.txt").string();
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    typeInto(dlg.txtDir[2], file);
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniLine(4), file);
}

TEST_F(FileSetTest, AMissingDirectoryKeepsTheDialogOpenAndTheFileUnchanged) {
    const std::string before = iniBytes();
    const std::string oldRecv = EnvSettings.recvDir;
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    typeInto(dlg.txtDir[0], ap);
    typeInto(dlg.txtDir[1], (dir.path() / "missing").string());
    typeInto(dlg.txtDir[2], send);
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);

    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtDir[1]);
    EXPECT_EQ(iniBytes(), before);
    EXPECT_TRUE(host.shown.empty());
    // The boxes before the failing one are already taken over.
    EXPECT_EQ(EnvSettings.apDir, ap);
    EXPECT_EQ(EnvSettings.recvDir, oldRecv);
    EXPECT_NE(EnvSettings.sendDir, send);
}

TEST_F(FileSetTest, ACancelledDeviceErrorDuringTheCheckFailsIt) {
    const std::string before = iniBytes();
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    injectFileFault(71);
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
    clearFileFaults();
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].buttons, BoxButtons::RetryCancel);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtDir[0]);
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(FileSetTest, TextOutsideTheCodePageIsRefusedLikeAMissingDirectory) {
    const std::string before = iniBytes();
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    dlg.txtDir[2]->setText(QString::fromLatin1(send) + QChar(0x20AC));
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtDir[2]);
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(FileSetTest, HighLatin1BytesAreStoredUnchanged) {
    const std::string name = "d\xE9j\xE0";
    fs::create_directory(name);
    const std::string path = dir.str() + "/" + name;
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    dlg.txtDir[0]->setText(QString::fromLatin1(path));
    QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniLine(2), path);
}

TEST_F(FileSetTest, CancelEscAndCloseBoxStoreNothing) {
    const std::pair<const char*, std::function<void(frmFileSet&)>> ways[] = {
        {"Cancel", [](frmFileSet& d) { QTest::mouseClick(d.cmdFileSetCancel, Qt::LeftButton); }},
        {"Esc", [](frmFileSet& d) { QTest::keyClick(d.txtDir[1], Qt::Key_Escape); }},
        {"close box", [](frmFileSet& d) { d.close(); }},
    };
    const std::string before = iniBytes();
    const EnvSettingsRecord stored = EnvSettings;
    frmFileSet dlg(&mainWindow);
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        showActive(dlg);
        fillAll(dlg, 0, true);
        leave(dlg);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.apDir, stored.apDir);
        EXPECT_EQ(EnvSettings.fileKind, stored.fileKind);
        EXPECT_EQ(EnvSettings.appendMode, stored.appendMode);
        // The next showing brings back the stored values.
        showActive(dlg);
        EXPECT_EQ(dlg.txtDir[0]->text(), QString::fromLatin1(stored.apDir));
        EXPECT_EQ(dlg.dblFileKind->currentText(), "All");
        EXPECT_FALSE(dlg.chkAppend->isChecked());
        dlg.reject();
    }
}

TEST_F(FileSetTest, EnterPressesCancelWhenCancelHasTheFocus) {
    const std::string before = iniBytes();
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    typeInto(dlg.txtDir[0], ap);
    dlg.cmdFileSetCancel->setFocus();
    QTest::keyClick(dlg.cmdFileSetCancel, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(FileSetTest, TabMovesInTheGivenOrder) {
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    const QWidget* order[] = {dlg.txtDir[1], dlg.txtDir[2], dlg.dblFileKind, dlg.cmdFileSetOK,
                              dlg.cmdFileSetCancel, dlg.chkAppend, dlg.txtDir[0]};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(FileSetTest, ABoxLeftByTheFocusIsFullySelectedAgain) {
    frmFileSet dlg(&mainWindow);
    showActive(dlg);
    QLineEdit* box = dlg.txtDir[0];
    box->setFocus();
    box->deselect();
    box->end(false);
    dlg.txtDir[1]->setFocus();
    EXPECT_EQ(box->selectedText(), box->text());
}

}  // namespace
}  // namespace quendril::test
