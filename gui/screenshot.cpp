#include "screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "frmQuendril.h"

namespace quendril {

namespace {

constexpr int kSettleMs = 400;

bool savePicture(frmQuendril& window, const QString& dir, const char* name) {
    return window.grab().save(QDir(dir).filePath(QString::fromLatin1(name)));
}

// The name the sample transfer reports, in place of a live line.
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
    std::string failed = "HT0002";
    window.dispErrStat(failed, 0x0100);
    window.wndNotify_Message(notifyMsg, 45, "DATA0003.DAT");
}

}  // namespace

void scheduleScreenshots(frmQuendril& window) {
    const QString dir = qEnvironmentVariable("QUENDRIL_SCREENSHOT");
    if (dir.isEmpty()) return;
    QTimer::singleShot(kSettleMs, &window, [&window, dir] {
        bool ok = savePicture(window, dir, "main-idle.png");
        showSampleRun(window);
        QTimer::singleShot(kSettleMs, &window, [&window, dir, ok] {
            const bool saved = savePicture(window, dir, "main-run.png") && ok;
            QCoreApplication::exit(saved ? 0 : 1);
        });
    });
}

}  // namespace quendril
