#include "frmQuendril.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "appendjob.h"
#include "catalogue.h"
#include "filehelpers.h"
#include "frmBoxCountSet.h"
#include "frmCommSet.h"
#include "frmFileSet.h"
#include "frmVersion.h"
#include "messages.h"
#include "uilayout.h"

namespace quendril {

namespace {

constexpr const char* kProductName = "QUENDRIL";
constexpr const char* kNoValue = "-------------------";
// Result texts of copies an earlier run left pending.
constexpr int kResPendingAppended = 813;
constexpr int kResPendingKept = 814;

QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string resString(int baseId) { return loadResString(baseId + langOffset); }

// The run's displays, handed to the window's thread in the order they come.
// A display that arrives after the window is gone is dropped.
class QueuedRunView final : public RunView {
public:
    explicit QueuedRunView(frmQuendril* window) : window_(window) {}
    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override {
        post([=](frmQuendril& w) { w.dispStatus(stat, kind, htid); });
    }
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override {
        post([=](frmQuendril& w) { w.dispHTID(winNum, htid, stat); });
    }
    void dispErrStat(const std::string& htid, int16_t errCode) override {
        post([=](frmQuendril& w) { w.dispErrStat(htid, errCode); });
    }
    void commInfoOn() override { post([](frmQuendril& w) { w.commInfoOn(); }); }
    void commInfoOff() override { post([](frmQuendril& w) { w.commInfoOff(); }); }
    void writeScale(int16_t percent) override { post([=](frmQuendril& w) { w.writeScale(percent); }); }
    void setIconCaption(int16_t captionNum) override { post([=](frmQuendril& w) { w.setIconCaption(captionNum); }); }
    void dispPending(const PendingJob& job) override { post([=](frmQuendril& w) { w.dispPending(job); }); }
    void hideErrorPanel() override { post([](frmQuendril& w) { w.hideErrorPanel(); }); }
    void hideScalePanel() override { post([](frmQuendril& w) { w.hideScalePanel(); }); }

private:
    template <class F>
    void post(F f) {
        QPointer<frmQuendril> w = window_;
        QMetaObject::invokeMethod(
            window_, [w, f] {
                if (w) f(*w);
            },
            Qt::QueuedConnection);
    }
    frmQuendril* window_;
};

// The exit status a run's end gives the program.
int statusOf(RunEnd end, const Files& files) {
    return files.ending() ? exitStatusOf(*files.ending()) : static_cast<int>(end);
}

}  // namespace

bool isAutoCommand(const std::string& commandLine) {
    std::string upper = commandLine;
    // Byte-wise, so no locale can turn another letter into one of these.
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper == "AUTO";
}

std::string literalCaption(const std::string& text) {
    std::string caption;
    for (char c : text) {
        caption += c;
        if (c == '&') caption += '&';
    }
    return caption;
}

frmQuendril::frmQuendril(const TvkTable& line, Prompt* boxes) : tvk_(line), wndNotify_(this, line), boxes_(boxes) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(kProductName);
    buildMainWindowUi(*this, ui_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectHandlers();
    windowPrompt_.setMainWindow(this);
}

frmQuendril::~frmQuendril() {
    // A window closed in the middle of a run (only a test does that) still
    // stops the run and waits for its thread.
    if (run_) requestStop(*run_);
    if (worker_.joinable()) worker_.join();
}

void frmQuendril::connectHandlers() {
    connect(ui_.mnuBoxCountSet, &QAction::triggered, this, [this] { mnuBoxCountSet_Click(); });
    connect(ui_.mnuFileSet, &QAction::triggered, this, [this] { mnuFileSet_Click(); });
    connect(ui_.mnuCommSet, &QAction::triggered, this, [this] { mnuCommSet_Click(); });
    connect(ui_.mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
    connect(ui_.mnuTransmit, &QAction::triggered, this, [this] { mnuTransmit_Click(); });
    connect(ui_.mnuVersion, &QAction::triggered, this, [this] { mnuVersion_Click(); });
    connect(ui_.cmdTransmitCancel, &QPushButton::clicked, this, [this] { cmdTransmitCancel_Click(); });
    // The Cancel button answers Esc while it is shown.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, [this] {
        if (!ui_.cmdTransmitCancel->isHidden()) ui_.cmdTransmitCancel->click();
    });
    connect(&wndNotify_, &WndNotify::message, this, [this](int32_t msg, int32_t wParam, const QByteArray& name) {
        wndNotify_Message(msg, wParam, name.toStdString());
    });
}

