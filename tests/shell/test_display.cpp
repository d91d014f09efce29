// The run displays: captions, layout, terminal table, status, error line,
// scale, the caption while minimised and the library's notifications.
#include <QAction>
#include <QKeySequence>
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
};

TEST_F(DisplayTest, CaptionsComeFromTheCatalogueWithAccessKeys) {
    const std::pair<QAction*, const char*> menus[] = {
        {ui().mnuSettingAction, "Settings(&F)"}, {ui().mnuBoxCountSet, "Operative setting"},
        {ui().mnuFileSet, "File setting"}, {ui().mnuCommSet, "Communication setting"},
        {ui().mnuMinimum, "Icon and communication"}, {ui().mnuExit, "Exit QUENDRIL(&X)"},
        {ui().mnuTransmit, "Execute(&R)"}, {ui().mnuVersion, "Version(&V)"}};
    for (const auto& [item, text] : menus) EXPECT_EQ(item->text().toStdString(), text);
    EXPECT_EQ(QKeySequence::mnemonic(ui().mnuSettingAction->text()), QKeySequence(Qt::ALT | Qt::Key_F));
    EXPECT_EQ(QKeySequence::mnemonic(ui().mnuExit->text()), QKeySequence(Qt::ALT | Qt::Key_X));
    EXPECT_TRUE(ui().sepalate->isSeparator());
    const char* headings[kHeadingCount] = {"Status", "Job Type", "HT ID", "File Name", "Error Information",
                                           "Connected HTs", "White:Waiting", "Blue :Done", "Red  :Error end"};
    for (int i = 0; i < kHeadingCount; ++i) EXPECT_EQ(shown(ui().lblTransmit[i]), headings[i]) << i;
    EXPECT_EQ(ui().cmdTransmitCancel->text().toStdString(), "Cancel");
    EXPECT_EQ(title(), "QUENDRIL");
}

