#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialogtest.h"
#include "frmCommSet.h"

namespace quendril::test {
namespace {

using CommSetTest = DialogTest;

TEST_F(CommSetTest, ShowsTheCatalogueListsAndTheDefaultSettings) {
    frmCommSet dlg(&mainWindow, prompt);
    showWith(dlg, stored);
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

// Each list selects the entry of its field (none for a field outside it) and
// OK stores the chosen entry; a list without a selection keeps its field.
TEST_F(CommSetTest, ListsShowAndStoreTheirFields) {
    std::string Settings::* const fields[] = {&Settings::baudCode, &Settings::parityCode, &Settings::dataLength,
                                              &Settings::stopBits, &Settings::comPort};
    const struct {
        int list;
        const char* given;
        int selected, chosen;  // -1: no entry selected, none chosen
        const char* stored;
    } rows[] = {{frmCommSet::kSpeed, "07", 7, 0, "00"},      {frmCommSet::kSpeed, "03", 3, 7, "07"},
                {frmCommSet::kSpeed, "09", -1, -1, "09"},    {frmCommSet::kParity, "01", 1, 2, "02"},
                {frmCommSet::kDataLength, "07", 1, 0, "08"}, {frmCommSet::kDataLength, "08", 0, 1, "07"},
                {frmCommSet::kStopBits, "02", 1, 0, "01"},   {frmCommSet::kStopBits, "00", -1, 1, "02"},
                {frmCommSet::kComPort, "01", 1, 0, "00"},    {frmCommSet::kComPort, "00", 0, 1, "01"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.list << " " << r.given);
        Settings given = stored;
        given.*fields[r.list] = r.given;
        frmCommSet dlg(&mainWindow, prompt);
        showWith(dlg, given);
        EXPECT_EQ(dlg.dblCommPrm[r.list]->currentIndex(), r.selected);
        if (r.chosen >= 0) dlg.dblCommPrm[r.list]->setCurrentIndex(r.chosen);
        QTest::mouseClick(dlg.cmdTransmitSetOK, Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
        given.*fields[r.list] = r.stored;
        EXPECT_EQ(dlg.settings(), given);
    }
}

// Shown modal, fixed-size and centred over the main window. Cancel only hides
// it, so it keeps its place; the close box unloads it, so the next showing
// centres it again.
TEST_F(CommSetTest, CentredOverTheMainWindowAgainAfterTheCloseBox) {
    frmCommSet dlg(&mainWindow, prompt);
    showWith(dlg, stored);
    const QRect main = mainWindow.frameGeometry(), own = dlg.frameGeometry();
    EXPECT_EQ(own.left(), main.left() + (main.width() - own.width()) / 2);
    EXPECT_EQ(own.top(), main.top() + (main.height() - own.height()) / 2);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_TRUE(dlg.isModal());
    const QPoint centred = dlg.pos();
    dlg.move(centred + QPoint(40, 30));
    dlg.reject();
    showWith(dlg, stored);
    EXPECT_EQ(dlg.pos(), centred + QPoint(40, 30));
    dlg.close();
    showWith(dlg, stored);
    EXPECT_EQ(dlg.pos(), centred);
    EXPECT_EQ(dlg.dblCommPrm[frmCommSet::kParity]->count(), 3);
}

}  // namespace
}  // namespace quendril::test
