// The main window: start-up, menus and shutdown, the displays of a run (status,
// progress scale, error line, terminal table) and the caption while minimised.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "mainwindowui.h"
#include "run.h"
#include "windowprompt.h"
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
    // line: the terminal-link library; boxes: where failures show (the
    // window's own boxes when null). Tests pass a fake and a recorder.
    explicit frmQuendril(const TvkTable& line = tvkLibrary(), Prompt* boxes = nullptr);
    ~frmQuendril() override;

    // Start-up after creation; commandLine is the whole argument text. In
    // "AUTO" mode the run starts at once and the program ends when it is
    // over. False when a failure ended the program before the window showed
    // (exitStatus() says how).
    bool Form_Load(const std::string& commandLine);

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
    // it asks the run to stop, and the program ends once the run has.
    void Form_QueryUnload(bool& cancel);
    // A stop from outside (SIGINT, SIGTERM): the run, if any, stops and the
    // program then ends with exitStatus.
    void stopAndEnd(int exitStatus);
    void Form_Unload();
    // A progress message of the library with the name of the file in hand.
    void wndNotify_Message(int32_t msg, int32_t wParam, const std::string& fileName);

    // Display operations of the run
    void InitTable();
    void initScale();
    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override;
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override;
    void dispErrStat(const std::string& htid, int16_t errCode) override;
    void commInfoOn() override;
    void commInfoOff() override;
    void writeScale(int16_t percent) override;
    void setIconCaption(int16_t captionNum) override;
    void dispPending(const PendingJob& job) override;
    void hideErrorPanel() override;
    void hideScalePanel() override;

    const MainWindowUi& ui() const { return ui_; }
    // How the last run ended, as the exit status of "AUTO"; how the program
    // ended once it did.
    int exitStatus() const { return exitStatus_; }
    bool running() const { return run_ != nullptr; }
    const Settings& settings() const { return settings_; }
    const std::string& currentIconCaption() const { return currentIconCaption_; }
    int scalePercent() const { return scaleUnits_; }
    // Dialogs currently loaded (null when not created or unloaded).
    QDialog* loadedFileSet() const;
    QDialog* loadedCommSet() const;
    QDialog* loadedBoxCountSet() const;

signals:
    // A run has ended, every display of it shown.
    void runEnded(int end);
    // Every window is unloaded: the program is to end with status.
    void programEnded(int status);

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
    Prompt& prompt();
    void startRun();
    void runFinished(RunEnd end);
    // Unloads every window; the event loop then ends with status.
    void endProgram(int status);

    const TvkTable& tvk_;
    MainWindowUi ui_;
    WndNotify wndNotify_;
    WindowPrompt windowPrompt_;
    Prompt* boxes_;
    StderrPrompt stderrPrompt_;
    Settings settings_;
    TerminalTable terminals_;
    std::string tempDir_;
    // The run in progress and the thread it works on; the view hands its
    // displays to this window's thread.
    std::unique_ptr<RunView> runView_;
    std::unique_ptr<Run> run_;
    std::thread worker_;
    int endAfterRun_ = -1;  // the exit status once the run has stopped; -1: keep going

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
