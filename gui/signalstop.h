// SIGINT and SIGTERM as a stop request on the window's thread: the handler
// only writes the signal's number to a pipe, which the event loop reads.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace quendril {

class SignalStop : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one instance per program.
    explicit SignalStop(QObject* parent = nullptr);
    ~SignalStop() override;

signals:
    // sig is SIGINT or SIGTERM.
    void stopRequested(int sig);

private:
    void readSignal();
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quendril
