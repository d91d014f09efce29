#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "dialogtest.h"
#include "frmVersion.h"
#include "version.h"
#include "versionline.h"

namespace quendril::test {
namespace {

TEST(VersionLine, MinorAndRevisionAreWrittenOneAfterTheOther) {
    EXPECT_EQ(versionLine(kVersionMajor, kVersionMinor, kVersionRevision), "Version 2.00");
    const struct {
        int major, minor, revision;
        const char* line;
    } cases[] = {{2, 0, 0, "Version 2.00"}, {2, 1, 5, "Version 2.15"}, {2, 10, 3, "Version 2.103"},
                 {10, 0, 12, "Version 10.012"}};
    for (const auto& c : cases) EXPECT_EQ(versionLine(c.major, c.minor, c.revision), c.line);
}

using VersionTest = DialogTest;

TEST_F(VersionTest, ShowsTheNameLineTheVersionLineAndTheIconAtItsOwnSize) {
    for (int side : {32, 48}) {
        SCOPED_TRACE(side);
        QPixmap icon(side, side);
        icon.fill(Qt::darkRed);
        if (side != 32) mainWindow.setWindowIcon(QIcon(icon));
        frmVersion dlg(&mainWindow);
        showActive(dlg);
        EXPECT_EQ(dlg.windowTitle(), "QUENDRIL");
        EXPECT_EQ(dlg.lblVersion[0]->text(), "QUENDRIL 32BIT English");
        EXPECT_EQ(dlg.lblVersion[1]->text(), "Version 2.00");
        EXPECT_EQ(dlg.cmdOK->text(), "OK");
        EXPECT_EQ(dlg.windowIcon().cacheKey(), mainWindow.windowIcon().cacheKey());
        const QPixmap shown = dlg.imgVersion->pixmap();
        EXPECT_EQ(shown.size(), QSize(side, side));
        EXPECT_EQ(shown.toImage().pixelColor(0, 0), QColor(side == 32 ? Qt::darkCyan : Qt::darkRed));
        // Labels grow to the right from their left edges.
        EXPECT_GE(dlg.lblVersion[0]->width(), dlg.lblVersion[0]->sizeHint().width());
        EXPECT_LT(dlg.imgVersion->geometry().right(), dlg.lblVersion[0]->x());
    }
}

TEST_F(VersionTest, OkEnterEscAndCloseBoxCloseIt) {
    const Way<frmVersion> ways[] = {
        {"OK", [](frmVersion& d) { QTest::mouseClick(d.cmdOK, Qt::LeftButton); }},
        {"Enter", [](frmVersion& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {"Esc", [](frmVersion& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](frmVersion& d) { d.close(); }},
    };
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        frmVersion dlg(&mainWindow);
        // Shown modally as the main window does; the answer comes from a timer.
        QTimer::singleShot(0, [&] {
            if (QApplication::activeModalWidget() == &dlg) leave(dlg);
        });
        QTimer::singleShot(5000, &dlg, &QDialog::reject);
        QElapsedTimer clock;
        clock.start();
        dlg.exec();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_LT(clock.elapsed(), 4000);
    }
}

}  // namespace
}  // namespace quendril::test
