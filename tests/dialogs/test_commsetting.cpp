#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include "dialogtest.h"
#include "frmCommSet.h"

namespace quendril::test {
namespace {

using CommSetTest = DialogTest;

QStringList entries(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

TEST_F(CommSetTest, ShowsTheCatalogueListsAndTheDefaultSettings) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Communication");
    const char* labels[] = {"COM speed", "Parity", "Data length", "Stop bit", "COM port"};
    for (int i = 0; i < frmCommSet::kListCount; ++i) EXPECT_EQ(dlg.lblTransmitSet[i]->text(), labels[i]);
    EXPECT_EQ(dlg.cmdTransmitSetOK->text(), "OK");
    EXPECT_EQ(dlg.cmdTransmitSetCancel->text(), "Cancel");

    const QStringList lists[] = {
        {"1200BPS", "2400BPS", "4800BPS", "9600BPS", "19200BPS", "38400BPS", "57600BPS", "115200BPS"},
        {"None", "Odd", "Even"},
        {"8bit", "7bit"},
        {"1bit", "2bit"},
        {"COM0", "COM1"}};
    const char* selected[] = {"9600BPS", "None", "8bit", "1bit", "COM0"};
    for (int i = 0; i < frmCommSet::kListCount; ++i) {
        EXPECT_EQ(entries(dlg.dblCommPrm[i]), lists[i]);
        EXPECT_EQ(dlg.dblCommPrm[i]->currentText(), selected[i]);
        EXPECT_FALSE(dlg.dblCommPrm[i]->isEditable());
    }
    EXPECT_EQ(QApplication::focusWidget(), dlg.dblCommPrm[frmCommSet::kSpeed]);
}

TEST_F(CommSetTest, OkWritesTheChosenEntryIntoItsColumns) {
    struct Case {
        int list;
        int index;
        int column;  // 1-based first column of the field in line 1
        const char* digits;
    };
    const Case cases[] = {
        {frmCommSet::kDataLength, 1, 17, "07"}, {frmCommSet::kStopBits, 1, 21, "02"},
        {frmCommSet::kSpeed, 7, 15, "07"},      {frmCommSet::kSpeed, 0, 15, "00"},
        {frmCommSet::kParity, 2, 19, "02"},     {frmCommSet::kComPort, 1, 13, "01"},
        {frmCommSet::kDataLength, 0, 17, "08"}, {frmCommSet::kStopBits, 0, 21, "01"},
    };
    const std::string defaults = "HOSTPC.INI16000308000100500300003";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        readIni();
        frmCommSet dlg(&mainWindow);
        showActive(dlg);
        dlg.dblCommPrm[c.list]->setCurrentIndex(c.index);
        QTest::mouseClick(dlg.cmdTransmitSetOK, Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
        std::string expected = defaults;
        expected.replace(c.column - 1, 2, c.digits);
        EXPECT_EQ(iniLine(1), expected);
        // Leave the default file for the next case.
        makeDefaultIni();
    }
}

TEST_F(CommSetTest, StoredFieldsSelectTheirEntries) {
    EnvSettings.baudCode = "07";
    EnvSettings.parityCode = "01";
    EnvSettings.dataLength = "07";
    EnvSettings.stopBits = "02";
    EnvSettings.comPort = "01";
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    const char* selected[] = {"115200BPS", "Odd", "7bit", "2bit", "COM1"};
    for (int i = 0; i < frmCommSet::kListCount; ++i)
        EXPECT_EQ(dlg.dblCommPrm[i]->currentText(), selected[i]);
}

TEST_F(CommSetTest, AFieldOutsideItsListSelectsNothingAndOkKeepsIt) {
    EnvSettings.baudCode = "09";
    EnvSettings.stopBits = "00";
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kSpeed]->currentIndex(), -1);
    EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kStopBits]->currentIndex(), -1);
    dlg.dblCommPrm[frmCommSet::kParity]->setCurrentIndex(2);
    QTest::mouseClick(dlg.cmdTransmitSetOK, Qt::LeftButton);
    EXPECT_EQ(iniLine(1), "HOSTPC.INI16000908020000500300003");
}

TEST_F(CommSetTest, EnterActsAsOk) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    dlg.dblCommPrm[frmCommSet::kDataLength]->setCurrentIndex(1);
    QTest::keyClick(dlg.dblCommPrm[frmCommSet::kSpeed], Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(iniLine(1).substr(16, 2), "07");
    EXPECT_EQ(EnvSettings.dataLength, "07");
}

TEST_F(CommSetTest, CancelEscAndCloseBoxStoreNothing) {
    const std::pair<const char*, std::function<void(frmCommSet&)>> ways[] = {
        {"Cancel", [](frmCommSet& d) { QTest::mouseClick(d.cmdTransmitSetCancel, Qt::LeftButton); }},
        {"Esc", [](frmCommSet& d) { QTest::keyClick(d.dblCommPrm[0], Qt::Key_Escape); }},
        {"close box", [](frmCommSet& d) { d.close(); }},
    };
    const std::string before = iniBytes();
    frmCommSet dlg(&mainWindow);
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        showActive(dlg);
        for (QComboBox* list : dlg.dblCommPrm) list->setCurrentIndex(1);
        leave(dlg);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(iniBytes(), before);
        EXPECT_EQ(EnvSettings.baudCode, "03");
        EXPECT_EQ(EnvSettings.dataLength, "08");
        showActive(dlg);
        EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kSpeed]->currentText(), "9600BPS");
        EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kDataLength]->currentText(), "8bit");
        EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kSpeed]->count(), 8);
        dlg.reject();
    }
}

// Cancel only hides the dialog, which keeps its place; the close box unloads
// it, so the next showing centres it over the main window again.
TEST_F(CommSetTest, TheCloseBoxLoadsTheDialogAfresh) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    const QPoint centred = dlg.pos();
    dlg.move(centred + QPoint(40, 30));
    dlg.reject();
    showActive(dlg);
    EXPECT_EQ(dlg.pos(), centred + QPoint(40, 30));
    dlg.close();
    showActive(dlg);
    EXPECT_EQ(dlg.pos(), centred);
    EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kParity]->count(), 3);
}

TEST_F(CommSetTest, TheDialogIsCentredOverTheMainWindow) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    const QRect main = mainWindow.frameGeometry();
    const QRect own = dlg.frameGeometry();
    EXPECT_EQ(own.left(), main.left() + (main.width() - own.width()) / 2);
    EXPECT_EQ(own.top(), main.top() + (main.height() - own.height()) / 2);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_TRUE(dlg.isModal());
}

TEST_F(CommSetTest, TabMovesInTheGivenOrder) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    const QWidget* order[] = {dlg.dblCommPrm[1], dlg.dblCommPrm[2], dlg.dblCommPrm[3],
                              dlg.dblCommPrm[4], dlg.cmdTransmitSetOK, dlg.cmdTransmitSetCancel,
                              dlg.dblCommPrm[0]};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

}  // namespace
}  // namespace quendril::test
