#include "wndnotify.h"

#include <QMetaObject>
#include <QPointer>
#include <cstring>

#include "tvktable.h"

namespace quendril {

namespace {
void notifyCallback(void* user, int32_t hwnd, int32_t msg, int32_t wParam) {
    static_cast<WndNotify*>(user)->deliver(hwnd, msg, wParam);
}
}  // namespace

WndNotify::WndNotify(QObject* window, const TvkTable& line) : QObject(window), tvk_(line) {}

WndNotify::~WndNotify() {
    // The library must not call into a receiver that is gone.
    if (registered_) tvk_.setnotify(nullptr, nullptr);
}

void WndNotify::bind(int32_t hwnd) {
    hwnd_ = hwnd;
    tvk_.setnotify(&notifyCallback, this);
    registered_ = true;
}

void WndNotify::setMessage(int32_t msg) { msg_ = msg; }

void WndNotify::deliver(int32_t hwnd, int32_t msg, int32_t wParam) {
    if (hwnd != hwnd_ || msg != msg_) return;
    // The name is read here, on the thread the library works on, so the
    // window never reads it while the library writes it.
    char name[TVK_FNAME_LEN] = {};
    tvk_.getcomfname(name);
    const QByteArray fileName(name, static_cast<qsizetype>(strnlen(name, sizeof name)));
    // AutoConnection: direct on the window's thread, queued from any other;
    // a queued call is dropped if the receiver is gone by then.
    QMetaObject::invokeMethod(
        this, [this, msg, wParam, fileName] { emit message(msg, wParam, fileName); }, Qt::AutoConnection);
}

}  // namespace quendril
