// The run displays: captions, terminal table, status, error line, scale and
// the caption while minimised.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPushButton>
#include <thread>

#include "uilayout.h"
#include "windowfixture.h"

namespace quendril::test {
namespace {

const QColor kWhite(255, 255, 255), kBlue(0, 0, 255), kRed(255, 0, 0);

class DisplayTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        load();
    }
    int innerScaleWidth() const { return ui().picScale->contentsRect().width(); }
};

TEST_F(DisplayTest, MenuAndLabelCaptionsComeFromTheCatalogue) {
    const struct {
        QAction* item;
        const char* text;
    } menus[] = {{ui().mnuSettingAction, "Settings(&F)"}, {ui().mnuUnyoSet, "Operative setting"},
                 {ui().mnuFileSet, "File setting"},       {ui().mnuCommSet, "Communication setting"},
                 {ui().mnuMinimum, "Icon and communication"}, {ui().mnuExit, "Exit QUENDRIL(&X)"},
                 {ui().mnuTransmit, "Execute(&R)"},       {ui().mnuVersion, "Version(&V)"}};
    for (const auto& m : menus) EXPECT_EQ(m.item->text().toStdString(), m.text);
    // Access keys reach the menu as Qt mnemonics.
    EXPECT_EQ(QKeySequence::mnemonic(ui().mnuSettingAction->text()), QKeySequence(Qt::ALT | Qt::Key_F));
    EXPECT_EQ(QKeySequence::mnemonic(ui().mnuExit->text()), QKeySequence(Qt::ALT | Qt::Key_X));
    EXPECT_TRUE(ui().sepalate->isSeparator());

    const char* headings[kHeadingCount] = {"Status",        "Job Type",     "HT ID",
                                           "File Name",     "Error Information", "Connected HTs",
                                           "White:Waiting", "Blue :Done",   "Red  :Error end"};
    for (int i = 0; i < kHeadingCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown(ui().lblTransmit[i]), headings[i]);
        EXPECT_GT(ui().lblTransmit[i]->width(), 0);
    }
    EXPECT_EQ(ui().cmdTransmitCancel->text().toStdString(), "Cancel");
    EXPECT_EQ(shown(ui().lblErrorInfo), "");
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL");
}

