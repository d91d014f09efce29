// The program's Host: warning boxes on the screen, and the end of the program
// through the main window's unload handling.
#pragma once

#include <QPointer>
#include <QWidget>

#include "host.h"

namespace quendril {

class QtHost : public Host {
public:
    // The window whose close request runs the unload handling at the end.
    void setMainWindow(QWidget* w) { mainWindow_ = w; }

    int16_t messageBox(const std::string& text, BoxButtons buttons) override;
    [[noreturn]] void endProgram(int exitCode) override;

private:
    QPointer<QWidget> mainWindow_;
    bool ending_ = false;
};

}  // namespace quendril
