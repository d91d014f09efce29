// Base of the settings dialogs: loaded at the first showing (captions, lists,
// centring), activated at every showing (refilled from EnvSettings).
#pragma once

#include <QDialog>

namespace quendril {

class SettingsDialog : public QDialog {
    Q_OBJECT
protected:
    explicit SettingsDialog(QWidget* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {}

    void showEvent(QShowEvent* e) override;
    virtual void formLoad() = 0;
    virtual void formActivate() = 0;
    // The next showing loads the dialog afresh.
    void unload() { loaded_ = false; }

    QWidget* mainWindow_;

private:
    bool loaded_ = false;
};

}  // namespace quendril
