#include "frmBoxCountSet.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "dialogwindow.h"
#include "settings.h"
#include "uilayout.h"

namespace quendril {

namespace {
constexpr int kDesignWidth0 = 2205;
constexpr int kDesignWidth1 = 2460;
constexpr int kMinBoxes = 1;
constexpr int kMaxBoxes = 16;
}  // namespace

frmBoxCountSet::frmBoxCountSet(QWidget* mainWindow, Prompt& prompt) : SettingsDialog(mainWindow, prompt) {
    buildUi();
}

// Labels size themselves to their captions; whatever they grow, the number
// beside them moves right and the window widens to keep everything visible.
void frmBoxCountSet::formLoad() {
    setWindowTitle(ui::resText(200));
    const int w0 = ui::twips(kDesignWidth0, this);
    const int w1 = ui::twips(kDesignWidth1, this);
    lblBoxCount[0]->setText(ui::resText(210));
    lblBoxCount[1]->setText(ui::resText(211));
    ui::placeAutoLabel(*lblBoxCount[0], 240, 240, 240);
    ui::placeAutoLabel(*lblBoxCount[1], 240, 720, 240);
    const int d0 = lblBoxCount[0]->width() - w0;
    const int d1 = lblBoxCount[1]->width() - w1;
    lblNowBoxNum->move(lblNowBoxNum->x() + d0, lblNowBoxNum->y());
    txtBoxNum->move(txtBoxNum->x() + d1, txtBoxNum->y());
    setFixedSize(width() + (d1 > d0 ? d1 : d0), height());
    ui::centreOnWindow(*this, mainWindow_);
}

void frmBoxCountSet::formActivate() {
    const QString count = QString::number(numericValue(settings().ioBoxCount));
    txtBoxNum->setText(count);
    lblNowBoxNum->setText(count);
    lblNowBoxNum->resize(lblNowBoxNum->sizeHint().width(), lblNowBoxNum->height());
    txtBoxNum->selectAll();
    txtBoxNum->setFocus();
}

bool frmBoxCountSet::eventFilter(QObject* watched, QEvent* e) {
    if (watched == txtBoxNum && e->type() == QEvent::KeyPress)
        return txtBoxNum_KeyPress(static_cast<const QKeyEvent&>(*e));
    return QDialog::eventFilter(watched, e);
}

// True swallows the key. Keys without a character (arrows, Delete, Home)
// still move and edit in the box.
bool frmBoxCountSet::txtBoxNum_KeyPress(const QKeyEvent& key) {
    switch (key.key()) {
        case Qt::Key_Backspace: return false;
        case Qt::Key_Escape: reject(); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: storeBoxNum(); return true;
        default: break;
    }
    const QString text = key.text();
    if (text.isEmpty() || key.key() == Qt::Key_Delete) return false;
    return !(text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9'));
}

void frmBoxCountSet::storeBoxNum() {
    const int32_t n = numericValue(txtBoxNum->text().toStdString());
    if (n < kMinBoxes || n > kMaxBoxes) {
        txtBoxNum->clear();
        return;
    }
    Settings next = settings();
    next.ioBoxCount = ui::twoDigits(n);
    store(next);
}

}  // namespace quendril