TEST_F(DisplayTest, PanelsAndCellsSitAtTheirPlacesHiddenAndEmpty) {
    auto at = [this](int l, int t, int w, int h) { return ui::twipsRect(l, t, w, h, window.get()); };
    EXPECT_EQ(ui().client->size(), at(0, 0, 8790, 5295).size());
    const std::pair<QWidget*, QRect> panels[] = {
        {ui().fraStatus, at(120, 120, 5175, 1575)},       {ui().fraScale, at(120, 1920, 5175, 855)},
        {ui().fraErrorInfo, at(120, 3000, 5175, 855)},    {ui().fraConnectionList, at(5520, 120, 3135, 5055)},
        {ui().cmdTransmitCancel, at(3480, 4440, 1695, 735)}};
    for (const auto& [panel, place] : panels) {
        EXPECT_EQ(panel->geometry(), place);
        EXPECT_TRUE(panel->isHidden());
    }
    // Cell 0 top left, 1 top right, 3 right of the second row, 15 bottom right.
    const int cells[][3] = {{0, 240, 240}, {1, 1680, 240}, {3, 1680, 720}, {14, 240, 3600}, {15, 1680, 3600}};
    for (const auto& [cell, left, top] : cells) {
        EXPECT_EQ(ui().lblHandyID[cell]->geometry(), at(left, top, 1215, 255)) << cell;
        EXPECT_EQ(ui().lblHandyID[cell]->parentWidget(), ui().fraConnectionList);
        EXPECT_EQ(ui().lblHandyID[cell]->palette().color(QPalette::Window), QColor(192, 192, 192));
    }
    for (CaptionLabel* cell : ui().lblHandyID) EXPECT_EQ(shown(cell), "");
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

// Each step acts on the table as left by the steps before it; an empty ID
// clears every cell but keeps the colours; bad cells and states change nothing.
TEST_F(DisplayTest, CellsTakeStateColourAndShowTheIdAsItIs) {
    const struct {
        int16_t cell;
        const char* id;
        int16_t state;
        int look;  // cell looked at afterwards
        QColor colour;
        const char* caption;
        const char* seen;
    } steps[] = {
        {3, "&&&&&&", 0, 3, kWhite, "&&&&&&&&&&&&", "&&&&&&"}, {7, "A&B", 0, 7, kWhite, "A&&B", "A&B"},
        {0, "HT0001", 1, 0, kBlue, "HT0001", "HT0001"},        {15, "HT0015", 2, 15, kRed, "HT0015", "HT0015"},
        {16, "HT0016", 0, 15, kRed, "HT0015", "HT0015"},       {-1, "HT0099", 0, 0, kBlue, "HT0001", "HT0001"},
        {15, "HT0044", 3, 15, kRed, "HT0015", "HT0015"},       {15, "HT0044", -1, 15, kRed, "HT0015", "HT0015"},
        {9, "", 1, 15, kRed, "", ""},                          {9, "", 1, 0, kBlue, "", ""},
        {15, "HT0007", 0, 15, kWhite, "HT0007", "HT0007"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.cell << ' ' << s.id << ' ' << s.state);
        window->dispHTID(s.cell, s.id, s.state);
        EXPECT_EQ(ui().lblHandyID[s.look]->textColor(), s.colour);
        EXPECT_EQ(ui().lblHandyID[s.look]->caption(), s.caption);
        EXPECT_EQ(shown(ui().lblHandyID[s.look]), s.seen);
        EXPECT_EQ(shown(ui().lblHandyID[1]), "");
    }
    for (CaptionLabel* cell : ui().lblHandyID) EXPECT_EQ(shown(cell), cell == ui().lblHandyID[15] ? "HT0007" : "");
}

TEST_F(DisplayTest, StatusShowsJobAndIdOrDashesAndIgnoresBadCodes) {
    const std::string dashes(19, '-');
    const struct {
        int16_t stat, kind;
        const char* id;
        const char* status;
        std::string kindText, idText;
    } rows[] = {
        {1, 2, "&&&&&&", "Transmitting", "Transmit File", "&&&&&&"},
        {1, 0, "HT0001", "Transmitting", "AP Install", "HT0001"},
        {0, 2, "HT0003", "Polling", dashes, dashes},
        {0, 9, "", "Polling", dashes, dashes},
        {1, 1, "HT0002", "Transmitting", "Receive File", "HT0002"},
        {2, 0, "X", "Transmitting", "Receive File", "HT0002"},
        {1, 3, "X", "Transmitting", "Receive File", "HT0002"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.stat << ' ' << r.kind);
        window->dispStatus(r.stat, r.kind, r.id);
        EXPECT_EQ(shown(ui().lblStatus), r.status);
        EXPECT_EQ(shown(ui().lblKind), r.kindText);
        EXPECT_EQ(shown(ui().lblID), r.idText);
    }
    window->setIconCaption(2);
    EXPECT_EQ(window->currentIconCaption(), "QUENDRIL");
}

TEST_F(DisplayTest, ErrorLineTakesTheFirstBitInOrderAndDoublesTheWildcard) {
    const std::pair<int, const char*> rows[] = {
        {0x0101, "HT0001:Parity Error"},   {0x0108, "HT0001:Buffer Full Error"}, {0x1000, "HT0001:File Open Error"},
        {0x0020, "HT0001:Done"},           {0x0002, "HT0001:Overrun Error"},     {0x0014, "HT0001:Framing Error"},
        {0x0110, "HT0001:Fatal Error"},    {0x0500, "HT0001:Time Out"},          {0x0C00, "HT0001:Protocol Error"},
        {0x1800, "HT0001:Transfer Error"}, {0x8000, "HT0001:Done"},              {0x2000, "HT0001:File Write Error"},
        {0x4000, "HT0001:Protocol Error"}, {0x3000, "HT0001:File Open Error"},   {0x0100, "&&&&&&&&&&&&:Time Out"}};
    for (const auto& [errCode, caption] : rows) {
        SCOPED_TRACE(errCode);
        const bool wildcard = errCode == 0x0100;
        window->hideErrorPanel();
        window->dispErrStat(wildcard ? "&&&&&&" : "HT0001", static_cast<int16_t>(errCode));
        EXPECT_EQ(ui().lblErrorInfo->caption(), caption);
        EXPECT_FALSE(ui().fraErrorInfo->isHidden());
    }
    EXPECT_EQ(shown(ui().lblErrorInfo), "&&&&&&:Time Out");
    // Zero is no error: nothing changes.
    window->hideErrorPanel();
    window->dispErrStat("HT0002", 0);
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
    for (QWidget* p : {ui().fraScale, ui().fraErrorInfo, ui().fraConnectionList}) EXPECT_TRUE(p->isHidden());
    window->commInfoOn();
    EXPECT_TRUE(ui().fraErrorInfo->isHidden());
    EXPECT_EQ(shown(ui().lblErrorInfo), "HT0001:Parity Error");
}

TEST_F(DisplayTest, ScaleBarFollowsThePercentStaysInsideAndHundredGoesBackToZero) {
    const QRect inside = ui().picScale->contentsRect();
    ASSERT_GT(inside.width(), 0);
    const struct {
        int16_t percent;
        int bar;
        const char* label;
    } rows[] = {{0, 0, "0%"}, {7, (inside.width() * 7 + 50) / 100, "7%"}, {50, (inside.width() + 1) / 2, "50%"},
                {100, 0, "0%"}, {250, inside.width(), "250%"}, {-3, 0, nullptr}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.percent);
        window->writeScale(r.percent);
        EXPECT_EQ(ui().shpScale->geometry(), QRect(inside.topLeft(), QSize(r.bar, inside.height())));
        if (!r.label) continue;
        EXPECT_EQ(shown(ui().lblScale), r.label);
        EXPECT_EQ(window->currentIconCaption(), std::string("QUENDRIL - ") + r.label);
        EXPECT_EQ(title(), "QUENDRIL");
    }
}