void frmQuendril::wndNotify_Message(int32_t msg, int32_t wParam, const std::string& fileName) {
    if (msg == notifyMsg) writeScale(static_cast<int16_t>(wParam));
    ui_.lblFileName->setCaption(literalCaption(fileName));
}

Prompt& frmQuendril::prompt() {
    if (autoMode_) return stderrPrompt_;
    return boxes_ ? *boxes_ : windowPrompt_;
}

bool frmQuendril::Form_Load(const std::string& commandLine) {
    hide();
    autoMode_ = isAutoCommand(commandLine);
    loadingRes();
    InitTable();
    dispHTID(0, "", 0);
    setIconCaption(0);
    initScale();
    Files files(prompt());
    tempDir_ = std::filesystem::current_path().string() + std::filesystem::path::preferred_separator + "TEMP";
    if (readSettings(files, settings_) && readIdFile(files, settings_, terminals_)) makeDir(files, tempDir_);
    if (files.ending()) {
        logRunFailure(std::filesystem::current_path().string(), *files.ending());
        exitStatus_ = exitStatusOf(*files.ending());
        return false;
    }
    for (const PendingJob& job : resumePendingAppends(tempDir_)) dispPending(job);
    centreOnScreen();
    show();
    const auto hwnd = static_cast<int32_t>(winId());
    wndNotify_.bind(hwnd);
    wndNotify_.setMessage(notifyMsg);
    tvk_.sethwnd(hwnd, notifyMsg);
    if (autoMode_) mnuTransmit_Click();
    return true;
}

void frmQuendril::loadingRes() {
    ui_.mnuSetting->setTitle(latin1(resString(100)));
    QAction* const items[] = {ui_.mnuBoxCountSet, ui_.mnuFileSet, ui_.mnuCommSet, ui_.mnuMinimum,
                              ui_.mnuExit,    ui_.mnuTransmit, ui_.mnuVersion};
    int id = 101;
    for (QAction* item : items) item->setText(latin1(resString(id++)));
    int k = 0;
    for (CaptionLabel* label : ui_.lblTransmit) label->setCaption(resString(110 + k++));
    ui_.cmdTransmitCancel->setText(latin1(resString(120)));
    ui_.lblErrorInfo->setCaption("");
}

void frmQuendril::centreOnScreen() {
    // The fixed size is known only once the layout has run.
    layout()->activate();
    const QRect area = screen()->geometry();
    const QSize outer = frameGeometry().size();
    move(static_cast<int>(std::lround(area.x() + (area.width() - outer.width()) / 2.0)),
         static_cast<int>(std::lround(area.y() + (area.height() - outer.height()) / 2.0)));
}

template <class Dialog>
void frmQuendril::showSettingsDialog(QPointer<Dialog>& dlg) {
    if (!dlg) dlg = new Dialog(this, prompt());
    dlg->edit(settings_);
    dlg->exec();
    if (!dlg) return;
    if (dlg->ending()) {
        endProgram(exitStatusOf(*dlg->ending()));
        return;
    }
    settings_ = dlg->settings();
}

void frmQuendril::mnuBoxCountSet_Click() { showSettingsDialog(boxCountSet_); }
void frmQuendril::mnuFileSet_Click() { showSettingsDialog(fileSet_); }
void frmQuendril::mnuCommSet_Click() { showSettingsDialog(commSet_); }

void frmQuendril::mnuVersion_Click() {
    // Built afresh each time; it may delete itself when closed.
    QPointer<frmVersion> dlg = new frmVersion(this);
    dlg->exec();
    delete dlg.data();
}

