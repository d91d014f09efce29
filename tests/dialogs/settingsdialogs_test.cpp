// The settings dialogs return what the user chose and write hostpc.ini only
// on an OK that worked; refused values keep them open.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "filebytes.h"
#include "frmBoxCountSet.h"
#include "frmCommSet.h"
#include "frmFileSet.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(readSettings(files, stored));
        mainWindow.show();
    }
    static std::string iniBytes() { return readBytes(kIniFileName); }
    Settings iniSettings() {
        Settings read;
        EXPECT_TRUE(readSettings(files, read));
        return read;
    }
    // Shown as the main window does, given the settings first, without blocking.
    static void showWith(SettingsDialog& dlg, const Settings& current) {
        dlg.edit(current);
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }
    // Taken, the dialog closes and hostpc.ini holds its settings; refused, it
    // stays open with the settings it was given and hostpc.ini is unchanged.
    void expectStored(SettingsDialog& dlg, const std::string& before, const Settings& s, bool taken) {
        EXPECT_EQ(dlg.isVisible(), !taken);
        EXPECT_EQ(dlg.settings(), s);
        EXPECT_TRUE(taken ? iniSettings() == s : iniBytes() == before);
    }

    ScopedWorkDir dir;
    TestPrompt prompt;
    Files files{prompt};
    Settings stored;  // as read from the default hostpc.ini
    QWidget mainWindow;
};

// The I/O box count lets only digits in and takes 1 to 16; a directory that fails
// its check (missing, failing with a box, outside the code page) keeps the
// dialog open with the focus on it. Only what OK took reaches hostpc.ini.
TEST_F(DialogTest, OkStoresWhatTheUserChoseAndRefusedValuesKeepTheDialogOpen) {
    for (const auto& [typed, result] : {std::pair{"1a2", "12"}, {"16", "16"}, {"0", ""}, {"17", ""}}) {
        SCOPED_TRACE(typed);
        const std::string before = iniBytes();
        Settings s = iniSettings();
        frmBoxCountSet dlg(&mainWindow, prompt);
        showWith(dlg, s);
        dlg.txtBoxNum->clear();
        QTest::keyClicks(dlg.txtBoxNum, typed);
        QTest::keyClick(dlg.txtBoxNum, Qt::Key_Enter);
        if (*result) s.ioBoxCount = result;
        expectStored(dlg, before, s, *result);
        EXPECT_EQ(dlg.txtBoxNum->text().isEmpty(), !*result) << "a refused count is cleared";
    }
    fs::create_directory("ap");
    fs::create_symlink("loop", "loop");
    const std::string ap = dir.str() + "/ap", accented = dir.str() + "/d\xE9j\xE0";
    fs::create_directory(accented);
    // the box that fails and its text (none: OK stores), file type, append mode
    const std::tuple<int, QString, int, bool> fileCases[] = {
        {-1, "", 1, true}, {-1, "", 0, false}, {1, QString::fromLatin1(dir.str() + "/missing"), 2, true},
        {0, QString::fromLatin1(dir.str() + "/loop"), 2, true}, {2, QString::fromLatin1(ap) + QChar(0x20AC), 2, true}};
    for (const auto& [box, text, kind, append] : fileCases) {
        SCOPED_TRACE(box);
        const std::string before = iniBytes();
        Settings s = iniSettings();
        s.fileKind = "lod";
        frmFileSet dlg(&mainWindow, prompt);
        showWith(dlg, s);
        EXPECT_EQ(dlg.dblFileKind->currentIndex(), 0) << "the file type in any letter case";
        for (int k = 0; k < 3; ++k) dlg.txtDir[k]->setText(QString::fromLatin1(k == 1 ? accented : ap));
        if (box >= 0) dlg.txtDir[box]->setText(text);
        dlg.dblFileKind->setCurrentIndex(kind);
        dlg.chkAppend->setChecked(append);
        QTest::mouseClick(dlg.cmdFileSetOK, Qt::LeftButton);
        if (box < 0) {
            s.apDir = s.sendDir = ap;
            s.recvDir = accented;
            s.fileKind = kind == 0 ? "LOD" : "OTR";
            s.appendMode = append;
            s.appendWord = append ? "APPEND" : "";
        }
        expectStored(dlg, before, s, box < 0);
        EXPECT_TRUE(box < 0 || QApplication::focusWidget() == dlg.txtDir[box]) << "focus on the refused box";
    }
    EXPECT_EQ(prompt.shown.size(), 1u) << "the link to itself";
}

