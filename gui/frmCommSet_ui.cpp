// Controls of the Communication setting dialog; positions and sizes in twips.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialogwindow.h"
#include "frmCommSet.h"
#include "uilayout.h"

namespace quendril {

using ui::twipsRect;

// Left and top of list i; its label stands 240 twips above it.
static constexpr int kListPos[frmCommSet::kListCount][2] = {
    {240, 480}, {3240, 480}, {240, 1320}, {3240, 1320}, {240, 2280}};

void frmCommSet::buildUi() {
    ui::setupFixedDialog(*this, mainWindow_, 8010, 2850);
    for (int i = 0; i < kListCount; ++i) {
        lblTransmitSet[i] = new QLabel(this);
        lblTransmitSet[i]->setGeometry(twipsRect(kListPos[i][0], kListPos[i][1] - 240, 0, 240, this));
        dblCommPrm[i] = new QComboBox(this);
        dblCommPrm[i]->setEditable(false);
        dblCommPrm[i]->setGeometry(twipsRect(kListPos[i][0], kListPos[i][1], 2535, 360, this));
    }
    cmdTransmitSetOK = new QPushButton(this);
    cmdTransmitSetOK->setGeometry(twipsRect(6240, 480, 1575, 495, this));
    cmdTransmitSetOK->setDefault(true);
    cmdTransmitSetCancel = new QPushButton(this);
    cmdTransmitSetCancel->setGeometry(twipsRect(6240, 1200, 1575, 495, this));

    for (int i = 0; i + 1 < kListCount; ++i) setTabOrder(dblCommPrm[i], dblCommPrm[i + 1]);
    setTabOrder(dblCommPrm[kListCount - 1], cmdTransmitSetOK);
    setTabOrder(cmdTransmitSetOK, cmdTransmitSetCancel);

    connect(cmdTransmitSetOK, &QPushButton::clicked, this, &frmCommSet::cmdTransmitSetOK_Click);
    connect(cmdTransmitSetCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmCommSet::placeLabels() {
    for (int i = 0; i < kListCount; ++i)
        ui::placeAutoLabel(*lblTransmitSet[i], kListPos[i][0], kListPos[i][1] - 240, 240);
}

}  // namespace quendril