TEST_F(DisplayTest, PanelsAndCellsSitAtTheirPlaces) {
    auto at = [this](int l, int t, int w, int h) { return ui::twipsRect(l, t, w, h, window.get()); };
    EXPECT_EQ(ui().client->size(), at(0, 0, 8790, 5295).size());
    EXPECT_EQ(ui().fraStatus->geometry(), at(120, 120, 5175, 1575));
    EXPECT_EQ(ui().fraScale->geometry(), at(120, 1920, 5175, 855));
    EXPECT_EQ(ui().fraErrorInfo->geometry(), at(120, 3000, 5175, 855));
    EXPECT_EQ(ui().fraConnectionList->geometry(), at(5520, 120, 3135, 5055));
    EXPECT_EQ(ui().cmdTransmitCancel->geometry(), at(3480, 4440, 1695, 735));
    // Cell 0 top left, 1 top right, 3 right of the second row, 15 bottom right.
    const struct {
        int cell, left, top;
    } cells[] = {{0, 240, 240}, {1, 1680, 240}, {3, 1680, 720}, {14, 240, 3600}, {15, 1680, 3600}};
    for (const auto& c : cells) {
        SCOPED_TRACE(c.cell);
        EXPECT_EQ(ui().lblHandyID[c.cell]->geometry(), at(c.left, c.top, 1215, 255));
        EXPECT_EQ(ui().lblHandyID[c.cell]->parentWidget(), ui().fraConnectionList);
        EXPECT_EQ(ui().lblHandyID[c.cell]->palette().color(QPalette::Window), QColor(192, 192, 192));
    }
    for (int i = 0; i < kCellCount; ++i) EXPECT_EQ(ui().lblHandyID[i]->geometry(), at(cellRectTwips(i).x(), cellRectTwips(i).y(), 1215, 255));
    const QColor legend[3] = {kWhite, kBlue, kRed};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ui().lblTransmit[6 + k]->textColor(), legend[k]);
        EXPECT_EQ(ui().lblTransmit[6 + k]->palette().color(QPalette::Window), QColor(0, 0, 128));
    }
    EXPECT_EQ(ui().client->palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_EQ(ui().shpTransmit[0]->fillColor(), QColor(0, 0, 192));
    EXPECT_EQ(ui().shpScale->fillColor(), QColor(255, 255, 0));
    EXPECT_DOUBLE_EQ(ui().lblScale->font().pointSizeF(), 12.0);
    EXPECT_DOUBLE_EQ(ui().cmdTransmitCancel->font().pointSizeF(), 12.0);
    EXPECT_DOUBLE_EQ(ui().lblHandyID[0]->font().pointSizeF(), 9.75);
    // Fixed size: no maximise button.
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(DisplayTest, PanelsStartHiddenWithEmptyCells) {
    for (QWidget* p : {ui().fraStatus, ui().fraScale, ui().fraErrorInfo, ui().fraConnectionList,
                       static_cast<QWidget*>(ui().cmdTransmitCancel)}) {
        EXPECT_TRUE(p->isHidden());
    }
    for (CaptionLabel* cell : ui().lblHandyID) EXPECT_EQ(shown(cell), "");
}

TEST_F(DisplayTest, CellsTakeStateColourAndShowTheIdAsItIs) {
    const struct {
        int16_t cell;
        const char* id;
        int16_t state;
        QColor colour;
        const char* caption;
        const char* seen;
    } rows[] = {
        {3, "&&&&&&", 0, kWhite, "&&&&&&&&&&&&", "&&&&&&"},
        {0, "HT0001", 1, kBlue, "HT0001", "HT0001"},
        {15, "HT0015", 2, kRed, "HT0015", "HT0015"},
        {7, "A&B", 0, kWhite, "A&&B", "A&B"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        window->dispHTID(r.cell, r.id, r.state);
        EXPECT_EQ(ui().lblHandyID[r.cell]->textColor(), r.colour);
        EXPECT_EQ(ui().lblHandyID[r.cell]->caption(), r.caption);
        EXPECT_EQ(shown(ui().lblHandyID[r.cell]), r.seen);
    }
    EXPECT_EQ(shown(ui().lblHandyID[1]), "");
}

TEST_F(DisplayTest, EmptyIdClearsEveryCellAndKeepsColours) {
    window->dispHTID(2, "HT0002", 2);
    window->dispHTID(5, "HT0005", 1);
    window->dispHTID(9, "", 1);
    for (CaptionLabel* cell : ui().lblHandyID) EXPECT_EQ(shown(cell), "");
    EXPECT_EQ(ui().lblHandyID[2]->textColor(), kRed);
    EXPECT_EQ(ui().lblHandyID[5]->textColor(), kBlue);
    window->dispHTID(2, "HT0007", 0);
    EXPECT_EQ(ui().lblHandyID[2]->textColor(), kWhite);
    EXPECT_EQ(shown(ui().lblHandyID[2]), "HT0007");
}

TEST_F(DisplayTest, OutOfRangeCallsChangeNothing) {
    window->dispHTID(4, "HT0004", 1);
    window->dispStatus(1, 1, "HT0004");
    window->dispHTID(16, "HT0016", 0);
    window->dispHTID(-1, "HT0099", 0);
    window->dispHTID(4, "HT0044", 3);
    window->dispHTID(4, "HT0044", -1);
    window->dispStatus(2, 0, "X");
    window->dispStatus(1, 3, "X");
    window->setIconCaption(2);
    EXPECT_EQ(shown(ui().lblHandyID[4]), "HT0004");
    EXPECT_EQ(ui().lblHandyID[4]->textColor(), kBlue);
    EXPECT_EQ(shown(ui().lblStatus), "Transmitting");
    EXPECT_EQ(shown(ui().lblKind), "Receive File");
    EXPECT_EQ(window->currentIconCaption(), "QUENDRIL");
}

TEST_F(DisplayTest, StatusShowsJobAndIdOrDashes) {
    const std::string dashes(19, '-');
    const struct {
        int16_t stat, kind;
        const char* id;
        const char* status;
        std::string kindText, idText;
    } rows[] = {
        {1, 2, "&&&&&&", "Transmitting", "Transmit File", "&&&&&&"},
        {1, 0, "HT0001", "Transmitting", "AP Install", "HT0001"},
        {1, 1, "HT0002", "Transmitting", "Receive File", "HT0002"},
        {0, 2, "HT0003", "Polling", dashes, dashes},
        {0, 9, "", "Polling", dashes, dashes},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        window->dispStatus(r.stat, r.kind, r.id);
        EXPECT_EQ(shown(ui().lblStatus), r.status);
        EXPECT_EQ(shown(ui().lblKind), r.kindText);
        EXPECT_EQ(shown(ui().lblID), r.idText);
    }
}

TEST_F(DisplayTest, ErrorLineTakesTheFirstBitInOrder) {
    const struct {
        int errCode;
        const char* line;
    } rows[] = {
        {0x0101, "HT0001:Parity Error"},   {0x0108, "HT0001:Buffer Full Error"},
        {0x1000, "HT0001:File Open Error"}, {0x0020, "HT0001:Done"},
        {0x0002, "HT0001:Overrun Error"},  {0x0014, "HT0001:Framing Error"},
        {0x0110, "HT0001:Fatal Error"},    {0x0500, "HT0001:Time Out"},
        {0x0C00, "HT0001:Protocol Error"}, {0x1800, "HT0001:Transfer Error"},
        {0x8000, "HT0001:Done"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.errCode);
        std::string id = "HT0001";
        window->dispErrStat(id, static_cast<int16_t>(r.errCode));
        EXPECT_EQ(shown(ui().lblErrorInfo), r.line);
        EXPECT_FALSE(ui().fraErrorInfo->isHidden());
        EXPECT_EQ(id, "HT0001");
    }
}

TEST_F(DisplayTest, ErrorLineDoublesTheWildcardAndIgnoresZero) {
    std::string id = "&&&&&&";
    window->dispErrStat(id, 0x0100);
    EXPECT_EQ(id, "&&&&&&&&&&&&");
    EXPECT_EQ(ui().lblErrorInfo->caption(), "&&&&&&&&&&&&:Time Out");
    EXPECT_EQ(shown(ui().lblErrorInfo), "&&&&&&:Time Out");

    window->hideErrorPanel();
    std::string other = "HT0002";
    window->dispErrStat(other, 0);
    EXPECT_TRUE(ui().fraErrorInfo->isHidden());
    EXPECT_EQ(shown(ui().lblErrorInfo), "&&&&&&:Time Out");
}

TEST_F(DisplayTest, CommInfoOnAndOffShowAndHideTheRunPanels) {
    std::string id = "HT0001";
    window->dispErrStat(id, 0x0001);
    window->commInfoOn();
    EXPECT_FALSE(ui().fraScale->isHidden());
    EXPECT_FALSE(ui().fraConnectionList->isHidden());
    window->commInfoOff();
    EXPECT_TRUE(ui().fraScale->isHidden());
    EXPECT_TRUE(ui().fraErrorInfo->isHidden());
    EXPECT_TRUE(ui().fraConnectionList->isHidden());
    window->commInfoOn();
    EXPECT_TRUE(ui().fraErrorInfo->isHidden());
    EXPECT_EQ(shown(ui().lblErrorInfo), "HT0001:Parity Error");
}

TEST_F(DisplayTest, ScaleBarFollowsThePercentAndHundredGoesBackToZero) {
    const int inner = innerScaleWidth();
    ASSERT_GT(inner, 0);
    const struct {
        int16_t percent;
        int bar;
        const char* label;
        const char* iconCaption;
    } rows[] = {
        {0, 0, "0%", "QUENDRIL - 0%"},
        {7, (inner * 7 + 50) / 100, "7%", "QUENDRIL - 7%"},
        {50, (inner + 1) / 2, "50%", "QUENDRIL - 50%"},
        {100, 0, "0%", "QUENDRIL - 0%"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.percent);
        window->writeScale(r.percent);
        EXPECT_EQ(ui().shpScale->width(), r.bar);
        EXPECT_EQ(ui().shpScale->height(), ui().picScale->contentsRect().height());
        EXPECT_EQ(ui().shpScale->pos(), ui().picScale->contentsRect().topLeft());
        EXPECT_EQ(shown(ui().lblScale), r.label);
        EXPECT_EQ(window->currentIconCaption(), r.iconCaption);
        EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL");
    }
}

TEST_F(DisplayTest, OutOfRangePercentKeepsTheBarInsideTheBox) {
    window->writeScale(250);
    EXPECT_EQ(ui().shpScale->width(), innerScaleWidth());
    EXPECT_EQ(shown(ui().lblScale), "250%");
    window->writeScale(-3);
    EXPECT_EQ(ui().shpScale->width(), 0);
}

TEST_F(DisplayTest, CaptionWhileMinimisedFollowsTheScale) {
    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL");
    window->writeScale(45);
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL - 45%");
    window->writeScale(100);
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL - 0%");
    // Stored only; it shows at the next minimise.
    window->setIconCaption(1);
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL - 0%");
    window->showNormal();
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL");
    window->showMinimized();
    EXPECT_EQ(window->windowTitle().toStdString(), "POLLING");
    window->showNormal();
    EXPECT_EQ(window->windowTitle().toStdString(), "QUENDRIL");
}

TEST_F(DisplayTest, IconModeItemTurnsItsMarkOver) {
    EXPECT_TRUE(ui().mnuMinimum->isCheckable());
    EXPECT_FALSE(ui().mnuMinimum->isChecked());
    window->mnuMinimum_Click();
    EXPECT_TRUE(ui().mnuMinimum->isChecked());
    window->mnuMinimum_Click();
    EXPECT_FALSE(ui().mnuMinimum->isChecked());
    // Chosen from the menu it does the same.
    ui().mnuMinimum->trigger();
    EXPECT_TRUE(ui().mnuMinimum->isChecked());
}

TEST_F(DisplayTest, NotificationMovesTheScaleAndShowsTheFileName) {
    line.fileName = "DATA\xE9.DAT";
    window->wndNotify_Message(notifyMsg, 37);
    EXPECT_EQ(window->scalePercent(), 37);
    EXPECT_EQ(shown(ui().lblScale), "37%");
    EXPECT_EQ(ui().lblFileName->text(), QString::fromLatin1("DATA\xE9.DAT"));

    line.fileName = "R&D.TXT";
    window->wndNotify_Message(999, 80);
    EXPECT_EQ(window->scalePercent(), 37);
    EXPECT_EQ(shown(ui().lblFileName), "R&D.TXT");

    // A name that fills the whole buffer is cut at the buffer's end.
    line.fileName = std::string(64, 'N');
    window->wndNotify_Message(999, 0);
    EXPECT_EQ(shown(ui().lblFileName), std::string(64, 'N'));
    line.fileName.clear();
    window->wndNotify_Message(999, 0);
    EXPECT_EQ(shown(ui().lblFileName), "");
    EXPECT_EQ(line.calls("getcomfname"), 4);
}

TEST_F(DisplayTest, LibraryNotificationsReachTheWindowDuringAndBetweenCalls) {
    ASSERT_NE(line.notify, nullptr);
    EXPECT_EQ(line.hwndMsg, notifyMsg);
    // On the window's thread (the library calling back during a call): at once.
    line.notify(line.notifyUser, line.hwnd, notifyMsg, 20);
    EXPECT_EQ(window->scalePercent(), 20);
    // Another handle or message number is not this window's.
    line.notify(line.notifyUser, line.hwnd + 1, notifyMsg, 60);
    line.notify(line.notifyUser, line.hwnd, notifyMsg + 1, 60);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->scalePercent(), 20);
    // From another thread: queued until the window processes its events.
    std::thread other([this] { line.notify(line.notifyUser, line.hwnd, notifyMsg, 70); });
    other.join();
    EXPECT_EQ(window->scalePercent(), 20);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->scalePercent(), 70);
}

TEST_F(DisplayTest, PumpKeepsTheWindowResponsive) {
    ASSERT_NE(line.pump, nullptr);
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&ran] { ran = true; });
    line.pump(line.pumpUser);
    EXPECT_TRUE(ran);
    ran = false;
    QTimer::singleShot(0, window.get(), [&ran] { ran = true; });
    window->yieldEvents();
    EXPECT_TRUE(ran);
}

TEST_F(DisplayTest, CancelAndEscapeAskTheLibraryToStop) {
    window->cmdTransmitCancel_Click();
    EXPECT_EQ(line.calls("stopreq"), 1);
    EXPECT_TRUE(stopRequested);

    stopRequested = false;
    ui().cmdTransmitCancel->click();
    EXPECT_EQ(line.calls("stopreq"), 2);
    EXPECT_TRUE(stopRequested);
}

}  // namespace
}  // namespace quendril::test
