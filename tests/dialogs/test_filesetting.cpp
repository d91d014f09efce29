#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "dialogtest.h"
#include "frmFileSet.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

class FileSetTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        fs::create_directory("ap");
        fs::create_directory("d\xE9j\xE0");
        std::ofstream("plain.txt") << "x";
        dlg = std::make_unique<frmFileSet>(&mainWindow, prompt);
        showWith(*dlg, stored);
    }

    void fillAll(int kindIndex, bool append) {
        for (int k = 0; k < 3; ++k) dlg->txtDir[k]->setText(QString::fromLatin1(dirs[k]));
        dlg->dblFileKind->setCurrentIndex(kindIndex);
        dlg->chkAppend->setChecked(append);
    }

    void ok() { QTest::mouseClick(dlg->cmdFileSetOK, Qt::LeftButton); }

    // A file passes the check too; bytes above 0x7F are kept as they are.
    const std::string dirs[3] = {dir.str() + "/ap", dir.str() + "/d\xE9j\xE0", dir.str() + "/plain.txt"};
    std::unique_ptr<frmFileSet> dlg;
};

TEST_F(FileSetTest, ShowsTheStoredSettingsWithTheirCaptions) {
    EXPECT_EQ(dlg->windowTitle(), "File setting");
    const char* labels[] = {"Application storage directory", "Receiving data storage directory",
                            "Transmitting data storage directory", "Transmitting file type"};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(dlg->lblFileSet[k]->text(), labels[k]);
    EXPECT_EQ(dlg->cmdFileSetOK->text(), "OK");
    EXPECT_EQ(dlg->cmdFileSetCancel->text(), "Cancel");
    EXPECT_EQ(dlg->chkAppend->text(), "Append Mode");
    ASSERT_EQ(dlg->dblFileKind->count(), 3);
    const char* kinds[] = {"Only AP appointment file", "Others", "All"};
    for (int k = 0; k < 3; ++k) EXPECT_EQ(dlg->dblFileKind->itemText(k), kinds[k]);
    EXPECT_FALSE(dlg->dblFileKind->isEditable());
    const QString cwd = QString::fromLatin1(dir.str());
    for (QLineEdit* box : dlg->txtDir) {
        EXPECT_EQ(box->text(), cwd);
        EXPECT_EQ(box->selectedText(), cwd);
    }
    EXPECT_EQ(dlg->dblFileKind->currentText(), "All");
    EXPECT_FALSE(dlg->chkAppend->isChecked());
    EXPECT_EQ(dlg->windowIcon().cacheKey(), mainWindow.windowIcon().cacheKey());
    EXPECT_EQ(QApplication::focusWidget(), dlg->txtDir[0]);
    expectTabOrder({dlg->txtDir[1], dlg->txtDir[2], dlg->dblFileKind, dlg->cmdFileSetOK, dlg->cmdFileSetCancel,
                    dlg->chkAppend, dlg->txtDir[0]});
    // A box left by the focus is fully selected again.
    dlg->txtDir[0]->deselect();
    dlg->txtDir[0]->end(false);
    dlg->txtDir[1]->setFocus();
    EXPECT_EQ(dlg->txtDir[0]->selectedText(), cwd);
    // Every showing refills from the settings given, the file type in any letter case.
    dlg->reject();
    Settings current = stored;
    current.fileKind = "lod";
    current.appendMode = true;
    showWith(*dlg, current);
    EXPECT_EQ(dlg->dblFileKind->currentIndex(), 0);
    EXPECT_TRUE(dlg->chkAppend->isChecked());
}

TEST_F(FileSetTest, OkStoresWhatTheUserChose) {
    const struct {
        int kindIndex;
        bool append;
        const char *kind, *word;
    } cases[] = {{1, true, "OTR", "APPEND"}, {0, false, "LOD", ""}, {2, true, "ALL", "APPEND"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        showWith(*dlg, stored);
        fillAll(c.kindIndex, c.append);
        ok();
        EXPECT_FALSE(dlg->isVisible());
        const Settings written = iniSettings();
        EXPECT_EQ(written, dlg->settings());
        EXPECT_EQ(written.apDir, dirs[0]);
        EXPECT_EQ(written.recvDir, dirs[1]);
        EXPECT_EQ(written.sendDir, dirs[2]);
        EXPECT_EQ(written.fileKind, c.kind);
        EXPECT_EQ(written.appendWord, c.word);
    }
}

// A failed directory check (missing, failing with a box, text outside the
// code page) keeps the dialog open with the focus on that box; nothing is
// taken over, not even the boxes before it.
TEST_F(FileSetTest, AFailedDirectoryCheckKeepsTheDialogOpen) {
    fs::create_symlink("loop", "loop");
    const struct {
        const char* name;
        int box;
        QString text;
        bool boxShown;
    } cases[] = {{"missing", 1, QString::fromLatin1(dir.str() + "/missing"), false},
                 {"a link to itself", 0, QString::fromLatin1(dir.str() + "/loop"), true},
                 {"outside the code page", 2, QString::fromLatin1(dirs[2]) + QChar(0x20AC), false}};
    const std::string before = iniBytes();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.shown.clear();
        showWith(*dlg, stored);
        fillAll(1, true);
        dlg->txtDir[c.box]->setText(c.text);
        ok();
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), dlg->txtDir[c.box]);
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(dlg->settings(), stored);
        EXPECT_EQ(prompt.shown.size(), c.boxShown ? 1u : 0u);
        dlg->reject();
    }
}

}  // namespace
}  // namespace quendril::test
