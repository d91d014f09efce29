// Base of the settings dialogs: loaded at the first showing (captions, lists,
// centring), activated at every showing (refilled from the settings given to
// edit()). OK stores the edited copy in hostpc.ini; only once that worked do
// settings() change, so a failed OK changes nothing.
#pragma once

#include <QDialog>
#include <optional>

#include "failure.h"
#include "settings.h"

namespace quendril {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // The settings the next showing starts from.
    void edit(const Settings& current) { settings_ = current; }
    // The settings as stored by the last OK (as given to edit() otherwise).
    const Settings& settings() const { return settings_; }
    // The failure of a store that ends the program, once one did.
    const std::optional<Failure>& ending() const { return ending_; }

protected:
    SettingsDialog(QWidget* mainWindow, Prompt& prompt) : QDialog(mainWindow), mainWindow_(mainWindow), prompt_(prompt) {}

    void showEvent(QShowEvent* e) override;
    virtual void formLoad() = 0;
    virtual void formActivate() = 0;
    // The next showing loads the dialog afresh.
    void unload() { loaded_ = false; }
    // Writes next to hostpc.ini; on success it becomes settings() and the
    // dialog closes with OK. A write the user gave up leaves the old file and
    // the dialog open, rather than look as if the settings were stored; one
    // that ends the program closes it with Cancel.
    void store(const Settings& next);
    Prompt& prompt() const { return prompt_; }

    QWidget* mainWindow_;

private:
    Prompt& prompt_;
    Settings settings_;
    std::optional<Failure> ending_;
    bool loaded_ = false;
};

}  // namespace quendril