TEST_F(DisplayTest, CaptionWhileMinimisedFollowsTheScale) {
    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    EXPECT_EQ(title(), "QUENDRIL");
    window->writeScale(45);
    EXPECT_EQ(title(), "QUENDRIL - 45%");
    window->writeScale(100);
    EXPECT_EQ(title(), "QUENDRIL - 0%");
    // Stored only; it shows at the next minimise.
    window->setIconCaption(1);
    EXPECT_EQ(title(), "QUENDRIL - 0%");
    window->showNormal();
    EXPECT_EQ(title(), "QUENDRIL");
    window->showMinimized();
    EXPECT_EQ(title(), "POLLING");
    window->showNormal();
    EXPECT_EQ(title(), "QUENDRIL");
}

TEST_F(DisplayTest, NotificationMovesTheScaleAndShowsTheFileName) {
    const struct {
        int32_t msg, wParam;
        std::string file;
        int percent;
    } rows[] = {{notifyMsg, 37, "DATA\xE9.DAT", 37}, {999, 80, "R&D.TXT", 37}, {999, 0, "", 37}};
    for (const auto& r : rows) {
        window->wndNotify_Message(r.msg, r.wParam, r.file);
        EXPECT_EQ(window->scalePercent(), r.percent);
        EXPECT_EQ(ui().lblFileName->text(), QString::fromLatin1(r.file));
    }
    EXPECT_EQ(shown(ui().lblScale), "37%");
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
    // From the run's thread: queued until the window processes its events,
    // with the file name read there; a name filling the buffer is cut at its end.
    line.fileName = std::string(64, 'N');
    std::thread([this] { line.notify(line.notifyUser, line.hwnd, notifyMsg, 70); }).join();
    EXPECT_EQ(window->scalePercent(), 20);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->scalePercent(), 70);
    EXPECT_EQ(shown(ui().lblFileName), std::string(64, 'N'));
}

}  // namespace
}  // namespace quendril::test
