#include "frmVersion.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "dialogwindow.h"
#include "uilayout.h"
#include "version.h"
#include "versionline.h"

namespace quendril {

namespace {

constexpr int kFallbackIconSize = 32;

// The largest picture the icon carries, at its own size.
QSize ownSize(const QIcon& icon) {
    QSize best;
    for (const QSize& s : icon.availableSizes())
        if (s.width() * s.height() > best.width() * best.height()) best = s;
    return best.isValid() ? best : QSize(kFallbackIconSize, kFallbackIconSize);
}

}  // namespace

frmVersion::frmVersion(QWidget* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {
    buildUi();
    formLoad();
}

void frmVersion::buildUi() {
    ui::setupFixedDialog(*this, mainWindow_, 4305, 1605);
    imgVersion = new QLabel(this);
    imgVersion->setGeometry(ui::twipsRect(120, 240, 615, 615, this));
    imgVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblVersion[0] = new QLabel(this);
    lblVersion[1] = new QLabel(this);
    for (QLabel* label : lblVersion) label->setAlignment(Qt::AlignCenter);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(ui::twipsRect(1560, 1080, 1215, 375, this));
    cmdOK->setDefault(true);
    // OK unloads the dialog; Esc and the close box reject, which ends it alike.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

void frmVersion::formLoad() {
    setWindowTitle(QStringLiteral("QUENDRIL"));
    // The image sizes itself to the picture, keeping its top-left corner.
    const QSize own = ownSize(windowIcon());
    imgVersion->resize(own);
    imgVersion->setPixmap(windowIcon().pixmap(own));
    lblVersion[0]->setText(QString::fromLatin1(kProductLine));
    lblVersion[1]->setText(
        QString::fromStdString(versionLine(kVersionMajor, kVersionMinor, kVersionRevision)));
    ui::placeAutoLabel(*lblVersion[0], 1845, 240, 240);
    ui::placeAutoLabel(*lblVersion[1], 1860, 600, 240);
    ui::centreOnWindow(*this, mainWindow_);
}

}  // namespace quendril
