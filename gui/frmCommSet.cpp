#include "frmCommSet.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "catalogue.h"
#include "dialogwindow.h"
#include "settings.h"

namespace quendril {

namespace {

constexpr int kFirstEntryId = 440;
constexpr const char* kListEnd = "end";

// The field each list edits, in list order.
std::string& listField(Settings& settings, int list) {
    std::string* fields[frmCommSet::kListCount] = {&settings.baudCode, &settings.parityCode,
                                                   &settings.dataLength, &settings.stopBits,
                                                   &settings.comPort};
    return *fields[list];
}

int fieldToIndex(int list, const std::string& field) {
    const int32_t value = numericValue(field);
    switch (list) {
        case frmCommSet::kDataLength: return value == 8 ? 0 : 1;
        case frmCommSet::kStopBits: return value - 1;
        default: return value;
    }
}

std::string indexToField(int list, int index) {
    switch (list) {
        case frmCommSet::kDataLength: return index == 0 ? "08" : "07";
        case frmCommSet::kStopBits: return ui::twoDigits(index + 1);
        default: return ui::twoDigits(index);
    }
}

}  // namespace

frmCommSet::frmCommSet(QWidget* mainWindow, Prompt& prompt) : SettingsDialog(mainWindow, prompt) {
    buildUi();
}

// The close box unloads the dialog: its next showing loads it afresh.
void frmCommSet::closeEvent(QCloseEvent* e) {
    QDialog::closeEvent(e);
    if (e->isAccepted()) unload();
}

void frmCommSet::formLoad() {
    setWindowTitle(ui::resText(400));
    for (int i = 0; i < kListCount; ++i) lblTransmitSet[i]->setText(ui::resText(410 + i));
    placeLabels();
    cmdTransmitSetOK->setText(ui::resText(420));
    cmdTransmitSetCancel->setText(ui::resText(430));
    fillLists();
    ui::centreOnWindow(*this, mainWindow_);
}

// One counter runs on over all five lists; "end" closes a list and is not
// added. A missing text also closes it, so a short catalogue cannot loop.
void frmCommSet::fillLists() {
    int k = 0;
    for (QComboBox* list : dblCommPrm) {
        list->clear();
        for (;;) {
            const std::string text = loadResString(kFirstEntryId + k + langOffset);
            ++k;
            if (text == kListEnd || text.empty()) break;
            list->addItem(QString::fromLatin1(text));
        }
    }
}

void frmCommSet::formActivate() {
    Settings current = settings();
    for (int i = 0; i < kListCount; ++i) {
        const int index = fieldToIndex(i, listField(current, i));
        dblCommPrm[i]->setCurrentIndex(index < dblCommPrm[i]->count() ? index : -1);
    }
    dblCommPrm[kSpeed]->setFocus();
}

void frmCommSet::cmdTransmitSetOK_Click() {
    Settings next = settings();
    for (int i = 0; i < kListCount; ++i) {
        const int index = dblCommPrm[i]->currentIndex();
        // A list without a selection (a field outside its list) keeps the field.
        if (index >= 0) listField(next, i) = indexToField(i, index);
    }
    store(next);
}

}  // namespace quendril
