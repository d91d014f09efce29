// Controls of the Operative setting dialog; positions and sizes in twips.
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "dialogwindow.h"
#include "frmBoxCountSet.h"
#include "uilayout.h"

namespace quendril {

using ui::twipsRect;

void frmBoxCountSet::buildUi() {
    ui::setupFixedDialog(*this, mainWindow_, 3615, 1170);
    lblBoxCount[0] = new QLabel(this);
    lblBoxCount[0]->setGeometry(twipsRect(240, 240, 2205, 240, this));
    lblNowBoxNum = new QLabel(this);
    lblNowBoxNum->setGeometry(twipsRect(2640, 240, 105, 240, this));
    lblBoxCount[1] = new QLabel(this);
    lblBoxCount[1]->setGeometry(twipsRect(240, 720, 2460, 240, this));
    txtBoxNum = new QLineEdit(this);
    txtBoxNum->setGeometry(twipsRect(2880, 600, 495, 405, this));
    // Typed keys are filtered in txtBoxNum_KeyPress; the validator also keeps
    // pasted or dropped text to digits.
    txtBoxNum->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), txtBoxNum));
    txtBoxNum->installEventFilter(this);
}

}  // namespace quendril
