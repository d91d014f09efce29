// The main window: start-up, menus and shutdown, the displays of a run (status,
// progress scale, error line, terminal table) and the caption while minimised.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <string>

#include "mainwindowui.h"
#include "runview.h"
#include "wndnotify.h"

namespace quendril {

class frmFileSet;
class frmCommSet;
class frmBoxCountSet;

// True when the program's whole argument text, upper-cased, is "AUTO".
bool isAutoCommand(const std::string& commandLine);

// The label caption that shows text as it is: every "&" doubled, so the
// wildcard ID "&&&&&&" becomes twelve ampersands and the user reads six.
std::string literalCaption(const std::string& text);

class frmQuendril : public QMainWindow, public RunView {
    Q_OBJECT
public:
    frmQuendril();
    ~frmQuendril() override;

    // Start-up after creation; commandLine is the whole argument text. In
    // "AUTO" mode it returns after the run, with every window unloaded.
    void Form_Load(const std::string& commandLine);

    // Menu handlers
    void mnuBoxCountSet_Click();
    void mnuFileSet_Click();
    void mnuCommSet_Click();
    void mnuVersion_Click();
    void mnuMinimum_Click();
    void mnuExit_Click();
    void mnuTransmit_Click();
    void cmdTransmitCancel_Click();

    // A close request; cancel is set when the window is to stay. During a run
    // it stops the library and ends the program instead of returning.
    void Form_QueryUnload(bool& cancel);
    void Form_Unload();
    void wndNotify_Message(int32_t msg, int32_t wParam);

    // Display operations of the run
    void InitTable();
    void initScale();
    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override;
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override;
    void dispErrStat(std::string& htid, int16_t errCode) override;
    void commInfoOn() override;
    void commInfoOff() override;
    void writeScale(int16_t percent) override;
    void setIconCaption(int16_t captionNum) override;
    void dispPending(const PendingJob& job) override;
    void hideErrorPanel() override;
    void hideScalePanel() override;
    void yieldEvents() override;

    const MainWindowUi& ui() const { return ui_; }
    // How the last run ended, as the exit status of "AUTO".
    int exitStatus() const { return exitStatus_; }
    const std::string& currentIconCaption() const { return currentIconCaption_; }
    int scalePercent() const { return scaleUnits_; }
    // Dialogs currently loaded (null when not created or unloaded).
    QDialog* loadedFileSet() const;
    QDialog* loadedCommSet() const;
    QDialog* loadedBoxCountSet() const;

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void loadingRes();
    void connectHandlers();
    void setMenusEnabled(bool on);
    void centreOnScreen();
    void Form_Resize();
    void drawScale();
    // The error line, also written to standard error in "AUTO" mode.
    void showErrorLine(const std::string& text);
    template <class Dialog>
    void showSettingsDialog(QPointer<Dialog>& dlg);

    MainWindowUi ui_;
    WndNotify wndNotify_;

    std::array<std::string, 2> statusNames_;
    std::array<std::string, 3> jobKindNames_;
    std::array<QColor, 3> htStateColors_;
    std::array<std::string, 2> iconCaptions_;
    std::string currentIconCaption_;
    int scaleUnits_ = 0;
    bool autoMode_ = false;
    int exitStatus_ = 0;

    QPointer<frmFileSet> fileSet_;
    QPointer<frmCommSet> commSet_;
    QPointer<frmBoxCountSet> boxCountSet_;
};

}  // namespace quendril
