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

void SettingsDialog::store(const Settings& next) {
    Files files(prompt_);
    if (writeSettings(files, next)) {
        settings_ = next;
        accept();
        return;
    }
    if (files.ending()) {
        ending_ = files.ending();
        reject();
    }
}

}  // namespace quendril
