// The notification receiver of the main window. The terminal-link library
// reports progress through a registered callback, either from inside one of
// its calls or between calls; the receiver hands each message for its
// window handle to the window on the window's thread.
#pragma once

#include <QObject>
#include <cstdint>

#include "tvktable.h"

namespace quendril {

class WndNotify : public QObject {
    Q_OBJECT
public:
    WndNotify(QObject* window, const TvkTable& line);
    ~WndNotify() override;
    WndNotify(const WndNotify&) = delete;
    WndNotify& operator=(const WndNotify&) = delete;

    // Binds the receiver to a window handle and registers it with the library.
    void bind(int32_t hwnd);
    // The message number to report; others are not passed on.
    void setMessage(int32_t msg);
    int32_t hwnd() const { return hwnd_; }

    // What the library's callback does: deliver directly when called on the
    // receiver's thread, queued otherwise.
    void deliver(int32_t hwnd, int32_t msg, int32_t wParam);

signals:
    // fileName: the file in hand when the library reported.
    void message(int32_t msg, int32_t wParam, const QByteArray& fileName);

private:
    const TvkTable& tvk_;
    int32_t hwnd_ = 0;
    int32_t msg_ = -1;
    bool registered_ = false;
};

}  // namespace quendril
