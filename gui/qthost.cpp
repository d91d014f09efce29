#include "qthost.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace quendril {

int16_t QtHost::messageBox(const std::string& text, BoxButtons buttons) {
    QWidget* parent = (mainWindow_ && mainWindow_->isVisible()) ? mainWindow_.data() : nullptr;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("QUENDRIL"),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::NoButton, parent);
    if (buttons == BoxButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.exec();
        return kAnswerOk;
    }
    box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Retry);
    // Closing the box is the same as Cancel.
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Retry) ? kAnswerRetry : kAnswerCancel;
}

void QtHost::endProgram(int exitCode) {
    // Closing the main window runs its unload handling; during a run that
    // handling ends the program itself and comes back here.
    if (!ending_ && mainWindow_) {
        ending_ = true;
        mainWindow_->close();
    }
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace quendril
