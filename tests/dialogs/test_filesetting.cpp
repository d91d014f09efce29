#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

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
        dlg = std::make_unique<frmFileSet>(&mainWindow);
        showActive(*dlg);
    }

    static void typeInto(QLineEdit* box, const std::string& text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(text));
    }

    void fillAll(int kindIndex, bool append) {
        for (int k = 0; k < 3; ++k) typeInto(dlg->txtDir[k], dirs[k]);
        dlg->dblFileKind->setCurrentIndex(kindIndex);
        dlg->chkAppend->setChecked(append);
    }

    void ok() { QTest::mouseClick(dlg->cmdFileSetOK, Qt::LeftButton); }

    const std::string dirs[3] = {dir.str() + "/ap", dir.str() + "/recv", dir.str() + "/send"};
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
}

TEST_F(FileSetTest, OkStoresWhatTheUserChose) {
    const struct {
        int kindIndex;
        bool append;
        const char *kind, *word;
    } cases[] = {{1, true, "OTR", "APPEND"}, {0, false, "LOD", ""}, {2, true, "ALL", "APPEND"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        showActive(*dlg);
        fillAll(c.kindIndex, c.append);
        ok();
        EXPECT_FALSE(dlg->isVisible());
        for (int k = 0; k < 3; ++k) EXPECT_EQ(iniLine(2 + k), dirs[k]);
        EXPECT_EQ(iniLine(5), c.kind);
        EXPECT_EQ(iniLine(7), c.word);
        EXPECT_EQ(EnvSettings.appendMode, c.append);
        EXPECT_EQ(EnvSettings.fileKind, c.kind);
    }
}

// Every showing refills from the settings: a lower-case "lod" selects the
// first entry, append mode is ticked; a file path passes the check; bytes
// above 0x7F are stored as they are.
TEST_F(FileSetTest, StoredValuesAndUnusualPathsRoundTrip) {
    dlg->reject();
    EnvSettings.fileKind = "lod";
    EnvSettings.appendMode = true;
    EnvSettings.appendWord = "APPEND";
    std::ofstream("plain.txt") << "x";
    fs::create_directory("d\xE9j\xE0");
    showActive(*dlg);
    EXPECT_EQ(dlg->dblFileKind->currentIndex(), 0);
    EXPECT_TRUE(dlg->chkAppend->isChecked());
    dlg->chkAppend->setChecked(false);
    dlg->txtDir[0]->setText(QString::fromLatin1(dir.str() + "/d\xE9j\xE0"));
    typeInto(dlg->txtDir[2], dir.str() + "/plain.txt");
    QTest::keyClick(dlg->txtDir[0], Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(iniLine(2), dir.str() + "/d\xE9j\xE0");
    EXPECT_EQ(iniLine(4), dir.str() + "/plain.txt");
    EXPECT_EQ(iniLine(5), "LOD");
    EXPECT_EQ(iniLine(7), "");
    EXPECT_FALSE(EnvSettings.appendMode);
}

// A failed directory check (missing, a cancelled device error, text outside
// the code page) keeps the dialog open with the focus on that box and the
// file unchanged; the boxes before it are already taken over.
TEST_F(FileSetTest, AFailedDirectoryCheckKeepsTheDialogOpen) {
    const struct {
        const char* name;
        int box;
        QString text;
        int16_t fault;
    } cases[] = {{"missing", 1, QString::fromLatin1(dir.str() + "/missing"), 0},
                 {"device error", 0, QString(), 71},
                 {"outside the code page", 2, QString::fromLatin1(dirs[2]) + QChar(0x20AC), 0}};
    const std::string before = iniBytes();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        readIni();
        host.shown.clear();
        showActive(*dlg);
        fillAll(1, true);
        if (!c.text.isNull()) dlg->txtDir[c.box]->setText(c.text);
        if (c.fault) injectFileFault(c.fault);
        ok();
        clearFileFaults();
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), dlg->txtDir[c.box]);
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.apDir, c.box > 0 ? dirs[0] : dir.str());
        EXPECT_EQ(EnvSettings.recvDir, c.box > 1 ? dirs[1] : dir.str());
        EXPECT_EQ(EnvSettings.sendDir, dir.str());
        EXPECT_EQ(EnvSettings.fileKind, "ALL");
        ASSERT_EQ(host.shown.size(), c.fault ? 1u : 0u);
        if (c.fault) {
            EXPECT_EQ(host.shown[0].buttons, BoxButtons::RetryCancel);
        }
        dlg->reject();
    }
}

TEST_F(FileSetTest, CancelEscCloseBoxAndEnterOnCancelStoreNothing) {
    const Way<frmFileSet> ways[] = {
        {"Cancel", [](frmFileSet& d) { QTest::mouseClick(d.cmdFileSetCancel, Qt::LeftButton); }},
        {"Esc", [](frmFileSet& d) { QTest::keyClick(d.txtDir[1], Qt::Key_Escape); }},
        {"close box", [](frmFileSet& d) { d.close(); }},
        {"Enter on Cancel", [](frmFileSet& d) {
             d.cmdFileSetCancel->setFocus();
             QTest::keyClick(d.cmdFileSetCancel, Qt::Key_Return);
         }},
    };
    const std::string before = iniBytes();
    const EnvSettingsRecord stored = EnvSettings;
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        showActive(*dlg);
        fillAll(0, true);
        leave(*dlg);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.apDir, stored.apDir);
        EXPECT_EQ(EnvSettings.fileKind, stored.fileKind);
        EXPECT_EQ(EnvSettings.appendMode, stored.appendMode);
        // The next showing brings back the stored values.
        showActive(*dlg);
        EXPECT_EQ(dlg->txtDir[0]->text(), QString::fromLatin1(stored.apDir));
        EXPECT_EQ(dlg->dblFileKind->currentText(), "All");
        EXPECT_FALSE(dlg->chkAppend->isChecked());
        dlg->reject();
    }
}

}  // namespace
}  // namespace quendril::test
