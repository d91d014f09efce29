// Operative setting dialog: the number of connected I/O boxes (1 to 16).
// No buttons: Enter stores a valid number, Esc leaves.
#pragma once

#include <array>

#include "settingsdialog.h"

class QKeyEvent;
class QLabel;
class QLineEdit;

namespace quendril {

class frmBoxCountSet : public SettingsDialog {
    Q_OBJECT
public:
    frmBoxCountSet(QWidget* mainWindow, Prompt& prompt);

    std::array<QLabel*, 2> lblBoxCount{};
    QLabel* lblNowBoxNum = nullptr;
    QLineEdit* txtBoxNum = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildUi();
    void formLoad() override;
    void formActivate() override;
    bool txtBoxNum_KeyPress(const QKeyEvent& key);
    void storeBoxNum();
};

}  // namespace quendril
