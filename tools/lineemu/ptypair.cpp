#include "ptypair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace quendril::lineemu {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string readLink(const std::string& path) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
    return n < 0 ? std::string() : std::string(buf.data(), static_cast<size_t>(n));
}

}  // namespace

PtyEnd::PtyEnd() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("grantpt/unlockpt");
    const char* name = ::ptsname(master_);
    if (!name) fail("ptsname");
    slavePath_ = name;
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) fail("open " + slavePath_);
    // Raw at once: a cooked slave would echo what arrives before an endpoint opens it.
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0) fail("tcsetattr");
    int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
}

PtyEnd::~PtyEnd() {
    if (!link_.empty() && readLink(link_) == slavePath_) ::unlink(link_.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

void PtyEnd::publish(const std::string& link) {
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        throw std::runtime_error(link + " exists and is not a symbolic link");
    // A new link renamed over the old one replaces it in one step.
    std::string tmp = link + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0) fail("symlink " + tmp);
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        fail("rename to " + link);
    }
    link_ = link;
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace quendril::lineemu