QDialog* frmQuendril::loadedFileSet() const { return fileSet_.data(); }
QDialog* frmQuendril::loadedCommSet() const { return commSet_.data(); }
QDialog* frmQuendril::loadedBoxCountSet() const { return boxCountSet_.data(); }

// A check item turns its own mark over when chosen.
void frmQuendril::mnuMinimum_Click() { ui_.mnuMinimum->trigger(); }

void frmQuendril::mnuExit_Click() { close(); }

void frmQuendril::setMenusEnabled(bool on) {
    for (QAction* item : {ui_.mnuTransmit, ui_.mnuCommSet, ui_.mnuBoxCountSet, ui_.mnuFileSet,
                          ui_.mnuMinimum, ui_.mnuExit}) {
        item->setEnabled(on);
    }
}

void frmQuendril::mnuTransmit_Click() {
    if (run_) return;
    setMenusEnabled(false);
    ui_.lblErrorInfo->setCaption("");
    ui_.lblFileName->setCaption("");
    dispStatus(0, 0, "");
    writeScale(0);
    setIconCaption(1);
    dispHTID(0, "", 0);
    if (ui_.mnuMinimum->isChecked()) showMinimized();
    ui_.fraStatus->show();
    ui_.cmdTransmitCancel->show();
    startRun();
}

void frmQuendril::startRun() {
    runView_ = std::make_unique<QueuedRunView>(this);
    run_ = std::make_unique<Run>(tvk_, *runView_, prompt(), tempDir_);
    run_->terminals = terminals_;
    Run* run = run_.get();
    worker_ = std::thread([this, run] {
        const RunEnd end = execute(*run);
        QMetaObject::invokeMethod(this, [this, end] { runFinished(end); }, Qt::QueuedConnection);
    });
}

void frmQuendril::runFinished(RunEnd end) {
    worker_.join();
    exitStatus_ = statusOf(end, run_->files);
    const bool ending = run_->files.ending().has_value();
    settings_ = run_->settings;
    if (autoMode_) std::cout << runTable(run_->jobs) << std::flush;
    // Until the next Execute, the idle window tells what the run did.
    const std::string last = lastRunLine(run_->jobs, std::chrono::system_clock::now());
    statusBar()->showMessage(QString::fromLatin1(last.data(), static_cast<qsizetype>(last.size())));
    run_.reset();
    runView_.reset();
    setIconCaption(0);
    commInfoOff();
    // A lost line ended the run: its error line stays in view.
    if (end == RunEnd::LineFailed && !ui_.lblErrorInfo->caption().empty()) ui_.fraErrorInfo->show();
    ui_.fraStatus->hide();
    ui_.cmdTransmitCancel->hide();
    setMenusEnabled(true);
    emit runEnded(static_cast<int>(end));
    if (endAfterRun_ >= 0) {
        endProgram(endAfterRun_);
    } else if (ending || end == RunEnd::SettingsFailed || autoMode_) {
        endProgram(exitStatus_);
    }
}

void frmQuendril::cmdTransmitCancel_Click() {
    if (run_) requestStop(*run_);
}

void frmQuendril::stopAndEnd(int exitStatus) {
    if (!run_) {
        endProgram(exitStatus);
        return;
    }
    endAfterRun_ = exitStatus;
    requestStop(*run_);
}

void frmQuendril::endProgram(int status) {
    exitStatus_ = status;
    Form_Unload();
    hide();
    emit programEnded(status);
}

void frmQuendril::Form_QueryUnload(bool& cancel) {
    // Closed by the user while idle: a plain end, whatever the last run did.
    if (!run_) {
        exitStatus_ = 0;
        return;
    }
    // The window goes once the run has stopped and released the line.
    cancel = true;
    stopAndEnd(0);
}

void frmQuendril::Form_Unload() {
    for (QDialog* dlg : {loadedFileSet(), loadedCommSet(), loadedBoxCountSet()}) {
        if (!dlg) continue;
        dlg->close();
        dlg->deleteLater();
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible()) w->close();
    }
}

void frmQuendril::closeEvent(QCloseEvent* e) {
    bool cancel = false;
    Form_QueryUnload(cancel);
    if (cancel) {
        e->ignore();
        return;
    }
    Form_Unload();
    e->accept();
}



