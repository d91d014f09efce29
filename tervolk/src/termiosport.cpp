#include "termiosport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/eventfd.h>
#endif

#include "tervolk.h"

namespace tvk {

namespace {

speed_t speedCode(unsigned bps) {
    switch (bps) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

// The UUCP lock file's name for a device's real path: "LCK.." and the path
// below /dev with '/' as '_' (/dev/pts/3 -> LCK..pts_3).
std::string lockFileName(const std::string& device) {
    std::string name = device;
    if (name.rfind("/dev/", 0) == 0) name.erase(0, 5);
    else if (!name.empty() && name[0] == '/') name.erase(0, 1);
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

// The PID a lock file names, 0 when it names none.
pid_t lockHolder(const std::string& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32] = {};
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    char* end = nullptr;
    long pid = std::strtol(text, &end, 10);
    return (end != text && pid > 0 && pid == pid_t(pid)) ? pid_t(pid) : 0;
}

// TVK_OK with `taken` naming the lock file created, left empty when the lock
// directory cannot be used (flock still guards the line); TVK_EBUSY when a
// live process holds the lock.
int takeLockFile(const std::string& device, std::string& taken) {
    const char* dir = std::getenv("TVK_LOCK_DIR");
    std::string file = std::string(dir && *dir ? dir : "/run/lock") + "/" + lockFileName(device);
    char text[16];
    int len = std::snprintf(text, sizeof text, "%10ld\n", long(::getpid()));
    // A stale lock removed here may be re-created by another process at once.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            bool written = ::write(fd, text, size_t(len)) == len;
            ::close(fd);
            if (written) taken = file;
            else ::unlink(file.c_str());
            return TVK_OK;
        }
        if (errno != EEXIST) return TVK_OK;
        pid_t holder = lockHolder(file);
        if (holder > 0 && (::kill(holder, 0) == 0 || errno == EPERM)) return TVK_EBUSY;
        // A dead holder's lock we may not remove (another user's, in a sticky
        // directory) guards nothing.
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) return TVK_OK;
    }
    return TVK_EBUSY;
}

void dropLockFile(std::string& file) {
    // Only our own: a forked child's copy of the port leaves its parent's.
    if (!file.empty() && lockHolder(file) == ::getpid()) ::unlink(file.c_str());
    file.clear();
}

}  // namespace

bool TermiosPort::speedSupported(unsigned bitsPerSecond) { return speedCode(bitsPerSecond) != B0; }

size_t unmarkErrors(uint8_t* buf, size_t n, int& state, bool& damaged) {
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = buf[i];
        if (state == 0) {
            if (c == 0xFF) state = 1;
            else buf[out++] = c;
        } else if (state == 1) {
            if (c == 0xFF) {
                buf[out++] = 0xFF;
                state = 0;
            } else {
                state = 2;
            }
        } else {
            buf[out++] = 0;
            damaged = true;
            state = 0;
        }
    }
    return out;
}

TermiosPort::TermiosPort() {
#ifdef __linux__
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
}

TermiosPort::~TermiosPort() {
    close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TermiosPort::interruptWait() {
    uint64_t one = 1;
    // A counter already raised stays raised: a failed write loses nothing.
    if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

int TermiosPort::open(const std::string& path, const SerialSettings& s) {
    close();
    // Other serial programs honour the lock file, not flock; it is taken
    // before the open, which may already change the line's modem signals.
    // Without a real path the open below fails and says why.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        int r = takeLockFile(real, lockFile_);
        std::free(real);
        if (r != TVK_OK) return r;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        dropLockFile(lockFile_);
        return (e == ENOENT || e == ENXIO || e == ENODEV || e == ENOTDIR) ? TVK_ENODEV : TVK_EBUSY;
    }
    struct termios t {};
    // A second user of the line would garble both: lock it for this process.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &t) != 0) {
        ::close(fd);
        dropLockFile(lockFile_);
        return TVK_EBUSY;
    }
    saved_ = t;
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= tcflag_t((s.sevenBits ? CS7 : CS8) | CREAD | CLOCAL);
    if (s.parity != 0) t.c_cflag |= tcflag_t(PARENB | (s.parity == 1 ? PARODD : 0));
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    // Damaged characters are marked (0xFF 0x00 c) rather than passed as data.
    t.c_iflag |= tcflag_t(PARMRK | (s.parity != 0 ? INPCK : 0));
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t sp = speedCode(s.bitsPerSecond);
    if (sp == B0 || cfsetispeed(&t, sp) != 0 || cfsetospeed(&t, sp) != 0 || tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        dropLockFile(lockFile_);
        return TVK_EBUSY;
    }
    // Only now: a failed open above must not leave the device exclusive.
#ifdef TIOCEXCL
    ioctl(fd, TIOCEXCL);
#endif
    // Stale input only; output is never discarded.
    tcflush(fd, TCIFLUSH);
    fd_ = fd;
    restore_ = true;
    marking_ = true;
    markState_ = 0;
    errors_ = 0;
    kernelCounters_ = true;
    noteKernelCounters();
    errors_ = 0;
    return TVK_OK;
}

