#include "frmQuendril.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "appendjob.h"
#include "catalogue.h"
#include "comm.h"
#include "declar.h"
#include "filehelpers.h"
#include "frmCommSet.h"
#include "frmFileSet.h"
#include "frmBoxCountSet.h"
#include "frmVersion.h"
#include "host.h"
#include "hostpcIni.h"
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

// CommResult of an error-status word: the first bit set, in this order, wins.
int commResultOf(int16_t errCode) {
    struct BitText {
        uint16_t bit;
        int index;
    };
    // No room for what the terminal announced reads as a write error; more
    // data than it announced as a protocol error.
    static constexpr BitText kOrder[] = {{0x0001, 1},  {0x0002, 2},  {0x0004, 3},  {0x0008, 12},
                                         {0x0010, 4},  {0x0100, 5},  {0x0400, 6},  {0x0800, 11},
                                         {0x1000, 7},  {0x2000, 9},  {0x4000, 6}};
    const auto word = static_cast<uint16_t>(errCode);
    for (const BitText& b : kOrder) {
        if (word & b.bit) return b.index;
    }
    return 0;
}

void pumpCallback(void* user) {
    static_cast<frmQuendril*>(user)->yieldEvents();
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

frmQuendril::frmQuendril() : wndNotify_(this) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(kProductName);
    buildMainWindowUi(*this, ui_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectHandlers();
    setRunView(this);
}

frmQuendril::~frmQuendril() {
    tvk().setpump(nullptr, nullptr);
    setRunView(nullptr);
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
    connect(&wndNotify_, &WndNotify::message, this,
            [this](int32_t msg, int32_t wParam) { wndNotify_Message(msg, wParam); });
}

void frmQuendril::Form_Load(const std::string& commandLine) {
    hide();
    loadingRes();
    InitTable();
    dispHTID(0, "", 0);
    setIconCaption(0);
    initScale();
    readIni();
    readIdInf();
    if (tempDir.empty()) {
        tempDir = std::filesystem::current_path().string() +
                  std::filesystem::path::preferred_separator + "TEMP";
        makeDir(tempDir);
    }
    autoMode_ = isAutoCommand(commandLine);
    for (const PendingJob& job : resumePendingAppends(tempDir)) dispPending(job);
    centreOnScreen();
    show();
    const auto hwnd = static_cast<int32_t>(winId());
    wndNotify_.bind(hwnd);
    wndNotify_.setMessage(notifyMsg);
    tvk().setpump(&pumpCallback, this);
    tvk().sethwnd(hwnd, notifyMsg);
    if (autoMode_) {
        mnuTransmit_Click();
        mnuExit_Click();
    }
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
    if (!dlg) dlg = new Dialog(this);
    dlg->exec();
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
    stopRequested = false;
    const RunEnd end = commExecute();
    exitStatus_ = static_cast<int>(end);
    setIconCaption(0);
    commInfoOff();
    // A lost line ended the run: its error line stays in view.
    if (end == RunEnd::LineFailed && !ui_.lblErrorInfo->caption().empty()) ui_.fraErrorInfo->show();
    ui_.fraStatus->hide();
    ui_.cmdTransmitCancel->hide();
    setMenusEnabled(true);
}

void frmQuendril::cmdTransmitCancel_Click() {
    tvk().stopreq();
    stopRequested = true;
}

void frmQuendril::Form_QueryUnload(bool& cancel) {
    // A disabled Execute item is the sign of a run in progress.
    if (ui_.mnuTransmit->isEnabled()) return;
    cancel = true;
    cmdTransmitCancel_Click();
    endProgram(0);
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

void frmQuendril::wndNotify_Message(int32_t msg, int32_t wParam) {
    if (msg == notifyMsg) writeScale(static_cast<int16_t>(wParam));
    char name[TVK_FNAME_LEN];
    std::memset(name, 0, sizeof name);
    tvk().getcomfname(name);
    ui_.lblFileName->setCaption(literalCaption(std::string(name, strnlen(name, sizeof name))));
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

void frmQuendril::dispErrStat(std::string& htid, int16_t errCode) {
    if (errCode == 0) return;
    const std::string caption = literalCaption(htid);
    if (htid == kWildcardId) htid = caption;
    showErrorLine(caption + ":" + resString(800 + commResultOf(errCode)));
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

void frmQuendril::yieldEvents() { QCoreApplication::processEvents(); }

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
