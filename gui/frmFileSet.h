// File setting dialog: the three storage directories, the transmitting file
// type and append mode. Created once on first use and hidden between showings.
#pragma once

#include <array>

#include "settingsdialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quendril {

class frmFileSet : public SettingsDialog {
    Q_OBJECT
public:
    frmFileSet(QWidget* mainWindow, Prompt& prompt);

    std::array<QLineEdit*, 3> txtDir{};
    std::array<QLabel*, 4> lblFileSet{};
    QComboBox* dblFileKind = nullptr;
    QPushButton* cmdFileSetOK = nullptr;
    QPushButton* cmdFileSetCancel = nullptr;
    QCheckBox* chkAppend = nullptr;

private:
    void buildUi();
    void formLoad() override;
    void formActivate() override;
    void cmdFileSetOK_Click();
};

}  // namespace quendril
