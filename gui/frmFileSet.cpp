#include "frmFileSet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "dialogwindow.h"
#include "filehelpers.h"
#include "settings.h"

namespace quendril {

namespace {

std::string* dirSetting(Settings& settings, int i) {
    std::string* dirs[3] = {&settings.apDir, &settings.recvDir, &settings.sendDir};
    return dirs[i];
}

// A directory is stored as bytes shown as Latin-1; a character Latin-1 cannot
// hold would be stored as '?', so such a text is refused like a missing one.
bool latin1Text(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

}  // namespace

frmFileSet::frmFileSet(QWidget* mainWindow, Prompt& prompt) : SettingsDialog(mainWindow, prompt) {
    buildUi();
}

void frmFileSet::formLoad() {
    setWindowTitle(ui::resText(300));
    for (int k = 0; k < 4; ++k) {
        lblFileSet[k]->setText(ui::resText(310 + k));
        ui::placeAutoLabel(*lblFileSet[k], 240, 240 + 840 * k, 240);
    }
    cmdFileSetOK->setText(ui::resText(320));
    cmdFileSetCancel->setText(ui::resText(330));
    for (int i = 0; i < 3; ++i) dblFileKind->addItem(ui::resText(340 + i));
    chkAppend->setText(ui::resText(350));
    ui::centreOnWindow(*this, mainWindow_);
}

void frmFileSet::formActivate() {
    Settings current = settings();
    for (int i = 0; i < 3; ++i) {
        txtDir[i]->setText(QString::fromLatin1(*dirSetting(current, i)));
        txtDir[i]->selectAll();
    }
    dblFileKind->setCurrentIndex(fileKindIndex(current.fileKind));
    chkAppend->setChecked(current.appendMode);
    txtDir[0]->setFocus();
}

void frmFileSet::cmdFileSetOK_Click() {
    Settings next = settings();
    for (int i = 0; i < 3; ++i) {
        const QString text = txtDir[i]->text();
        Files files(prompt());
        if (!latin1Text(text) || !existDir(files, text.toLatin1().toStdString())) {
            QApplication::beep();
            txtDir[i]->setFocus();
            return;
        }
        *dirSetting(next, i) = text.toLatin1().toStdString();
    }
    next.appendMode = chkAppend->isChecked();
    next.appendWord = next.appendMode ? kAppendWord : "";
    next.fileKind = fitWidth(fileKindCode(static_cast<int16_t>(dblFileKind->currentIndex())), 3);
    store(next);
}

}  // namespace quendril
