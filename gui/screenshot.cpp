#include "screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "frmBoxCountSet.h"
#include "frmCommSet.h"
#include "frmFileSet.h"
#include "frmQuendril.h"
#include "frmVersion.h"
#include "uilayout.h"

namespace quendril {

namespace {

constexpr int kSettleMs = 400;
constexpr int kTitleHeight = 22;
constexpr int kBorder = 1;

// A run in progress: five terminals in the three colours, one error line.
void showSampleRun(frmQuendril& window) {
    window.ui().fraStatus->show();
    window.ui().cmdTransmitCancel->show();
    window.dispStatus(1, 1, "HT0003");
    window.commInfoOn();
    const struct {
        const char* id;
        int16_t state;
    } terminals[] = {{"HT0001", 1}, {"HT0002", 2}, {"HT0003", 0}, {"&&&&&&", 0}, {"HT0005", 0}};
    int16_t cell = 0;
    for (const auto& t : terminals) window.dispHTID(cell++, t.id, t.state);
    window.dispErrStat("HT0002", 0x0100);
    window.wndNotify_Message(notifyMsg, 45, "DATA0003.DAT");
}

// The dialog with a title bar drawn around it, so that its caption and icon
// show as on a desktop whatever the platform draws.
QImage framed(QDialog& dlg) {
    dlg.show();
    QCoreApplication::processEvents();
    const QPixmap client = dlg.grab();
    dlg.reject();
    QImage out(client.width() + 2 * kBorder, client.height() + kTitleHeight + 2 * kBorder, QImage::Format_RGB32);
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

}  // namespace

std::vector<std::pair<std::string, QImage>> takeScreenshots(frmQuendril& window) {
    std::vector<std::pair<std::string, QImage>> shots;
    shots.emplace_back("main-idle.png", window.grab().toImage());
    showSampleRun(window);
    QCoreApplication::processEvents();
    shots.emplace_back("main-run.png", window.grab().toImage());

    // Shown only, never stored: the prompt is never asked.
    StderrPrompt prompt;
    Settings settings = defaultSettings();
    settings.apDir = "/home/user/quendril/ap";
    settings.recvDir = "/home/user/quendril/received";
    settings.sendDir = "/home/user/quendril/send";
    frmFileSet fileSet(&window, prompt);
    frmCommSet commSet(&window, prompt);
    frmBoxCountSet boxCountSet(&window, prompt);
    frmVersion version(&window);
    fileSet.edit(settings);
    commSet.edit(settings);
    boxCountSet.edit(settings);
    shots.emplace_back("filesetting.png", framed(fileSet));
    shots.emplace_back("commsetting.png", framed(commSet));
    shots.emplace_back("operative.png", framed(boxCountSet));
    shots.emplace_back("version.png", framed(version));
    return shots;
}

void scheduleScreenshots(frmQuendril& window) {
    const QString dir = qEnvironmentVariable("QUENDRIL_SCREENSHOT");
    if (dir.isEmpty()) return;
    QTimer::singleShot(kSettleMs, &window, [&window, dir] {
        bool saved = true;
        for (const auto& [name, picture] : takeScreenshots(window)) {
            saved = picture.save(QDir(dir).filePath(QString::fromStdString(name))) && saved;
        }
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

}  // namespace quendril
