// What the three settings dialogs share: settings() changes only once an OK
// stored them in hostpc.ini.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "dialogtest.h"
#include "frmBoxCountSet.h"
#include "frmCommSet.h"
#include "frmFileSet.h"

namespace quendril::test {
namespace {

namespace fs = std::filesystem;

// A settings dialog, a change of its entries, and that change made to settings.
struct Editing {
    const char* name;
    std::function<std::unique_ptr<SettingsDialog>(QWidget*, Prompt&)> make;
    std::function<void(SettingsDialog&)> change;
    std::function<void(Settings&)> changed;
};

template <class Dialog>
std::unique_ptr<SettingsDialog> make(QWidget* mainWindow, Prompt& prompt) {
    return std::make_unique<Dialog>(mainWindow, prompt);
}

// How the next write of hostpc.ini fails: with a Retry/Cancel box, or with an
// OK box that ends the program.
enum class WriteBlock { Cancellable, Ending };

// Puts something where the new copy of hostpc.ini is written, which holds even
// for root: a socket cannot be opened (device unavailable), and the failed
// write removes it, so a Retry then succeeds; a directory with a file in it
// can neither be opened (path access) nor removed.
void blockIniWrite(WriteBlock how) {
    const std::string fresh = std::string(kIniFileName) + ".new";
    if (how == WriteBlock::Ending) {
        fs::create_directories(fresh + "/keep");
        return;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    fresh.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

// Enter on the first entry, where the focus is, is OK in every dialog.
void ok() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }

QPushButton* cancelButton(QDialog& d) {
    for (QPushButton* button : d.findChildren<QPushButton*>())
        if (button->text() == "Cancel") return button;
    return nullptr;
}

class SettingsDialogsTest : public DialogTest {
protected:
    const std::string elsewhere = dir.path().parent_path().string();
    const Editing editings[3] = {
        {"File setting", make<frmFileSet>,
         [this](SettingsDialog& d) {
             auto& dlg = static_cast<frmFileSet&>(d);
             dlg.txtDir[1]->setText(QString::fromLatin1(elsewhere));
             dlg.dblFileKind->setCurrentIndex(0);
             dlg.chkAppend->setChecked(true);
         },
         [this](Settings& s) {
             s.recvDir = elsewhere;
             s.fileKind = "LOD";
             s.appendMode = true;
             s.appendWord = kAppendWord;
         }},
        {"Communication setting", make<frmCommSet>,
         [](SettingsDialog& d) { static_cast<frmCommSet&>(d).dblCommPrm[frmCommSet::kParity]->setCurrentIndex(2); },
         [](Settings& s) { s.parityCode = "02"; }},
        {"I/O box count", make<frmBoxCountSet>,
         [](SettingsDialog& d) { static_cast<frmBoxCountSet&>(d).txtBoxNum->setText("7"); },
         [](Settings& s) { s.ioBoxCount = "07"; }},
    };
};

// Values the file refused must not stay anywhere another dialog's OK could
// write them from: that dialog starts from settings(), as the main window does.
// (The old fault: File setting kept them, and Communication setting wrote them.)
TEST_F(SettingsDialogsTest, AFailedOkChangesNothing) {
    const std::string before = iniBytes();
    for (const WriteBlock block : {WriteBlock::Cancellable, WriteBlock::Ending}) {
        const bool ending = block == WriteBlock::Ending;
        for (std::size_t i = 0; i < std::size(editings); ++i) {
            const Editing& failing = editings[i];
            const Editing& next = editings[(i + 1) % std::size(editings)];
            SCOPED_TRACE(std::string(failing.name) + (ending ? ", ending" : ", cancelled"));
            prompt.shown.clear();
            const auto dlg = failing.make(&mainWindow, prompt);
            showWith(*dlg, stored);
            failing.change(*dlg);
            blockIniWrite(block);
            ok();
            ASSERT_EQ(prompt.shown.size(), 1u);
            EXPECT_EQ(prompt.shown[0].buttons, ending ? BoxButtons::Ok : BoxButtons::RetryCancel);
            EXPECT_NE(prompt.shown[0].text.find(kIniFileName), std::string::npos);
            // Cancelled, it stays open rather than look stored; ending, it closes.
            EXPECT_EQ(dlg->isVisible(), !ending);
            EXPECT_EQ(dlg->ending().has_value(), ending);
            EXPECT_EQ(dlg->settings(), stored);
            EXPECT_EQ(iniBytes(), before);
            dlg->reject();
            fs::remove_all(std::string(kIniFileName) + ".new");

            const auto other = next.make(&mainWindow, prompt);
            showWith(*other, dlg->settings());
            next.change(*other);
            // Its write fails too, answered Retry: a retried write stores.
            blockIniWrite(WriteBlock::Cancellable);
            prompt.answers = {kAnswerRetry};
            ok();
            EXPECT_EQ(prompt.shown.size(), 2u);
            EXPECT_FALSE(other->isVisible());
            Settings expected = stored;
            next.changed(expected);
            EXPECT_EQ(other->settings(), expected);
            EXPECT_EQ(iniSettings(), expected);
            Files files(prompt);
            ASSERT_TRUE(writeSettings(files, stored));
        }
    }
}

// Leaving without OK stores nothing, and the next showing starts again from
// the settings: OK right away stores them as they were.
TEST_F(SettingsDialogsTest, LeavingWithoutOkStoresNothing) {
    const Way<QDialog> ways[] = {
        {"Esc", [](QDialog&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
        {"close box", [](QDialog& d) { d.close(); }},
        {"Cancel", [](QDialog& d) { QTest::mouseClick(cancelButton(d), Qt::LeftButton); }},
        {"Enter on Cancel", [](QDialog& d) {
             cancelButton(d)->setFocus();
             QTest::keyClick(cancelButton(d), Qt::Key_Return);
         }},
    };
    const std::string before = iniBytes();
    for (const Editing& e : editings) {
        const auto dlg = e.make(&mainWindow, prompt);
        for (const auto& [name, leave] : ways) {
            SCOPED_TRACE(std::string(e.name) + ", " + name);
            showWith(*dlg, stored);
            // The I/O box count dialog has no buttons.
            if (!cancelButton(*dlg) && std::string(name).find("Cancel") != std::string::npos) break;
            e.change(*dlg);
            leave(*dlg);
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_EQ(dlg->settings(), stored);
            EXPECT_EQ(iniBytes(), before);
            showWith(*dlg, dlg->settings());
            ok();
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_EQ(dlg->settings(), stored);
            EXPECT_EQ(iniBytes(), before);
        }
    }
}

}  // namespace
}  // namespace quendril::test
