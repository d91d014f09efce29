#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialogtest.h"
#include "frmCommSet.h"

namespace quendril::test {
namespace {

using CommSetTest = DialogTest;

TEST_F(CommSetTest, ShowsTheCatalogueListsAndTheDefaultSettings) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Communication");
    EXPECT_EQ(dlg.cmdTransmitSetOK->text(), "OK");
    EXPECT_EQ(dlg.cmdTransmitSetCancel->text(), "Cancel");
    const char* labels[] = {"COM speed", "Parity", "Data length", "Stop bit", "COM port"};
    const QStringList lists[] = {
        {"1200BPS", "2400BPS", "4800BPS", "9600BPS", "19200BPS", "38400BPS", "57600BPS", "115200BPS"},
        {"None", "Odd", "Even"}, {"8bit", "7bit"}, {"1bit", "2bit"}, {"COM0", "COM1"}};
    const char* selected[] = {"9600BPS", "None", "8bit", "1bit", "COM0"};
    for (int i = 0; i < frmCommSet::kListCount; ++i) {
        EXPECT_EQ(dlg.lblTransmitSet[i]->text(), labels[i]);
        QStringList items;
        for (int k = 0; k < dlg.dblCommPrm[i]->count(); ++k) items << dlg.dblCommPrm[i]->itemText(k);
        EXPECT_EQ(items, lists[i]);
        EXPECT_EQ(dlg.dblCommPrm[i]->currentText(), selected[i]);
        EXPECT_FALSE(dlg.dblCommPrm[i]->isEditable());
    }
    EXPECT_EQ(QApplication::focusWidget(), dlg.dblCommPrm[frmCommSet::kSpeed]);
    expectTabOrder({dlg.dblCommPrm[1], dlg.dblCommPrm[2], dlg.dblCommPrm[3], dlg.dblCommPrm[4],
                    dlg.cmdTransmitSetOK, dlg.cmdTransmitSetCancel, dlg.dblCommPrm[0]});
}

// OK (or Enter) writes the chosen entry into its two columns of line 1.
TEST_F(CommSetTest, OkAndEnterWriteTheChosenEntryIntoItsColumns) {
    const struct {
        int list, index, column;  // column: 1-based, in line 1
        const char* digits;
        bool enter;
    } cases[] = {
        {frmCommSet::kDataLength, 1, 17, "07", true}, {frmCommSet::kStopBits, 1, 21, "02", false},
        {frmCommSet::kSpeed, 7, 15, "07", false},     {frmCommSet::kSpeed, 0, 15, "00", true},
        {frmCommSet::kParity, 2, 19, "02", false},    {frmCommSet::kComPort, 1, 13, "01", false},
        {frmCommSet::kDataLength, 0, 17, "08", false}, {frmCommSet::kStopBits, 0, 21, "01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        makeDefaultIni();
        readIni();
        frmCommSet dlg(&mainWindow);
        showActive(dlg);
        dlg.dblCommPrm[c.list]->setCurrentIndex(c.index);
        if (c.enter) QTest::keyClick(dlg.dblCommPrm[frmCommSet::kSpeed], Qt::Key_Return);
        else QTest::mouseClick(dlg.cmdTransmitSetOK, Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
        std::string expected = "HOSTPC.INI16000308000100500300003";
        EXPECT_EQ(iniLine(1), expected.replace(c.column - 1, 2, c.digits));
    }
}

// Stored fields select their entries; one outside its list selects nothing
// and OK keeps it as it was.
TEST_F(CommSetTest, StoredFieldsSelectTheirEntries) {
    const struct {
        const char *baud, *parity, *data, *stop, *port;
        int selected[frmCommSet::kListCount];
        const char* afterOk;  // line 1 after choosing Even parity
    } rows[] = {{"07", "01", "07", "02", "01", {7, 1, 1, 1, 1}, "HOSTPC.INI16010707020200500300003"},
                {"09", "00", "08", "00", "00", {-1, 0, 0, -1, 0}, "HOSTPC.INI16000908020000500300003"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.baud);
        EnvSettings.baudCode = r.baud;
        EnvSettings.parityCode = r.parity;
        EnvSettings.dataLength = r.data;
        EnvSettings.stopBits = r.stop;
        EnvSettings.comPort = r.port;
        frmCommSet dlg(&mainWindow);
        showActive(dlg);
        for (int i = 0; i < frmCommSet::kListCount; ++i) EXPECT_EQ(dlg.dblCommPrm[i]->currentIndex(), r.selected[i]);
        dlg.dblCommPrm[frmCommSet::kParity]->setCurrentIndex(2);
        QTest::mouseClick(dlg.cmdTransmitSetOK, Qt::LeftButton);
        EXPECT_EQ(iniLine(1), r.afterOk);
        EXPECT_EQ(EnvSettings.parityCode, "02");
    }
}

TEST_F(CommSetTest, CancelEscAndCloseBoxStoreNothing) {
    const Way<frmCommSet> ways[] = {
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

// Shown modal, fixed-size and centred over the main window. Cancel only hides
// it, so it keeps its place; the close box unloads it, so the next showing
// centres it again.
TEST_F(CommSetTest, CentredOverTheMainWindowAgainAfterTheCloseBox) {
    frmCommSet dlg(&mainWindow);
    showActive(dlg);
    const QRect main = mainWindow.frameGeometry(), own = dlg.frameGeometry();
    EXPECT_EQ(own.left(), main.left() + (main.width() - own.width()) / 2);
    EXPECT_EQ(own.top(), main.top() + (main.height() - own.height()) / 2);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_TRUE(dlg.isModal());
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

}  // namespace
}  // namespace quendril::test
