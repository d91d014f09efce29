#include "settingsdialog.h"

#include <QShowEvent>

namespace quendril {

void SettingsDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // A window restored from the task bar is not shown anew: keep the entries.
    if (e->spontaneous()) return;
    if (!loaded_) {
        formLoad();
        loaded_ = true;
    }
    formActivate();
}

}  // namespace quendril
