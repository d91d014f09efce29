// Communication setting dialog: line speed, parity, data length, stop bits
// and COM port, each chosen from a list of catalogue texts.
#pragma once

#include <array>

#include "settingsdialog.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace quendril {

class frmCommSet : public SettingsDialog {
    Q_OBJECT
public:
    frmCommSet(QWidget* mainWindow, Prompt& prompt);

    enum List { kSpeed = 0, kParity, kDataLength, kStopBits, kComPort, kListCount };
    std::array<QComboBox*, kListCount> dblCommPrm{};
    std::array<QLabel*, kListCount> lblTransmitSet{};
    QPushButton* cmdTransmitSetOK = nullptr;
    QPushButton* cmdTransmitSetCancel = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildUi();
    void formLoad() override;
    void placeLabels();
    void fillLists();
    void formActivate() override;
    void cmdTransmitSetOK_Click();
};

}  // namespace quendril
