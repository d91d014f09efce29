#include "wndnotify.h"

#include <QMetaObject>
#include <QPointer>

#include "tvktable.h"

namespace quendril {

namespace {
void notifyCallback(void* user, int32_t hwnd, int32_t msg, int32_t wParam) {
    static_cast<WndNotify*>(user)->deliver(hwnd, msg, wParam);
}
}  // namespace

WndNotify::WndNotify(QObject* window) : QObject(window) {}

WndNotify::~WndNotify() {
    // The library must not call into a receiver that is gone.
    if (registered_) tvk().setnotify(nullptr, nullptr);
}

void WndNotify::bind(int32_t hwnd) {
    hwnd_ = hwnd;
    tvk().setnotify(&notifyCallback, this);
    registered_ = true;
}

void WndNotify::setMessage(int32_t msg) { msg_ = msg; }

void WndNotify::deliver(int32_t hwnd, int32_t msg, int32_t wParam) {
    if (hwnd != hwnd_ || msg != msg_) return;
    // AutoConnection: direct on the window's thread, queued from any other;
    // a queued call is dropped if the receiver is gone by then.
    QMetaObject::invokeMethod(
        this, [this, msg, wParam] { emit message(msg, wParam); }, Qt::AutoConnection);
}

}  // namespace quendril
