#include "signalstop.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quendril {

namespace {

// A signal handler may only reach a plain variable: the pipe's two ends.
int pipeEnds[2] = {-1, -1};

void onSignal(int sig) {
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(pipeEnds[1], &byte, 1);
}

}  // namespace

SignalStop::SignalStop(QObject* parent) : QObject(parent) {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readSignal(); });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

SignalStop::~SignalStop() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    for (int& fd : pipeEnds) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void SignalStop::readSignal() {
    unsigned char byte = 0;
    while (read(pipeEnds[0], &byte, 1) == 1) emit stopRequested(byte);
}

}  // namespace quendril
