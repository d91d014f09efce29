// Controls of the File setting dialog; positions and sizes in twips.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialogwindow.h"
#include "dirlineedit.h"
#include "frmFileSet.h"
#include "uilayout.h"

namespace quendril {

using ui::setupFixedDialog;
using ui::twipsRect;

void frmFileSet::buildUi() {
    setupFixedDialog(*this, mainWindow_, 7890, 3600);
    static constexpr int kRowTop[4] = {240, 1080, 1920, 2760};
    for (int k = 0; k < 4; ++k) {
        lblFileSet[k] = new QLabel(this);
        lblFileSet[k]->setGeometry(twipsRect(240, kRowTop[k], 0, 240, this));
    }
    for (int i = 0; i < 3; ++i) {
        txtDir[i] = new DirLineEdit(this);
        txtDir[i]->setGeometry(twipsRect(240, kRowTop[i] + 240, 5415, 405, this));
    }
    dblFileKind = new QComboBox(this);
    dblFileKind->setEditable(false);
    dblFileKind->setGeometry(twipsRect(240, 3000, 5415, 360, this));
    cmdFileSetOK = new QPushButton(this);
    cmdFileSetOK->setGeometry(twipsRect(6120, 480, 1575, 495, this));
    cmdFileSetOK->setDefault(true);
    cmdFileSetCancel = new QPushButton(this);
    cmdFileSetCancel->setGeometry(twipsRect(6120, 1200, 1575, 495, this));
    chkAppend = new QCheckBox(this);
    chkAppend->setGeometry(twipsRect(5880, 3000, 2055, 375, this));

    setTabOrder(txtDir[0], txtDir[1]);
    setTabOrder(txtDir[1], txtDir[2]);
    setTabOrder(txtDir[2], dblFileKind);
    setTabOrder(dblFileKind, cmdFileSetOK);
    setTabOrder(cmdFileSetOK, cmdFileSetCancel);
    setTabOrder(cmdFileSetCancel, chkAppend);

    connect(cmdFileSetOK, &QPushButton::clicked, this, &frmFileSet::cmdFileSetOK_Click);
    connect(cmdFileSetCancel, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace quendril
