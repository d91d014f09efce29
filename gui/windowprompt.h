// The window's face for failures: a modal warning box titled "QUENDRIL".
// A run works on its own thread; its questions wait for the box on the
// window's thread while the line stays where it is.
#pragma once

#include <QPointer>
#include <QWidget>

#include "failure.h"

namespace quendril {

class WindowPrompt : public Prompt {
public:
    // The window the boxes belong to (none: boxes without a parent).
    void setMainWindow(QWidget* w) { mainWindow_ = w; }
    BoxAnswer show(const Failure& failure) override;

private:
    BoxAnswer showHere(const Failure& failure);
    QPointer<QWidget> mainWindow_;
};

}  // namespace quendril
