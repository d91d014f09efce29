#include "ptyendpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <stdexcept>

namespace quendril::test {

PtyEndpoint::PtyEndpoint(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
}

PtyEndpoint::~PtyEndpoint() { ::close(fd_); }

void PtyEndpoint::writeAll(const std::vector<uint8_t>& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::write(fd_, data.data() + sent, data.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) throw std::runtime_error("write failed");
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) throw std::runtime_error("write stalled");
    }
}

std::vector<uint8_t> PtyEndpoint::readUpTo(size_t n, std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    uint8_t buf[4096];
    while (got.size() < n) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
        ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0) got.insert(got.end(), buf, buf + r);
    }
    return got;
}

std::vector<uint8_t> randomPayload(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

std::vector<uint8_t> transfer(PtyEndpoint& from, PtyEndpoint& to, const std::vector<uint8_t>& data,
                              std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    const size_t chunk = 1024;
    for (size_t off = 0; off < data.size(); off += chunk) {
        size_t end = std::min(data.size(), off + chunk);
        from.writeAll(std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(off),
                                           data.begin() + static_cast<std::ptrdiff_t>(end)));
        auto part = to.readUpTo(data.size() - got.size(), std::chrono::milliseconds(0));
        got.insert(got.end(), part.begin(), part.end());
    }
    auto rest = to.readUpTo(data.size() - got.size(), quiet);
    got.insert(got.end(), rest.begin(), rest.end());
    return got;
}

}  // namespace quendril::test
