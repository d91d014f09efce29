#include "dialogwindow.h"

#include <QDialog>
#include <QLabel>
#include <QWidget>
#include <cstdio>

#include "catalogue.h"
#include "uilayout.h"

namespace quendril::ui {

void setupFixedDialog(QDialog& dlg, const QWidget* mainWindow, int widthTwips, int heightTwips) {
    dlg.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    dlg.setModal(true);
    dlg.setFont(programFont());
    if (mainWindow) dlg.setWindowIcon(mainWindow->windowIcon());
    dlg.setFixedSize(twips(widthTwips, &dlg), twips(heightTwips, &dlg));
}

void centreOnWindow(QWidget& dlg, const QWidget* mainWindow) {
    if (!mainWindow) return;
    const QRect main = mainWindow->frameGeometry();
    const QSize outer = dlg.frameGeometry().size();
    dlg.move(main.left() + (main.width() - outer.width()) / 2,
             main.top() + (main.height() - outer.height()) / 2);
}

QString resText(int baseId) {
    return QString::fromLatin1(loadResString(baseId + langOffset));
}

void placeAutoLabel(QLabel& label, int leftTwips, int topTwips, int heightTwips) {
    label.setGeometry(twips(leftTwips, &label), twips(topTwips, &label),
                      label.sizeHint().width(), twips(heightTwips, &label));
}

std::string twoDigits(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

}  // namespace quendril::ui