void frmQuendril::InitTable() {
    statusNames_ = {resString(130), resString(131)};
    jobKindNames_ = {resString(140), resString(141), resString(142)};
    htStateColors_ = {QColor(255, 255, 255), QColor(0, 0, 255), QColor(255, 0, 0)};
    iconCaptions_ = {kProductName, "POLLING"};
}

void frmQuendril::dispStatus(int16_t stat, int16_t kind, const std::string& htid) {
    if (stat < 0 || stat > 1) return;
    if (stat == 1 && (kind < 0 || kind > 2)) return;
    ui_.lblStatus->setCaption(statusNames_[stat]);
    if (stat == 0) {
        ui_.lblKind->setCaption(kNoValue);
        ui_.lblID->setCaption(kNoValue);
        return;
    }
    ui_.lblKind->setCaption(jobKindNames_[kind]);
    ui_.lblID->setCaption(literalCaption(htid));
}

void frmQuendril::dispHTID(int16_t winNum, const std::string& htid, int16_t stat) {
    if (htid.empty()) {
        for (CaptionLabel* cell : ui_.lblHandyID) cell->setCaption("");
        return;
    }
    if (winNum < 0 || winNum >= kCellCount || stat < 0 || stat > 2) return;
    CaptionLabel* cell = ui_.lblHandyID[winNum];
    cell->setTextColor(htStateColors_[stat]);
    cell->setCaption(literalCaption(htid));
}

void frmQuendril::dispErrStat(const std::string& htid, int16_t errCode) {
    if (errCode == 0) return;
    showErrorLine(literalCaption(htid) + ":" + statusText(errCode));
}

void frmQuendril::dispPending(const PendingJob& job) {
    const std::string who = job.htId.empty() ? std::filesystem::path(job.jobDir).filename().string() : job.htId;
    showErrorLine(literalCaption(who) + ":" + resString(job.appended ? kResPendingAppended : kResPendingKept));
    if (autoMode_) std::cerr << "QUENDRIL: " << job.jobDir << " -> " << job.destDir << "\n";
}

void frmQuendril::showErrorLine(const std::string& text) {
    ui_.lblErrorInfo->setCaption(text);
    ui_.fraErrorInfo->show();
    if (autoMode_) std::cerr << "QUENDRIL: " << text << "\n";
}

void frmQuendril::commInfoOn() {
    ui_.fraScale->show();
    ui_.fraConnectionList->show();
}

void frmQuendril::commInfoOff() {
    ui_.fraScale->hide();
    ui_.fraErrorInfo->hide();
    ui_.fraConnectionList->hide();
}

void frmQuendril::hideErrorPanel() { ui_.fraErrorInfo->hide(); }
void frmQuendril::hideScalePanel() { ui_.fraScale->hide(); }

void frmQuendril::initScale() {
    scaleUnits_ = 0;
    drawScale();
}

void frmQuendril::drawScale() {
    const QRect inner = ui_.picScale->contentsRect();
    const auto width = static_cast<int>(std::lround(scaleUnits_ * inner.width() / 100.0));
    ui_.shpScale->setGeometry(inner.x(), inner.y(), width, inner.height());
}

void frmQuendril::writeScale(int16_t percent) {
    // The bar stays within the box whatever number it is given.
    scaleUnits_ = std::clamp<int>(percent, 0, 100);
    drawScale();
    ui_.lblScale->setCaption(std::to_string(percent) + "%");
    currentIconCaption_ = std::string(kProductName) + " - " + ui_.lblScale->caption();
    if (isMinimized()) setWindowTitle(latin1(currentIconCaption_));
    if (percent == 100) writeScale(0);
}

void frmQuendril::setIconCaption(int16_t captionNum) {
    if (captionNum < 0 || captionNum > 1) return;
    currentIconCaption_ = iconCaptions_[captionNum];
}

void frmQuendril::Form_Resize() {
    setWindowTitle(latin1(isMinimized() ? currentIconCaption_ : iconCaptions_[0]));
}

void frmQuendril::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmQuendril::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    Form_Resize();
}

}  // namespace quendril
