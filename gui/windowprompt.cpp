#include "windowprompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "messages.h"

namespace quendril {

BoxAnswer WindowPrompt::show(const Failure& failure) {
    if (QThread::currentThread() == qApp->thread()) return showHere(failure);
    BoxAnswer answer = kAnswerCancel;
    QMetaObject::invokeMethod(
        qApp, [&] { answer = showHere(failure); }, Qt::BlockingQueuedConnection);
    return answer;
}

BoxAnswer WindowPrompt::showHere(const Failure& failure) {
    const MessageRule rule = messageRule(failure);
    if (rule.text.empty()) return kAnswerOk;
    QWidget* parent = (mainWindow_ && mainWindow_->isVisible()) ? mainWindow_.data() : nullptr;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("QUENDRIL"),
                    QString::fromLatin1(rule.text.data(), static_cast<qsizetype>(rule.text.size())),
                    QMessageBox::NoButton, parent);
    if (rule.buttons == BoxButtons::Ok) {
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

}  // namespace quendril
