#include "settingsdialog.h"

namespace quendril {

void SettingsDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!loaded_) {
        formLoad();
        loaded_ = true;
    }
    formActivate();
}

}  // namespace quendril