// How the next write of hostpc.ini fails: with a Retry/Cancel box, or with an
// OK box that ends the program. Something is put where the new copy is
// written, which holds even for root: a socket cannot be opened (device
// unavailable) and the failed write removes it, so a Retry then succeeds; a
// directory with a file in it can neither be opened (path access) nor removed.
void blockIniWrite(bool ending) {
    const std::string fresh = std::string(kIniFileName) + ".new";
    if (ending) return void(fs::create_directories(fresh + "/keep"));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    fresh.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

using Make = std::function<std::unique_ptr<SettingsDialog>(QWidget*, Prompt&)>;
using Act = std::function<void(SettingsDialog&)>;
using Edit = std::function<void(Settings&)>;
template <class Dialog>
std::unique_ptr<SettingsDialog> make(QWidget* mainWindow, Prompt& prompt) {
    return std::make_unique<Dialog>(mainWindow, prompt);
}

// Values the file refused must not stay anywhere another dialog's OK could
// write them from: that dialog starts from settings(), as the main window does.
TEST_F(DialogTest, AFailedOkChangesNothing) {
    // A change of each dialog's entries, and that change made to settings.
    const std::tuple<const char*, Make, Act, Edit> editings[2] = {
        {"File setting", make<frmFileSet>,
         [](SettingsDialog& d) {
             static_cast<frmFileSet&>(d).dblFileKind->setCurrentIndex(0);
             static_cast<frmFileSet&>(d).chkAppend->setChecked(true);
         },
         [](Settings& s) { s.fileKind = "LOD", s.appendMode = true, s.appendWord = kAppendWord; }},
        {"Communication setting", make<frmCommSet>,
         [](SettingsDialog& d) { static_cast<frmCommSet&>(d).dblCommPrm[frmCommSet::kParity]->setCurrentIndex(2); },
         [](Settings& s) { s.parityCode = "02"; }}};
    // Enter on the first entry, where the focus is, is OK in every dialog.
    const auto ok = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); };
    const std::string before = iniBytes();
    for (const bool ending : {false, true}) {
        for (std::size_t i = 0; i < std::size(editings); ++i) {
            const auto& [name, makeFailing, change, changed] = editings[i];
            const auto& [nextName, makeNext, changeNext, nextChanged] = editings[(i + 1) % std::size(editings)];
            SCOPED_TRACE(std::string(name) + (ending ? ", ending" : ", cancelled"));
            prompt.shown.clear();
            const auto dlg = makeFailing(&mainWindow, prompt);
            showWith(*dlg, stored);
            change(*dlg);
            blockIniWrite(ending);
            ok();
            ASSERT_EQ(prompt.shown.size(), 1u);
            EXPECT_NE(prompt.shown[0].text.find(kIniFileName), std::string::npos);
            // Cancelled, it stays open rather than look stored; ending, it closes.
            EXPECT_EQ(std::tuple(prompt.shown[0].buttons, dlg->isVisible(), dlg->ending().has_value(), iniBytes()),
                      std::tuple(ending ? BoxButtons::Ok : BoxButtons::RetryCancel, !ending, ending, before));
            EXPECT_EQ(dlg->settings(), stored);
            dlg->reject();
            fs::remove_all(std::string(kIniFileName) + ".new");

            const auto other = makeNext(&mainWindow, prompt);
            showWith(*other, dlg->settings());
            changeNext(*other);
            // Its write fails too, answered Retry: a retried write stores.
            blockIniWrite(false);
            prompt.answers = {kAnswerRetry};
            ok();
            Settings expected = stored;
            nextChanged(expected);
            EXPECT_EQ(std::tuple(prompt.shown.size(), other->isVisible()), std::tuple(2u, false));
            EXPECT_EQ(std::pair(other->settings(), iniSettings()), std::pair(expected, expected));
            ASSERT_TRUE(writeSettings(files, stored));
        }
    }
}

}  // namespace
}  // namespace quendril::test
