// Pictures of the four dialogs for the user guide (scripts/screenshot-dialogs):
// each dialog is shown over a stand-in main window and saved as a PNG, with a
// drawn title bar so that its caption and icon show as on a desktop.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cstdio>

#include "frmBoxCountSet.h"
#include "frmCommSet.h"
#include "frmFileSet.h"
#include "frmVersion.h"
#include "settings.h"
#include "uilayout.h"

namespace {

using namespace quendril;

constexpr int kTitleHeight = 22;
constexpr int kBorder = 1;

QImage framed(QDialog& dlg) {
    const QPixmap client = dlg.grab();
    QImage out(client.width() + 2 * kBorder, client.height() + kTitleHeight + 2 * kBorder,
               QImage::Format_RGB32);
    out.fill(QColor(64, 64, 64));
    QPainter p(&out);
    const QRect bar(kBorder, kBorder, client.width(), kTitleHeight);
    QLinearGradient shade(bar.topLeft(), bar.topRight());
    shade.setColorAt(0, QColor(0, 0, 128));
    shade.setColorAt(1, QColor(16, 132, 208));
    p.fillRect(bar, shade);
    dlg.windowIcon().paint(&p, QRect(bar.left() + 3, bar.top() + 3, 16, 16));
    QFont bold = ui::programFont();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(Qt::white);
    p.drawText(bar.adjusted(24, 0, -24, 0), Qt::AlignVCenter | Qt::AlignLeft, dlg.windowTitle());
    const QRect closeBox(bar.right() - 19, bar.top() + 3, 16, 15);
    p.fillRect(closeBox, QColor(212, 208, 200));
    p.setPen(Qt::black);
    p.drawLine(closeBox.topLeft() + QPoint(4, 4), closeBox.bottomRight() - QPoint(4, 4));
    p.drawLine(closeBox.topRight() + QPoint(-4, 4), closeBox.bottomLeft() + QPoint(4, -4));
    p.drawPixmap(kBorder, kBorder + kTitleHeight, client);
    return out;
}

bool save(QDialog& dlg, const QString& path) {
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg)) return false;
    QTest::qWait(100);
    const bool ok = framed(dlg).save(path);
    dlg.reject();
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::installFontSubstitutes();
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_screenshots <output directory> [icon.png]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString iconPath = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    // Shown only, never stored: nothing is written.
    StderrPrompt prompt;
    Settings settings = defaultSettings();
    settings.apDir = "/home/user/quendril/ap";
    settings.recvDir = "/home/user/quendril/received";
    settings.sendDir = "/home/user/quendril/send";

    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("QUENDRIL"));
    if (!iconPath.isEmpty()) mainWindow.setWindowIcon(QIcon(iconPath));
    mainWindow.setGeometry(50, 50, 720, 520);
    mainWindow.show();

    frmFileSet fileSet(&mainWindow, prompt);
    frmCommSet commSet(&mainWindow, prompt);
    frmBoxCountSet boxCountSet(&mainWindow, prompt);
    frmVersion version(&mainWindow);
    fileSet.edit(settings);
    commSet.edit(settings);
    boxCountSet.edit(settings);
    const bool ok = save(fileSet, out.filePath(QStringLiteral("filesetting.png"))) &&
                    save(commSet, out.filePath(QStringLiteral("commsetting.png"))) &&
                    save(boxCountSet, out.filePath(QStringLiteral("operative.png"))) &&
                    save(version, out.filePath(QStringLiteral("version.png")));
    return ok ? 0 : 1;
}