void TermiosPort::close() {
    if (fd_ < 0) return;
    // The flag outlives this descriptor while anyone else (lineemu, a getty)
    // keeps the device open, and would then refuse every later open but root's.
#ifdef TIOCNXCL
    ioctl(fd_, TIOCNXCL);
#endif
    if (restore_) tcsetattr(fd_, TCSANOW, &saved_);
    ::close(fd_);
    fd_ = -1;
    dropLockFile(lockFile_);
}

long TermiosPort::readSome(uint8_t* buf, size_t cap) {
    if (fd_ < 0) return -1;
    ssize_t n = ::read(fd_, buf, cap);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    if (n == 0) return 0;
    if (!marking_) return n;
    bool damaged = false;
    size_t out = unmarkErrors(buf, size_t(n), markState_, damaged);
    if (damaged) {
        uint32_t before = errors_;
        noteKernelCounters();
        if (errors_ == before) errors_ |= TVK_ES_PARITY;
    }
    return long(out);
}

long TermiosPort::writeSome(const uint8_t* p, size_t n) {
    if (fd_ < 0) return -1;
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return w;
}

int TermiosPort::wait(bool wantWrite, int ms) {
    if (fd_ < 0) return -1;
    struct pollfd pfd[2] {};
    pfd[0].fd = fd_;
    pfd[0].events = short(POLLIN | (wantWrite ? POLLOUT : 0));
    pfd[1].fd = wakeFd_;
    pfd[1].events = POLLIN;
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    int r = ::poll(pfd, count, ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    if (r == 0 || tookWake(pfd[1].revents)) return 0;
    if (pfd[0].revents & (POLLERR | POLLNVAL)) return -1;
    int bits = 0;
    if (pfd[0].revents & POLLIN) bits |= kReadable;
    if (pfd[0].revents & POLLOUT) bits |= kWritable;
    if (bits == 0 && (pfd[0].revents & POLLHUP)) {
        // A pseudo-terminal whose other side is closed reports a hang-up:
        // treat it as silence, the peer may come back.
        pfd[0].fd = -1;
        if (::poll(pfd, count, ms) > 0) tookWake(pfd[1].revents);
    }
    return bits;
}

bool TermiosPort::tookWake(short revents) {
    if (!(revents & POLLIN)) return false;
    uint64_t count = 0;
    return ::read(wakeFd_, &count, sizeof count) == ssize_t(sizeof count);
}

uint32_t TermiosPort::takeLineErrors() {
    noteKernelCounters();
    uint32_t e = errors_;
    errors_ = 0;
    return e;
}

void TermiosPort::noteKernelCounters() {
#if defined(__linux__) && defined(TIOCGICOUNT)
    struct serial_icounter_struct ic {};
    if (fd_ < 0 || !kernelCounters_) return;
    if (ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
        // Pseudo-terminals and some adapters keep none: one system call
        // less for every read.
        kernelCounters_ = errno != ENOTTY && errno != EINVAL;
        return;
    }
    if (ic.frame != countFrame_ || ic.brk != countBreak_) errors_ |= TVK_ES_FRAMING;
    if (ic.parity != countParity_) errors_ |= TVK_ES_PARITY;
    if (ic.overrun != countOverrun_ || ic.buf_overrun != countBufOverrun_) errors_ |= TVK_ES_OVERRUN;
    countFrame_ = ic.frame;
    countBreak_ = ic.brk;
    countParity_ = ic.parity;
    countOverrun_ = ic.overrun;
    countBufOverrun_ = ic.buf_overrun;
#endif
}

}  // namespace tvk
